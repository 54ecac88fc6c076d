#include <chrono>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ServerTestSupport.h"

namespace corvane::test {
namespace {

using ServerFaults = ServerTest;

TEST_F(ServerFaults, StatusFaultHitsCountMatchingRequestsBeforeAuthentication)
{
    m_server.injectFault({{"path_prefix", "/api/folders"},
                          {"method", "GET"},
                          {"count", 2},
                          {"status", 503},
                          {"body", "try later"},
                          {"content_type", "text/plain"}});
    // Another method does not match.
    EXPECT_EQ(post("/api/folders", {{"name", "A"}}).status, 201);
    for (int i = 0; i < 2; ++i) {
        const auto hit = httpRequest("GET", m_server.baseURL() + "/api/folders");  // no token
        EXPECT_EQ(hit.status, 503);
        EXPECT_EQ(hit.body, "try later");
        EXPECT_EQ(hit.headers.at("content-type"), "text/plain");
    }
    EXPECT_EQ(get("/api/folders").status, 200);
}

TEST_F(ServerFaults, Base64BodyIsSentByteForByte)
{
    m_server.injectFault(
        {{"path_prefix", "/health"}, {"status", 500}, {"body_base64", "//7/AA=="}});
    const auto hit = httpRequest("GET", m_server.baseURL() + "/health");
    EXPECT_EQ(hit.status, 500);
    EXPECT_EQ(hit.body, std::string("\xff\xfe\xff\x00", 4));
}

TEST_F(ServerFaults, StatusWithoutBodyAnswersJsonErrorAndEmptyBodyStaysEmpty)
{
    m_server.injectFault({{"path_prefix", "/health"}, {"status", 500}});
    const auto json = httpRequest("GET", m_server.baseURL() + "/health");
    EXPECT_EQ(json.status, 500);
    EXPECT_TRUE(isJsonError(json));
    m_server.injectFault({{"path_prefix", "/health"}, {"status", 404}, {"body", ""}});
    const auto empty = httpRequest("GET", m_server.baseURL() + "/health");
    EXPECT_EQ(empty.status, 404);
    EXPECT_EQ(empty.body, "");
}

TEST_F(ServerFaults, DelayAnswersLateButNormally)
{
    m_server.injectFault({{"path_prefix", "/health"}, {"delay_ms", 300}});
    const auto started = std::chrono::steady_clock::now();
    const auto answer = httpRequest("GET", m_server.baseURL() + "/health");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_EQ(answer.status, 200);
}

TEST_F(ServerFaults, CutDropsTheConnectionMidAnswer)
{
    m_server.injectFault({{"path_prefix", "/api/sync/download/"}, {"cut", true}});
    const auto answer = get("/api/sync/download/" + sha256Hex("x"));
    EXPECT_EQ(answer.status, 0);
    EXPECT_FALSE(answer.transportError.empty());
    // The next request is served again.
    EXPECT_EQ(get("/api/folders").status, 200);
}

TEST_F(ServerFaults, ClearRemovesEveryFault)
{
    m_server.injectFault({{"path_prefix", "/"}, {"status", 500}, {"count", 100}});
    m_server.clearFaults();
    EXPECT_EQ(get("/api/folders").status, 200);
}

TEST_F(ServerFaults, BadFaultsAreRefused)
{
    for (const nlohmann::json& fault :
         {nlohmann::json::object(), nlohmann::json{{"path_prefix", 1}},
          nlohmann::json{{"path_prefix", "/"}, {"status", 42}},
          nlohmann::json{{"path_prefix", "/"}, {"count", 0}},
          nlohmann::json{{"path_prefix", "/"}, {"body_base64", "***"}},
          nlohmann::json{{"path_prefix", "/"}, {"cut", "yes"}}}) {
        const auto response = httpRequest("POST", m_server.baseURL() + "/__test/faults",
                                          fault.dump(), {"Content-Type: application/json"});
        EXPECT_EQ(response.status, 400) << fault.dump();
        EXPECT_TRUE(isJsonError(response));
    }
}

TEST_F(ServerFaults, LastRequestRecordsTheRawRequest)
{
    const auto response =
        httpRequest("POST", m_server.baseURL() + "/api/folders?x=a%20b&y=+", "{\"name\":\"N\"}",
                    {"Authorization: Bearer " + m_token, "Content-Type: application/json",
                     "X-Mixed-Case: Value"});
    ASSERT_EQ(response.status, 201);
    const auto last = m_server.lastRequest();
    EXPECT_EQ(last["method"], "POST");
    EXPECT_EQ(last["target"], "/api/folders?x=a%20b&y=+");
    EXPECT_EQ(last["headers"]["authorization"], "Bearer " + m_token);
    EXPECT_EQ(last["headers"]["content-type"], "application/json");
    EXPECT_EQ(last["headers"]["x-mixed-case"], "Value");
    EXPECT_EQ(last["body"], "{\"name\":\"N\"}");

    // Test routes are not recorded; a chunk upload is, with its multipart body.
    m_server.clearFaults();
    EXPECT_EQ(m_server.lastRequest()["target"], "/api/folders?x=a%20b&y=+");
    const std::string docs = createFolder("Docs")["id"];
    const auto init = uploadInit(docs, "a", "bytes");
    uploadChunk(init["upload_id"], "bytes", "B0UNDARY");
    const auto chunk = m_server.lastRequest();
    EXPECT_EQ(chunk["target"], "/api/sync/upload/chunk");
    EXPECT_EQ(chunk["headers"]["content-type"], "multipart/form-data; boundary=B0UNDARY");
    EXPECT_EQ(chunk["body"], multipartBody("B0UNDARY", init["upload_id"], "bytes"));
}

TEST(ServerFaultsOff, TestRoutesExistOnlyWithTheFlag)
{
    ServerProcess server(ServerOptions{false, "relative", {}});
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/__test/last-request").status, 404);
    EXPECT_EQ(
        httpRequest("POST", server.baseURL() + "/__test/faults", "{\"path_prefix\":\"/\"}").status,
        404);
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/health").status, 200);
}

TEST(ServerLastRequest, NotFoundBeforeAnyRequest)
{
    ServerProcess server;
    EXPECT_EQ(httpRequest("GET", server.baseURL() + "/__test/last-request").status, 404);
}

}  // namespace
}  // namespace corvane::test
