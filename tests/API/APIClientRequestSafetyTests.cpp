// What a request never does, whatever the token or the server's answer holds: carry a header the
// client did not mean to send, follow a redirect, or fail with a blank error text.

#include "API/APIClient.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APIError.h"
#include "API/APITestSupport.h"
#include "CannedHttpServer.h"
#include "Models/DecodingError.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using test::expectAPIError;
using Kind = APIError::Kind;

// Every kind of request the client builds, each with its own way to the header.
std::vector<std::pair<std::string, std::function<void(APIClient&)>>>
everyRequest(const std::filesystem::path& folder)
{
    return {
        {"GET", [](APIClient& client) { client.listFolders(); }},
        {"POST", [](APIClient& client) { client.createFolder("Docs"); }},
        {"chunk", [](APIClient& client) { client.uploadChunk("u", "data"); }},
        {"chunk from file",
         [folder](APIClient& client) {
             test::writeFileContents(folder / "upload.bin", "data");
             client.uploadChunkFromFile("u", folder / "upload.bin");
         }},
        {"download", [](APIClient& client) { client.download(std::string(64, 'a')); }},
        {"download to file",
         [folder](APIClient& client) {
             client.downloadToFile(std::string(64, 'a'), folder / "download.bin");
         }},
    };
}

class APIClientRequestSafety : public testing::Test {
protected:
    test::TempHome home;
    test::TempDir files;
};

TEST_F(APIClientRequestSafety, ATokenWithAControlCharacterIsRefusedBeforeAnythingIsSent)
{
    test::ServerProcess server;
    APIClient client(server.baseURL());
    client.setToken(server.signIn("ada@example.com"));
    client.listFolders();
    const nlohmann::json before = server.lastRequest();

    const std::vector<std::string> tokens = {"abc\r\nX-Injected: 1",
                                             "abc\nX-Injected: 1",
                                             "abc\r",
                                             "a\tb",
                                             std::string("a\0b", 3),
                                             "a\x7f",
                                             "\x1b[0m"};
    for (const std::string& token : tokens) {
        client.setToken(token);
        for (const auto& [name, call] : everyRequest(files.path())) {
            SCOPED_TRACE(name + " with " + testing::PrintToString(token));
            expectAPIError([&, &call = call] { call(client); }, Kind::unauthorized,
                           "Session expired, please log in again");
        }
    }
    EXPECT_EQ(server.lastRequest(), before);
    EXPECT_FALSE(std::filesystem::exists(files.path() / "download.bin"));
}

TEST_F(APIClientRequestSafety, AVerifyAnswerWhoseTokenCouldEndAHeaderIsRefused)
{
    test::ServerProcess server;
    APIClient client(server.baseURL());
    const std::string email = "grace@example.com";
    client.sendCode(email);
    server.injectFault(
        {{"path_prefix", "/api/auth/verify"},
         {"patch", {{{"op", "replace"}, {"path", "/token"}, {"value", "abc\r\nX-Injected: 1"}}}}});
    try {
        client.verify(email, server.latestCode(email));
        ADD_FAILURE() << "no error";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.codingPath(), "token");
        EXPECT_EQ(error.localizedDescription(),
                  "type mismatch: expected a token without control characters at token");
    }
}

TEST_F(APIClientRequestSafety, RedirectsAreNeverFollowed)
{
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        test::CannedHttpServer server([&](const std::string& target) {
            if (target.starts_with("/elsewhere")) {
                return std::string("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                   "Content-Length: 2\r\nConnection: close\r\n\r\n[]");
            }
            const std::string body = R"({"id":"1"})";
            return "HTTP/1.1 " + std::to_string(status) +
                   " Moved\r\nLocation: /elsewhere\r\nContent-Type: application/json\r\n"
                   "Content-Length: " +
                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        });
        APIClient client(server.baseURL());
        client.setToken("t0k3n");
        const std::string text =
            "Unexpected redirect from the server (HTTP " + std::to_string(status) + ")";
        for (const auto& [name, call] : everyRequest(files.path())) {
            SCOPED_TRACE(name);
            const bool jsonCall = name == "GET" || name == "POST";
            try {
                call(client);
                ADD_FAILURE() << "no error";
            } catch (const APIError& error) {
                EXPECT_EQ(error.kind(), jsonCall ? Kind::serverError : Kind::requestFailed);
                EXPECT_EQ(error.localizedDescription(), jsonCall ? text : "Request failed");
                if (jsonCall) {
                    EXPECT_EQ(error.httpStatus(), status);
                }
            }
        }
        for (const std::string& line : server.requestLines()) {
            EXPECT_EQ(line.find("/elsewhere"), std::string::npos) << line;
        }
        EXPECT_EQ(server.requestLines().size(), everyRequest(files.path()).size());
    }
}

}  // namespace
}  // namespace corvane
