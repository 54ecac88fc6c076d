#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "RawConnection.h"
#include "ServerTestSupport.h"
#include "support/PollUntil.h"

namespace corvane::test {
namespace {

// The head of a raw chunk upload request of `length` body bytes, with these extra header lines.
std::string uploadHead(std::uint64_t length, const std::string& extraHeaders)
{
    return "POST /api/sync/upload/chunk HTTP/1.1\r\nHost: x\r\n" + extraHeaders +
           "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: " +
           std::to_string(length) + "\r\n\r\n";
}

// The multipart body up to the content of its data part.
std::string dataPartHead(const std::string& uploadId)
{
    const std::string body = multipartBody("B", uploadId, "");
    return body.substr(0, body.size() - std::string("\r\n--B--\r\n").size());
}

// Sends `bytes` one at a time, `gap` apart, until the server closes the connection or `limit`
// passes; returns how long that took.
std::chrono::milliseconds trickle(RawConnection& connection, const std::string& bytes,
                                  std::chrono::milliseconds gap, std::chrono::milliseconds limit)
{
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
    for (std::size_t i = 0; !connection.closedByServer() && elapsed() < limit; ++i) {
        connection.send(bytes.substr(i % bytes.size(), 1));
        connection.readUntilClosed(gap);
    }
    return elapsed();
}

class ServerRobustness : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        m_docs = createFolder("Docs")["id"];
    }

    std::size_t filesIn(const std::filesystem::path& folder) const
    {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }

    std::string integrityCheck() const
    {
        sqlite3* raw = nullptr;
        const auto file = m_server.dataDir() / "corvane.db";
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        std::unique_ptr<sqlite3, decltype(&sqlite3_close)> database(raw, sqlite3_close);
        std::string result;
        sqlite3_exec(
            raw, "PRAGMA integrity_check",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) += values[0] ? values[0] : "";
                return 0;
            },
            &result, nullptr);
        return result;
    }

    // Every file the server lists downloads with exactly the content of its hash.
    void expectEveryFileDownloads() const
    {
        const auto tree = nlohmann::json::parse(get("/api/folders/" + m_docs + "/tree").body);
        for (const auto& file : tree["files"]) {
            const auto download = get("/api/sync/download/" + file["hash"].get<std::string>());
            EXPECT_EQ(download.status, 200) << file.dump();
            EXPECT_EQ(sha256Hex(download.body), file["hash"]) << file.dump();
        }
    }

    std::string m_docs;
};

TEST_F(ServerRobustness, StateSurvivesARestart)
{
    const auto file = upload(m_docs, "Sub/a.txt", "kept");
    const auto eventsBefore = get("/api/sync/events").body;
    m_server.restart();

    const auto tree = nlohmann::json::parse(get("/api/folders/" + m_docs + "/tree").body);
    ASSERT_EQ(tree["files"].size(), 1u);
    EXPECT_EQ(tree["files"][0], file);
    EXPECT_EQ(get("/api/sync/download/" + sha256Hex("kept")).body, "kept");
    EXPECT_EQ(get("/api/sync/events").body, eventsBefore);
    // A pending upload survives as well.
    const auto init = uploadInit(m_docs, "b.txt", "later");
    m_server.restart();
    EXPECT_EQ(uploadChunk(init["upload_id"], "later").status, 200);
}

