#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ServerTestSupport.h"

namespace corvane::test {
namespace {

const std::vector<std::string> kJson{"Content-Type: application/json"};

HttpResponse sendCode(const ServerProcess& server, const std::string& email)
{
    return httpRequest("POST", server.baseURL() + "/api/auth/send-code",
                       nlohmann::json{{"email", email}}.dump(), kJson);
}

HttpResponse verify(const ServerProcess& server, const std::string& email, const std::string& code)
{
    return httpRequest("POST", server.baseURL() + "/api/auth/verify",
                       nlohmann::json{{"email", email}, {"code", code}}.dump(), kJson);
}

void advanceClock(const ServerProcess& server, int seconds)
{
    const auto response = httpRequest("POST", server.baseURL() + "/__test/clock",
                                      nlohmann::json{{"advance_seconds", seconds}}.dump(), kJson);
    ASSERT_EQ(response.status, 200);
}

// Stops the server's clock, so that waits compared to the second do not depend on how fast the
// requests of a test follow each other.
void freezeClock(const ServerProcess& server)
{
    const auto response = httpRequest("POST", server.baseURL() + "/__test/clock",
                                      nlohmann::json{{"freeze", true}}.dump(), kJson);
    ASSERT_EQ(response.status, 200);
}

std::string wrongCode(const std::string& code)
{
    return code == "000000" ? "111111" : "000000";
}

TEST(ServerAuth, HealthAnswersWithoutToken)
{
    ServerProcess server;
    const auto response = httpRequest("GET", server.baseURL() + "/health");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(nlohmann::json::parse(response.body), (nlohmann::json{{"status", "ok"}}));
}

TEST(ServerAuth, SignInCreatesUserAndTokenAuthorises)
{
    ServerProcess server;
    const auto sent = sendCode(server, "bob@example.com");
    ASSERT_EQ(sent.status, 200);
    const auto sentJson = nlohmann::json::parse(sent.body);
    ASSERT_TRUE(sentJson.is_object());
    for (const auto& [key, value] : sentJson.items()) {
        EXPECT_TRUE(value.is_string()) << key;
    }
    const std::string code = server.latestCode("bob@example.com");
    ASSERT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);

    const auto verified = verify(server, "bob@example.com", code);
    ASSERT_EQ(verified.status, 200) << verified.body;
    const auto answer = nlohmann::json::parse(verified.body);
    const std::string token = answer.at("token");
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(answer.at("user").at("email"), "bob@example.com");
    EXPECT_TRUE(answer.at("user").at("id").is_string());
    EXPECT_TRUE(answer.at("user").at("name").is_string());

    const auto folders = httpRequest("GET", server.baseURL() + "/api/folders", {},
                                     {"Authorization: Bearer " + token});
    EXPECT_EQ(folders.status, 200);
    EXPECT_EQ(folders.body, "[]");

    // A code signs in once.
    EXPECT_EQ(verify(server, "bob@example.com", code).status, 401);
    // The same account comes back on the next sign-in.
    const std::string again = server.signIn("bob@example.com");
    const auto second = httpRequest("GET", server.baseURL() + "/api/folders", {},
                                    {"Authorization: Bearer " + again});
    EXPECT_EQ(second.status, 200);
}

TEST(ServerAuth, WrongCodeIsRefusedWithJsonError)
{
    ServerProcess server;
    ASSERT_EQ(sendCode(server, "c@example.com").status, 200);
    const auto refused =
        verify(server, "c@example.com", wrongCode(server.latestCode("c@example.com")));
    EXPECT_EQ(refused.status, 401);
    EXPECT_TRUE(isJsonError(refused)) << refused.body;
    EXPECT_EQ(verify(server, "nobody@example.com", "123456").status, 401);
}

TEST(ServerAuth, CodeExpiresAfterTenMinutes)
{
    ServerProcess server;
    freezeClock(server);
    ASSERT_EQ(sendCode(server, "d@example.com").status, 200);
    advanceClock(server, 9 * 60 + 50);
    EXPECT_EQ(verify(server, "d@example.com", server.latestCode("d@example.com")).status, 200);

    ASSERT_EQ(sendCode(server, "d@example.com").status, 200);
    advanceClock(server, 10 * 60);
    const auto expired = verify(server, "d@example.com", server.latestCode("d@example.com"));
    EXPECT_EQ(expired.status, 401);
    EXPECT_TRUE(isJsonError(expired));
}

// A refusal the client shows its user as it is: status 429, a plain sentence, "Retry-After".
void expectTooManyRequests(const HttpResponse& response, const std::string& text,
                           const std::string& retryAfter)
{
    EXPECT_EQ(response.status, 429);
    EXPECT_EQ(response.body, text);
    EXPECT_EQ(response.headers.count("content-type") ? response.headers.at("content-type") : "",
              "text/plain; charset=utf-8");
    EXPECT_EQ(response.headers.count("retry-after") ? response.headers.at("retry-after") : "",
              retryAfter);
}

TEST(ServerAuth, WrongCodesCountAcrossCodesAndLockTheAddress)
{
    ServerProcess server;
    freezeClock(server);
    const std::string email = "e@example.com";
    ASSERT_EQ(sendCode(server, email).status, 200);
    const std::string code = server.latestCode(email);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(verify(server, email, wrongCode(code)).status, 401);
    }
    // Four wrong tries leave the code usable, and a sign-in clears the count.
    EXPECT_EQ(verify(server, email, code).status, 200);

