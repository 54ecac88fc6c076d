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

// A folder "Docs" holding one file, and the tree request for it.
class ServerAnswerFaults : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        m_folderId = createFolder("Docs")["id"];
        m_file = upload(m_folderId, "/a.txt", "hello");
    }

    std::string treePath() const { return "/api/folders/" + m_folderId + "/tree"; }

    nlohmann::json tree() const
    {
        const auto response = get(treePath());
        EXPECT_EQ(response.status, 200) << response.body;
        return nlohmann::json::parse(response.body, nullptr, false);
    }

    std::string m_folderId;
    nlohmann::json m_file;
};

TEST_F(ServerAnswerFaults, PatchGivesWrongTypesOnceThenTheRealAnswerAgain)
{
    const auto real = tree();
    m_server.injectFault({{"path_prefix", treePath()},
                          {"patch",
                           {{{"op", "replace"}, {"path", "/files/0/size"}, {"value", "5"}},
                            {{"op", "remove"}, {"path", "/files/0/version"}}}}});
    auto patched = tree();
    EXPECT_EQ(patched["files"][0]["size"], "5");
    EXPECT_FALSE(patched["files"][0].contains("version"));
    patched["files"][0]["size"] = 5;
    patched["files"][0]["version"] = real["files"][0]["version"];
    EXPECT_EQ(patched, real);  // nothing else changed
    EXPECT_EQ(tree(), real);
}

TEST_F(ServerAnswerFaults, PatchNamesPathsOutsideTheFolderWithTheRealContent)
{
    for (const std::string path : {"../../etc/x", "/../x", "a/../../x", "/tmp/../../x",
                                   "/Sub/../../../x", "/.corvane/sync_state.json"}) {
        m_server.injectFault(
            {{"path_prefix", treePath()},
             {"method", "GET"},
             {"patch", {{{"op", "replace"}, {"path", "/files/0/path"}, {"value", path}}}}});
        const auto file = tree()["files"][0];
        EXPECT_EQ(file["path"], path);
        EXPECT_EQ(file["hash"], m_file["hash"]);  // the content can still be downloaded
        const auto content = get("/api/sync/download/" + file["hash"].get<std::string>());
        EXPECT_EQ(content.body, "hello");
    }
}

TEST_F(ServerAnswerFaults, PatchAddsAFileTheServerDoesNotHold)
{
    auto extra = m_file;
    extra["id"] = "extra";
    extra["path"] = "/../../outside.txt";
    m_server.injectFault({{"path_prefix", treePath()},
                          {"patch", {{{"op", "add"}, {"path", "/files/-"}, {"value", extra}}}}});
    const auto files = tree()["files"];
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1], extra);
}

TEST_F(ServerAnswerFaults, PatchThatCannotApplySaysWhyAndErrorAnswersStayAsTheyAre)
{
    m_server.injectFault(
        {{"path_prefix", treePath()},
         {"patch", {{{"op", "replace"}, {"path", "/files/7/size"}, {"value", 1}}}}});
    const auto missing = get(treePath());
    EXPECT_EQ(missing.status, 500);
    EXPECT_NE(missing.body.find("fault patch failed"), std::string::npos) << missing.body;

    m_server.injectFault(
        {{"path_prefix", "/api/sync/download/"}, {"patch", {{{"op", "remove"}, {"path", "/x"}}}}});
    const auto content = get("/api/sync/download/" + m_file["hash"].get<std::string>());
    EXPECT_EQ(content.status, 500);
    EXPECT_NE(content.body.find("not JSON"), std::string::npos) << content.body;

    // A 404 is not a 2xx answer: left alone, and the fault is used up all the same.
    m_server.injectFault({{"path_prefix", "/api/folders/"}, {"malformed_json", true}});
    const auto notFound = get("/api/folders/nope/tree");
    EXPECT_EQ(notFound.status, 404);
    EXPECT_TRUE(isJsonError(notFound));
    EXPECT_EQ(get(treePath()).status, 200);
}

TEST_F(ServerAnswerFaults, MalformedJsonCutsTheRealAnswerInHalf)
{
    const std::string real = get(treePath()).body;
    m_server.injectFault({{"path_prefix", "/api/folders/"}, {"malformed_json", true}});
    const auto answer = get(treePath());
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.headers.at("content-type"), "application/json");
    EXPECT_EQ(answer.body, real.substr(0, real.size() / 2));
    EXPECT_TRUE(nlohmann::json::parse(answer.body, nullptr, false).is_discarded());
}