TEST_F(ServerRobustness, KillDuringUploadLeavesNoBlobAndAConsistentDatabase)
{
    const std::string content(4 * 1024 * 1024, 'k');
    const std::string hash = sha256Hex(content);
    const auto init = uploadInit(m_docs, "big.bin", content);
    const std::string body = multipartBody("B", init["upload_id"], content);
    {
        RawConnection connection(m_server.port());
        connection.send(
            "POST /api/sync/upload/chunk HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + m_token +
            "\r\nContent-Type: multipart/form-data; boundary=B\r\n" + "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, body.size() / 2));
        // Wait until the content is being written to its temp file, then pull the plug.
        test::pollUntil([&] { return filesIn(m_server.dataDir() / "tmp") != 0; });
        ASSERT_EQ(filesIn(m_server.dataDir() / "tmp"), 1u);
        m_server.kill();
    }
    EXPECT_FALSE(std::filesystem::exists(m_server.dataDir() / "blobs" / hash.substr(0, 2) / hash));
    EXPECT_EQ(integrityCheck(), "ok");

    m_server.restart();
    EXPECT_EQ(filesIn(m_server.dataDir() / "tmp"), 0u);  // stray temp files are cleaned
    EXPECT_TRUE(
        nlohmann::json::parse(get("/api/folders/" + m_docs + "/tree").body)["files"].empty());
    EXPECT_EQ(get("/api/sync/download/" + hash).status, 404);
    // The upload can be finished after the restart.
    EXPECT_EQ(uploadChunk(init["upload_id"], content).status, 200);
    EXPECT_EQ(get("/api/sync/download/" + hash).body, content);
}

TEST_F(ServerRobustness, KillAmidUploadsKeepsEveryListedFileDownloadable)
{
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    std::jthread uploader([&] {
        for (int i = 0; !stop; ++i) {
            const std::string content = "content " + std::to_string(i) + std::string(i * 97, 'z');
            const auto init = post("/api/sync/upload/init", {{"path", "f" + std::to_string(i % 7)},
                                                             {"folder_id", m_docs},
                                                             {"hash", sha256Hex(content)},
                                                             {"size", content.size()},
                                                             {"base_version", 0}});
            const auto json = nlohmann::json::parse(init.body, nullptr, false);
            if (init.status != 200 || !json.contains("upload_id")) {
                return;  // the server is gone
            }
            if (uploadChunk(json["upload_id"], content).status != 200) {
                return;
            }
            ++done;
        }
    });
    test::pollUntil([&] { return done >= 15; }, std::chrono::seconds(10));
    m_server.kill();
    stop = true;
    uploader.join();
    EXPECT_EQ(integrityCheck(), "ok");
    m_server.restart();
    EXPECT_EQ(filesIn(m_server.dataDir() / "tmp"), 0u);
    expectEveryFileDownloads();
    EXPECT_FALSE(
        nlohmann::json::parse(get("/api/folders/" + m_docs + "/tree").body)["files"].empty());
}

TEST_F(ServerRobustness, MalformedJsonBodiesGetJsonErrors)
{
    const std::vector<std::string> routes{
        "/api/auth/send-code", "/api/auth/verify", "/api/folders", "/api/sync/upload/init",
        "/api/sync/delete",    "/__test/faults",   "/__test/clock"};
    const std::vector<std::string> bodies{"",
                                          "{",
                                          "}",
                                          "[1,2]",
                                          "\"text\"",
                                          "null",
                                          "{\"a\":}",
                                          "{'a':1}",
                                          "\xff\xfe",
                                          "{\"name\":\"\xff\"}",
                                          "{\"a\":1} trailing",
                                          std::string(100000, '[')};
    for (const auto& route : routes) {
        for (const auto& body : bodies) {
            const auto response = postRaw(route, body);
            EXPECT_EQ(response.status, 400) << route << " " << body.substr(0, 20);
            EXPECT_TRUE(isJsonError(response)) << route << " -> " << response.body;
        }
    }
    EXPECT_EQ(get("/health").status, 200);
}

TEST_F(ServerRobustness, OversizedJsonBodyIsRefused)
{
    const std::string name(2 * 1024 * 1024, 'n');
    const auto response = post("/api/folders", {{"name", name}});
    EXPECT_EQ(response.status, 413);
    EXPECT_TRUE(isJsonError(response));
    EXPECT_EQ(get("/health").status, 200);
}

TEST_F(ServerRobustness, MalformedChunkUploadsGetJsonErrors)
{
    const std::string content = "abc";
    const std::string uploadId = uploadInit(m_docs, "a", content)["upload_id"];
    const std::string good = multipartBody("B", uploadId, content);
    const std::vector<std::pair<std::string, std::string>> cases{
        {"multipart/form-data; boundary=B", good.substr(0, good.size() - 4)},  // no closing line
        {"multipart/form-data; boundary=B", ""},
        {"multipart/form-data; boundary=B", "no multipart at all"},
        {"multipart/form-data", good},
        {"application/json", "{}"},
        {"multipart/form-data; boundary=B",
         "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nabc\r\n--B--\r\n"},
        {"multipart/form-data; boundary=B",
         "--B\r\nContent-Disposition: form-data; name=\"upload_id\"\r\n\r\n" + uploadId +
             "\r\n--B--\r\n"},
        {"multipart/form-data; boundary=B", "--B\r\nno-colon-header\r\n\r\nabc\r\n--B--\r\n"},
        {"multipart/form-data; boundary=B", "--B\r\n" + std::string(20000, 'h') + "\r\n--B--\r\n"},
    };
    for (const auto& [contentType, body] : cases) {
        const auto response =
            httpRequest("POST", m_server.baseURL() + "/api/sync/upload/chunk", body,
                        {"Authorization: Bearer " + m_token, "Content-Type: " + contentType});
        EXPECT_EQ(response.status, 400) << contentType << " " << body.substr(0, 40);
        EXPECT_TRUE(isJsonError(response)) << response.body;
    }
    EXPECT_EQ(filesIn(m_server.dataDir() / "tmp"), 0u);
    // A quoted boundary, an extra field and a preamble are fine.
    const std::string extra =
        "preamble\r\n--Q\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\n"
        "x\r\n" +
        multipartBody("Q", uploadId, content).substr(0);
    const auto accepted = httpRequest(
        "POST", m_server.baseURL() + "/api/sync/upload/chunk", extra,
        {"Authorization: Bearer " + m_token, "Content-Type: multipart/form-data; boundary=\"Q\""});
    EXPECT_EQ(accepted.status, 200) << accepted.body;
}

TEST_F(ServerRobustness, QueriesThatDoNotDecodeAreRefusedNotTakenAsMissing)
{
    upload(m_docs, "a.txt", "a");
    for (const std::string target :
         {"/api/folders?parent_id=%zz", "/api/folders?parent_id=%2", "/api/folders?parent_id=%00",
          "/api/sync/events?since=%zz", "/api/sync/events?folder_ids=%g1", "/api/files?folder_id=%",
          "/api/folders?other=%zz", "/api/folders?%zz=1"}) {
        const auto response = get(target);
        EXPECT_EQ(response.status, 400) << target;
        ASSERT_TRUE(isJsonError(response)) << target << " -> " << response.body;
        EXPECT_TRUE(nlohmann::json::parse(response.body)["error"].get<std::string>().starts_with(
            "malformed query"))
            << response.body;
    }
    // Well-formed escapes still decode: the folder id with its dashes escaped.
    std::string escaped;
    for (const char c : m_docs) {
        escaped += c == '-' ? std::string("%2D") : std::string(1, c);
    }
    EXPECT_EQ(get("/api/files?folder_id=" + escaped).status, 200);
}

TEST_F(ServerRobustness, GarbageOnTheWireDoesNotHurtTheServer)
{
    const std::vector<std::string> garbage{
        "\r\n\r\n",
        "GARBAGE\r\n\r\n",
        "GET /health HTTP/9.9\r\n\r\n",
        "GET /health HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
        "GET /health HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        "GET /health HTTP/1.1\r\nX: " + std::string(100000, 'x') + "\r\n\r\n",
        "POST /api/folders HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        std::string("\0\0\0\0\xff\xff", 6),
    };
    for (const auto& bytes : garbage) {
        RawConnection connection(m_server.port());
        connection.send(bytes);
        const auto answer = connection.readUntilClosed(std::chrono::seconds(5));
        EXPECT_TRUE(answer.empty() || answer.starts_with("HTTP/1.1 4")) << answer.substr(0, 80);
    }
    // A request cut short just ends its connection.
    {
        RawConnection connection(m_server.port());
        connection.send("POST /api/folders HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"na");
    }
    EXPECT_EQ(get("/health").status, 200);
}

TEST_F(ServerRobustness, KeepAliveServesSeveralRequestsOnOneConnection)
{
    RawConnection connection(m_server.port());
    const std::string request = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
    connection.send(request + request);
    const auto answers = connection.readUntil("{\"status\":\"ok\"}HTTP/1.1 200 OK");
    EXPECT_NE(answers.find("{\"status\":\"ok\"}HTTP/1.1 200 OK"), std::string::npos) << answers;
}

// A server whose read timeout is short, so that stalled peers are seen closed quickly.
class ServerReadTimeout : public ServerTest {
protected:
    static constexpr std::chrono::milliseconds kTimeout{300};

    ServerReadTimeout() : ServerTest(ServerOptions{.timeout = kTimeout}) {}
};

TEST_F(ServerReadTimeout, AnUploadTricklingInIsCutOffAsAWhole)
{
    const std::string uploadId =
        uploadInit(createFolder("Docs")["id"], "a.bin", std::string(10'000, 'x'))["upload_id"];
    RawConnection connection(m_server.port());
    const std::string body = multipartBody("B", uploadId, std::string(10'000, 'x'));
    connection.send(uploadHead(body.size(), "Authorization: Bearer " + m_token + "\r\n") +
                    dataPartHead(uploadId));
    // Every byte comes well within the idle time-out; the body as a whole does not.
    const auto took = trickle(connection, "x", kTimeout / 6, std::chrono::seconds(5));
    EXPECT_TRUE(connection.closedByServer());
    EXPECT_LT(took, kTimeout * 5);
}

TEST_F(ServerReadTimeout, StalledRequestsAreClosedAfterTheTimeout)
{
    struct Case {
        const char* name;
        std::string bytes;
        bool answered;
    };
    const Case cases[] = {
        {"half a header", "GET /health HTTP/1.1\r\nHost: x\r\n", false},
        {"half a JSON body",
         "POST /api/folders HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + m_token +
             "\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"na",
         false},
        {"half an upload",
         "POST /api/sync/upload/chunk HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + m_token +
             "\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: 1000\r\n"
             "\r\n--B\r\n",
         false},
        {"idle after an answer", "GET /health HTTP/1.1\r\nHost: x\r\n\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection connection(m_server.port());
        const auto start = std::chrono::steady_clock::now();
        connection.send(c.bytes);
        const std::string answer = connection.readUntilClosed(std::chrono::seconds(5));
        EXPECT_TRUE(connection.closedByServer());
        EXPECT_GE(std::chrono::steady_clock::now() - start, kTimeout / 2);
        EXPECT_EQ(answer.starts_with("HTTP/1.1 200"), c.answered) << answer.substr(0, 80);
    }
    EXPECT_EQ(get("/health").status, 200);
}

TEST_F(ServerRobustness, AnUploadPastItsDeclaredSizeIsStoppedAtOnce)
{
    const std::string uploadId = uploadInit(m_docs, "small.txt", "ten bytes!")["upload_id"];
    struct Case {
        const char* name;
        std::string bodyStart;
        const char* answer;
    };
    const Case cases[] = {
        {"past the size", dataPartHead(uploadId) + std::string(256 * 1024, 'x'),
         "HTTP/1.1 400 Bad Request"},
        {"unknown upload", dataPartHead("no-such-upload") + std::string(256 * 1024, 'x'),
         "HTTP/1.1 404 Not Found"},
        {"data before upload_id",
         "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\n" +
             std::string(256 * 1024, 'x'),
         "HTTP/1.1 400 Bad Request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The body is announced at 300 MB; only its start ever comes.
        RawConnection connection(m_server.port());
        connection.send(uploadHead(300'000'000, "Authorization: Bearer " + m_token + "\r\n") +
                        c.bodyStart);
        const std::string answer = connection.readUntil("}");
        EXPECT_TRUE(answer.starts_with(c.answer)) << answer.substr(0, 200);
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
        connection.finishSending();
        connection.readUntilClosed();
        EXPECT_TRUE(connection.closedByServer());
        EXPECT_EQ(filesIn(m_server.dataDir() / "tmp"), 0u);
    }
    const std::string answer = nlohmann::json::parse(
        uploadChunk(uploadId, "ten bytes!" + std::string(100, '!')).body)["error"];
    EXPECT_EQ(answer, "size mismatch: expected 10 bytes, received more");
    // The upload stays open for the right content.
    EXPECT_EQ(uploadChunk(uploadId, "ten bytes!").status, 200);
}

TEST_F(ServerRobustness, ABodyWithoutAValidTokenIsRefusedUnread)
{
    const std::vector<std::string> heads{
        uploadHead(300'000'000, ""),
        uploadHead(300'000'000, "Authorization: Bearer not-a-token\r\n"),
        "POST /api/folders HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        "Content-Length: 900000\r\n\r\n",
    };
    for (const auto& head : heads) {
        RawConnection connection(m_server.port());
        connection.send(head + std::string(64 * 1024, '{'));
        const std::string answer = connection.readUntil("}");
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 401 Unauthorized")) << answer.substr(0, 200);
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
        connection.finishSending();
        connection.readUntilClosed();
        EXPECT_TRUE(connection.closedByServer());
    }
    // An HTTP client that sends the body without waiting for "100 Continue" gets the answer as
    // well, not a reset connection.
    const auto sent = httpRequest("POST", m_server.baseURL() + "/api/sync/upload/chunk",
                                  std::string(32 * 1024 * 1024, 'x'),
                                  {"Content-Type: multipart/form-data; boundary=B", "Expect:"});
    EXPECT_EQ(sent.status, 401) << sent.transportError;
    // Without a body the connection stays open.
    RawConnection connection(m_server.port());
    connection.send("GET /api/folders HTTP/1.1\r\nHost: x\r\n\r\nGET /health HTTP/1.1\r\n"
                    "Host: x\r\n\r\n");
    const std::string answers = connection.readUntil("{\"status\":\"ok\"}");
    EXPECT_TRUE(answers.starts_with("HTTP/1.1 401")) << answers;
    EXPECT_NE(answers.find("{\"status\":\"ok\"}"), std::string::npos) << answers;
}

TEST_F(ServerRobustness, AJsonBodyWithoutAValidTokenIsRefusedBeforeItIsParsed)
{
    const std::string nested = "{\"email\":" + std::string(1'000'000, '[');
    for (const std::string route : {"/api/auth/verify", "/api/auth/send-code", "/api/nothing"}) {
        const auto response = httpRequest("POST", m_server.baseURL() + route, nested,
                                          {"Content-Type: application/json"});
        EXPECT_EQ(response.status, 413) << route;
        EXPECT_TRUE(isJsonError(response)) << response.body;
    }
    EXPECT_EQ(m_server.signIn("bob@example.com").size(), 64u);
}

// A server whose idle time-out is long, and whose time-out for bodies without a token is short.
class ServerUnauthenticatedTimeout : public ServerTest {
protected:
    static constexpr std::chrono::milliseconds kTimeout{300};

    ServerUnauthenticatedTimeout()
        : ServerTest(ServerOptions{.timeout = kTimeout * 10, .unauthenticatedTimeout = kTimeout})
    {
    }
};

TEST_F(ServerUnauthenticatedTimeout, ABodyWithoutATokenHasLittleTime)
{
    RawConnection connection(m_server.port());
    connection.send("POST /api/auth/send-code HTTP/1.1\r\nHost: x\r\nContent-Type: "
                    "application/json\r\nContent-Length: 1000\r\n\r\n");
    const auto took = trickle(connection, "{\"email\":", kTimeout / 6, std::chrono::seconds(5));
    EXPECT_TRUE(connection.closedByServer());
    EXPECT_GE(took, kTimeout / 2);
    EXPECT_LT(took, kTimeout * 3);
    // With a valid token the same body has the idle time-out.
    RawConnection account(m_server.port());
    account.send("POST /api/folders HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + m_token +
                 "\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n");
    EXPECT_GE(trickle(account, "{\"name\":", kTimeout / 6, kTimeout * 3), kTimeout * 3);
    EXPECT_FALSE(account.closedByServer());
}

TEST_F(ServerRobustness, UnauthorisedUploadWritesNothing)
{
    const std::string uploadId = uploadInit(m_docs, "a", "abc")["upload_id"];
    const auto response = httpRequest("POST", m_server.baseURL() + "/api/sync/upload/chunk",
                                      multipartBody("B", uploadId, "abc"),
                                      {"Content-Type: multipart/form-data; boundary=B"});
    EXPECT_EQ(response.status, 401);
    EXPECT_EQ(uploadChunk(uploadId, "abc").status, 200);  // still open for its owner
}

}  // namespace
}  // namespace corvane::test