    ASSERT_EQ(sendCode(server, email).status, 200);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(verify(server, email, wrongCode(server.latestCode(email))).status, 401);
    }
    // A new code does not start the count again: the fifth wrong one locks the address.
    advanceClock(server, 30);
    ASSERT_EQ(sendCode(server, email).status, 200);
    const std::string third = server.latestCode(email);
    EXPECT_EQ(verify(server, email, wrongCode(third)).status, 401);
    const std::string locked = "Too many wrong sign-in codes were entered for this address. "
                               "Please wait 1 minute before trying again.";
    expectTooManyRequests(verify(server, email, third), locked, "60");
    expectTooManyRequests(sendCode(server, email), locked, "60");
    // Another address is not locked.
    EXPECT_EQ(server.signIn("other@example.com").size(), 64u);

    advanceClock(server, 60);
    EXPECT_EQ(verify(server, email, third).status, 200);
}

TEST(ServerAuth, CodeRequestsForOneAddressComeAtMostEveryThirtySeconds)
{
    ServerProcess server;
    freezeClock(server);
    ASSERT_EQ(sendCode(server, "f@example.com").status, 200);
    advanceClock(server, 10);
    expectTooManyRequests(sendCode(server, "f@example.com"),
                          "A sign-in code was sent to this address moments ago. Please wait 20 "
                          "seconds before asking for a new one.",
                          "20");
    EXPECT_EQ(sendCode(server, "g@example.com").status, 200);
    advanceClock(server, 20);
    EXPECT_EQ(sendCode(server, "F@example.com").status, 200);
}

TEST(ServerAuth, AClientFailingAgainstManyAddressesIsHeldBack)
{
    ServerProcess server;
    freezeClock(server);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(verify(server, "u" + std::to_string(i) + "@example.com", "123456").status, 401);
    }
    ASSERT_EQ(sendCode(server, "fresh@example.com").status, 200);
    expectTooManyRequests(
        verify(server, "fresh@example.com", server.latestCode("fresh@example.com")),
        "Too many failed sign-in attempts came from your network. Please wait 1 "
        "minute before trying again.",
        "60");
}

TEST(ServerAuth, GuessesSentTogetherCannotPassTheLimit)
{
    ServerProcess server;
    ASSERT_EQ(sendCode(server, "h@example.com").status, 200);
    const std::string wrong = wrongCode(server.latestCode("h@example.com"));
    std::map<long, int> statuses;
    std::mutex mutex;
    {
        std::vector<std::jthread> guessers;
        for (int t = 0; t < 8; ++t) {
            guessers.emplace_back([&] {
                for (int i = 0; i < 10; ++i) {
                    const long status = verify(server, "h@example.com", wrong).status;
                    const std::lock_guard lock(mutex);
                    ++statuses[status];
                }
            });
        }
    }
    EXPECT_EQ(statuses, (std::map<long, int>{{401, 5}, {429, 75}}));
}

TEST(ServerAuth, BadSignInBodiesAreRefusedWithJson)
{
    ServerProcess server;
    const std::vector<std::string> bodies{"",
                                          "{",
                                          "[]",
                                          "{\"email\":5}",
                                          "{}",
                                          "{\"email\":\"no-at-sign\"}",
                                          "{\"email\":\"a b@example.com\"}",
                                          "{\"email\":\"x@example.com\\nevil 123456\"}"};
    for (const auto& body : bodies) {
        const auto response =
            httpRequest("POST", server.baseURL() + "/api/auth/send-code", body, kJson);
        EXPECT_EQ(response.status, 400) << body;
        EXPECT_TRUE(isJsonError(response)) << body << " -> " << response.body;
    }
    const auto verifyTypes = httpRequest("POST", server.baseURL() + "/api/auth/verify",
                                         "{\"email\":\"a@b.c\",\"code\":123456}", kJson);
    EXPECT_EQ(verifyTypes.status, 400);
}

TEST(ServerAuth, ApiRoutesNeedAValidBearerToken)
{
    ServerProcess server;
    const std::vector<std::vector<std::string>> headerSets{{},
                                                           {"Authorization: Bearer "},
                                                           {"Authorization: Bearer nonsense"},
                                                           {"Authorization: Basic abc"}};
    const std::vector<std::pair<std::string, std::string>> routes{
        {"GET", "/api/folders"},
        {"POST", "/api/folders"},
        {"GET", "/api/files?folder_id=x"},
        {"POST", "/api/sync/upload/init"},
        {"POST", "/api/sync/upload/chunk"},
        {"GET", "/api/sync/download/abc"},
        {"POST", "/api/sync/delete"},
        {"GET", "/api/sync/events"},
        {"GET", "/api/folders/x/tree"}};
    for (const auto& headers : headerSets) {
        for (const auto& [method, path] : routes) {
            const auto response =
                httpRequest(method, server.baseURL() + path, method == "POST" ? "{}" : "", headers);
            EXPECT_EQ(response.status, 401) << method << " " << path;
            EXPECT_TRUE(isJsonError(response)) << method << " " << path;
        }
    }
}

TEST(ServerAuth, UnknownRoutesAnswerNotFound)
{
    ServerProcess server;
    for (const std::string path : {"/", "/api", "/api/nothing", "/health/extra", "/api/folders/"}) {
        const auto response = httpRequest("GET", server.baseURL() + path);
        EXPECT_EQ(response.status, 404) << path;
        EXPECT_EQ(nlohmann::json::parse(response.body), (nlohmann::json{{"error", "not found"}}));
    }
    const auto wrongMethod = httpRequest("DELETE", server.baseURL() + "/health");
    EXPECT_TRUE(wrongMethod.status == 405 || wrongMethod.status == 404);
    EXPECT_TRUE(isJsonError(wrongMethod));
}

}  // namespace
}  // namespace corvane::test