TEST_F(ServerAnswerFaults, CorruptContentNoLongerMatchesItsHash)
{
    const std::string hash = m_file["hash"];
    m_server.injectFault({{"path_prefix", "/api/sync/download/"}, {"corrupt_content", true}});
    const auto corrupted = get("/api/sync/download/" + hash);
    EXPECT_EQ(corrupted.status, 200);
    EXPECT_EQ(corrupted.body.size(), 5u);
    EXPECT_NE(sha256Hex(corrupted.body), hash);
    EXPECT_EQ(corrupted.body.substr(1), "ello");
    EXPECT_EQ(get("/api/sync/download/" + hash).body, "hello");

    const std::string empty = upload(m_folderId, "/empty", "")["hash"];
    m_server.injectFault({{"path_prefix", "/api/sync/download/"}, {"corrupt_content", true}});
    EXPECT_EQ(get("/api/sync/download/" + empty).body, "!");
}

TEST_F(ServerFaults, BadFaultsAreRefused)
{
    const nlohmann::json replace = {{"op", "replace"}, {"path", "/a"}, {"value", 1}};
    for (const nlohmann::json& fault :
         {nlohmann::json::object(),
          nlohmann::json{{"path_prefix", 1}},
          nlohmann::json{{"path_prefix", "/"}, {"status", 42}},
          nlohmann::json{{"path_prefix", "/"}, {"count", 0}},
          nlohmann::json{{"path_prefix", "/"}, {"body_base64", "***"}},
          nlohmann::json{{"path_prefix", "/"}, {"cut", "yes"}},
          nlohmann::json{{"path_prefix", "/"}, {"patch", replace}},
          nlohmann::json{{"path_prefix", "/"}, {"patch", {"replace"}}},
          nlohmann::json{{"path_prefix", "/"}, {"patch", {replace}}, {"status", 200}},
          nlohmann::json{{"path_prefix", "/"}, {"malformed_json", true}, {"body", "x"}},
          nlohmann::json{{"path_prefix", "/"}, {"corrupt_content", true}, {"cut", true}},
          nlohmann::json{{"path_prefix", "/"}, {"malformed_json", 1}},
          nlohmann::json{{"path_prefix", "/"}, {"push", "not_json"}},
          nlohmann::json{{"path_prefix", "/"}, {"push", nlohmann::json::object()}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"kind", "huge"}, {"text", "x"}}}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"kind", "garbage"}}}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"kind", "huge"}, {"size", 63}}}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"kind", "huge"}, {"size", 33554433}}}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"kind", "no_event"}, {"size", 100}}}},
          nlohmann::json{{"path_prefix", "/"}, {"push", {{"text", 5}}}}}) {
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

    // Test routes are not recorded or counted; a chunk upload is, with its multipart body.
    m_server.clearFaults();
    EXPECT_EQ(m_server.lastRequest()["target"], "/api/folders?x=a%20b&y=+");
    EXPECT_EQ(m_server.lastRequest()["number"], last["number"]);
    const std::string docs = createFolder("Docs")["id"];
    const auto init = uploadInit(docs, "a", "bytes");
    uploadChunk(init["upload_id"], "bytes", "B0UNDARY");
    const auto chunk = m_server.lastRequest();
    EXPECT_EQ(chunk["number"], last["number"].get<int>() + 3);
    EXPECT_EQ(chunk["target"], "/api/sync/upload/chunk");
    EXPECT_EQ(chunk["headers"]["content-type"], "multipart/form-data; boundary=B0UNDARY");
    EXPECT_EQ(chunk["body"], multipartBody("B0UNDARY", init["upload_id"], "bytes"));
}

TEST_F(ServerFaults, LastRequestNeverHandsOutCredentials)
{
    struct Case {
        std::string sent;
        std::string recorded;
    };
    const Case cases[] = {
        {"Bearer " + m_token, "Bearer <redacted>"},
        {"bearer " + m_token, "bearer <redacted>"},
        {"Basic YWRhOnNlY3JldA==", "Basic <redacted>"},
        {"Bearer", "Bearer"},  // no credentials: nothing to hide
    };
    for (const auto& c : cases) {
        httpRequest("GET", m_server.baseURL() + "/api/folders", {}, {"Authorization: " + c.sent});
        const auto raw = httpRequest("GET", m_server.baseURL() + "/__test/last-request");
        ASSERT_EQ(raw.status, 200);
        EXPECT_EQ(raw.body.find(m_token), std::string::npos) << raw.body;
        const auto record = nlohmann::json::parse(raw.body);
        EXPECT_EQ(record["headers"]["authorization"], c.recorded) << c.sent;
        EXPECT_EQ(record["authorization_sha256"], sha256Hex(c.sent)) << c.sent;
    }
    httpRequest("GET", m_server.baseURL() + "/health");
    EXPECT_FALSE(m_server.lastRequest().contains("authorization_sha256"));
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
