#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ServerTestSupport.h"

namespace corvane::test {
namespace {

class ServerSync : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        m_docs = createFolder("Docs")["id"];
    }

    nlohmann::json treeFiles(const std::string& folderId) const
    {
        return nlohmann::json::parse(get("/api/folders/" + folderId + "/tree").body)["files"];
    }

    bool blobExists(const std::string& hash) const
    {
        return std::filesystem::exists(m_server.dataDir() / "blobs" / hash.substr(0, 2) / hash);
    }

    std::string m_docs;
};

TEST_F(ServerSync, UploadedContentDownloadsByHashAndShowsInTree)
{
    const std::string content = "hello, world\n";
    const auto init = uploadInit(m_docs, "/a.txt", content);
    ASSERT_EQ(init["status"], "pending");
    ASSERT_TRUE(init["upload_id"].is_string());
    EXPECT_FALSE(init.contains("file"));

    const auto chunk = uploadChunk(init["upload_id"], content);
    ASSERT_EQ(chunk.status, 200) << chunk.body;
    const auto file = nlohmann::json::parse(chunk.body)["file"];
    EXPECT_EQ(file["name"], "a.txt");
    EXPECT_EQ(file["path"], "/a.txt");
    EXPECT_EQ(file["hash"], sha256Hex(content));
    EXPECT_EQ(file["size"], content.size());
    EXPECT_EQ(file["version"], 1);
    EXPECT_EQ(file["folder_id"], m_docs);
    for (const char* key : {"id", "owner_id", "created_at", "updated_at"}) {
        EXPECT_TRUE(file.at(key).is_string()) << key;
    }

    const auto download = get("/api/sync/download/" + sha256Hex(content));
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, content);

    const auto files = treeFiles(m_docs);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], file);
    EXPECT_EQ(nlohmann::json::parse(get("/api/files?folder_id=" + m_docs).body),
              nlohmann::json::array({file}));
    // The upload id is spent.
    EXPECT_EQ(uploadChunk(init["upload_id"], content).status, 404);
}

TEST_F(ServerSync, VersionsCountUpAndKnownContentExists)
{
    const auto first = upload(m_docs, "a.txt", "one");
    const auto second = upload(m_docs, "a.txt", "two", 1);
    EXPECT_EQ(second["id"], first["id"]);
    EXPECT_EQ(second["version"], 2);
    EXPECT_EQ(second["hash"], sha256Hex("two"));

    // Content the account already stored needs no bytes: same path again, and a new path.
    const auto again = uploadInit(m_docs, "a.txt", "one", 2);
    ASSERT_EQ(again["status"], "exists");
    EXPECT_FALSE(again.contains("upload_id"));
    EXPECT_EQ(again["file"]["version"], 3);
    EXPECT_EQ(again["file"]["hash"], sha256Hex("one"));
    const auto copy = uploadInit(m_docs, "b.txt", "two");
    ASSERT_EQ(copy["status"], "exists");
    EXPECT_NE(copy["file"]["id"], first["id"]);
    EXPECT_EQ(copy["file"]["version"], 1);
    EXPECT_EQ(treeFiles(m_docs).size(), 2u);
}

// Two devices edit a.txt from the same version; the second upload must not erase the first
// without a trace (seed 1 of the convergence test lost a version this way).
TEST_F(ServerSync, AnUploadReplacingUnseenContentKeepsItAsAConflictCopy)
{
    upload(m_docs, "a.txt", "one");
    upload(m_docs, "a.txt", "two", 1);  // knew version 1: nothing to keep
    EXPECT_EQ(treeFiles(m_docs).size(), 1u);

    const auto third = upload(m_docs, "a.txt", "three", 1);  // never saw version 2
    EXPECT_EQ(third["version"], 3);
    EXPECT_EQ(third["hash"], sha256Hex("three"));
    auto files = treeFiles(m_docs);
    ASSERT_EQ(files.size(), 2u);
    const auto& copy = files[0]["name"] == "a.txt" ? files[1] : files[0];
    const std::string name = copy["name"];
    EXPECT_TRUE(name.starts_with("a (conflict - remote - ")) << name;
    EXPECT_TRUE(name.ends_with(").txt")) << name;
    EXPECT_EQ(copy["hash"], sha256Hex("two"));
    EXPECT_EQ(copy["version"], 1);

    // Known content follows the same rule, and a second copy takes a name of its own.
    ASSERT_EQ(uploadInit(m_docs, "a.txt", "one", 0)["status"], "exists");
    files = treeFiles(m_docs);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_NE(files[1]["name"], files[2]["name"]);
    // The same content as the server's needs no copy, whatever the base.
    ASSERT_EQ(uploadInit(m_docs, "a.txt", "one", 0)["status"], "exists");
    EXPECT_EQ(treeFiles(m_docs).size(), 3u);

    // Each copy is announced as a creation before the change that replaced its content.
    const auto events = nlohmann::json::parse(get("/api/sync/events").body);
    std::vector<std::string> actions;
    for (const auto& event : events) {
        actions.push_back(event["action"]);
    }
    EXPECT_EQ(actions, (std::vector<std::string>{"create", "update", "create", "update", "create",
                                                 "update", "update"}));
    EXPECT_EQ(events[2]["path"], "/" + name);
}

TEST_F(ServerSync, EmptyFileUploads)
{
    const auto init = uploadInit(m_docs, "empty", "");
    ASSERT_EQ(init["status"], "pending");
    // The client's empty data part: the blank line, then at once CRLF and the closing line.
    const auto chunk = uploadChunk(init["upload_id"], "");
    ASSERT_EQ(chunk.status, 200) << chunk.body;
    EXPECT_EQ(nlohmann::json::parse(chunk.body)["file"]["size"], 0);
    const auto download = get("/api/sync/download/" + sha256Hex(""));
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, "");
}

TEST_F(ServerSync, ContentContainingBoundaryTextArrivesUnchanged)
{
    const std::string boundary = "5A1C0D3E-7B7B-4C1D-9F00-0123456789AB";
    const std::vector<std::string> contents{
        "--" + boundary + "\r\n",
        "x--" + boundary + "--\r\n",
        "\r\n--" + boundary.substr(0, boundary.size() - 1),
        "\r\n--" + boundary.substr(0, 10) + "\r\n--" + boundary + "X",
        std::string("\r\n\r\n\0\r\n-", 7),
        "Content-Disposition: form-data; name=\"upload_id\"\r\n\r\n",
        "\r\n",
        "\r",
    };
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const std::string path = "f" + std::to_string(i);
        const auto init = uploadInit(m_docs, path, contents[i]);
        ASSERT_EQ(init["status"], "pending") << i;
        const auto chunk = uploadChunk(init["upload_id"], contents[i], boundary);
        ASSERT_EQ(chunk.status, 200) << i << ": " << chunk.body;
        EXPECT_EQ(get("/api/sync/download/" + sha256Hex(contents[i])).body, contents[i]) << i;
    }
}

TEST_F(ServerSync, LargeUploadStreamsThrough)
{
    std::string content(6 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    const auto file = upload(m_docs, "big.bin", content);
    EXPECT_EQ(file["size"], content.size());
    const auto download = get("/api/sync/download/" + sha256Hex(content));
    EXPECT_EQ(download.status, 200);
    EXPECT_TRUE(download.body == content);
}

TEST_F(ServerSync, MismatchedContentIsRefusedAndNothingStored)
{
    const std::string content = "expected content";
    const auto init = uploadInit(m_docs, "a.txt", content);
    const std::string uploadId = init["upload_id"];

    const auto wrongBytes = uploadChunk(uploadId, "expected c0ntent");  // same size
    EXPECT_EQ(wrongBytes.status, 400);
    EXPECT_TRUE(isJsonError(wrongBytes));
    const auto wrongSize = uploadChunk(uploadId, content + "!");
    EXPECT_EQ(wrongSize.status, 400);
    EXPECT_TRUE(isJsonError(wrongSize));

    EXPECT_TRUE(treeFiles(m_docs).empty());
    EXPECT_FALSE(blobExists(sha256Hex("expected c0ntent")));
    EXPECT_FALSE(blobExists(sha256Hex(content + "!")));
    EXPECT_EQ(get("/api/sync/download/" + sha256Hex("expected c0ntent")).status, 404);
    EXPECT_TRUE(std::filesystem::is_empty(m_server.dataDir() / "tmp"));

    // The upload stays open for the right bytes.
    EXPECT_EQ(uploadChunk(uploadId, content).status, 200);
    EXPECT_EQ(uploadChunk("no-such-upload", content).status, 404);
}

TEST_F(ServerSync, PendingUploadsExpireAfterADay)
{
    const std::string first = uploadInit(m_docs, "a.txt", "a")["upload_id"];
    const std::string second = uploadInit(m_docs, "b.txt", "b")["upload_id"];
    const auto advance = [&](int seconds) {
        ASSERT_EQ(post("/__test/clock", {{"advance_seconds", seconds}}).status, 200);
    };
    advance(24 * 3600 - 1);
    EXPECT_EQ(uploadChunk(first, "a").status, 200);
    advance(2);
    const auto expired = uploadChunk(second, "b");
    EXPECT_EQ(expired.status, 404);
    EXPECT_TRUE(isJsonError(expired));
    EXPECT_TRUE(std::filesystem::is_empty(m_server.dataDir() / "tmp"));
}

TEST_F(ServerSync, BlobsThatNothingRefersToAreCollected)
{
    upload(m_docs, "kept.txt", "kept");
    upload(m_docs, "gone.txt", "gone");
    upload(m_docs, "c.txt", "one");
    upload(m_docs, "c.txt", "two", 0);  // a conflict copy keeps "one"
    // A pending upload whose content the server holds meanwhile through another file.
    const std::string pendingId = uploadInit(m_docs, "p.txt", "pending")["upload_id"];
    upload(m_docs, "q.txt", "pending");
    for (const char* path : {"gone.txt", "q.txt"}) {
        ASSERT_EQ(post("/api/sync/delete", {{"path", path}, {"folder_id", m_docs}}).status, 200);
    }

    const auto round = post("/__test/housekeeping", nlohmann::json::object());
    ASSERT_EQ(round.status, 200) << round.body;
    EXPECT_EQ(nlohmann::json::parse(round.body),
              (nlohmann::json{{"expired_uploads", 0}, {"removed_blobs", 1}}));
    EXPECT_FALSE(blobExists(sha256Hex("gone")));
    EXPECT_EQ(get("/api/sync/download/" + sha256Hex("gone")).status, 404);
    for (const char* content : {"kept", "one", "two", "pending"}) {
        EXPECT_TRUE(blobExists(sha256Hex(content))) << content;
    }
    // The pending upload completes on the content that was kept for it.
    ASSERT_EQ(uploadChunk(pendingId, "pending").status, 200);
    EXPECT_EQ(get("/api/sync/download/" + sha256Hex("pending")).body, "pending");
    // Content that went is taken again as new.
    EXPECT_EQ(uploadInit(m_docs, "gone.txt", "gone")["status"], "pending");
}

TEST_F(ServerSync, OrphanBlobsGoAtStartAndExpiredUploadsReleaseTheirs)
{
    upload(m_docs, "gone.txt", "gone");
    ASSERT_EQ(post("/api/sync/delete", {{"path", "gone.txt"}, {"folder_id", m_docs}}).status, 200);
    const std::string expiring = uploadInit(m_docs, "e.txt", "expiring")["upload_id"];
    upload(m_docs, "x.txt", "expiring");
    ASSERT_EQ(post("/api/sync/delete", {{"path", "x.txt"}, {"folder_id", m_docs}}).status, 200);
    m_server.kill();
    // A blob written by a run that died before recording it.
    const std::string orphan = sha256Hex("orphan");
    const auto orphanPath = m_server.dataDir() / "blobs" / orphan.substr(0, 2) / orphan;
    std::filesystem::create_directories(orphanPath.parent_path());
    std::ofstream(orphanPath) << "orphan";

    m_server.restart();
    EXPECT_FALSE(std::filesystem::exists(orphanPath));
    EXPECT_FALSE(blobExists(sha256Hex("gone")));
    EXPECT_TRUE(blobExists(sha256Hex("expiring")));  // its pending upload is still valid

    ASSERT_EQ(post("/__test/clock", {{"advance_seconds", 25 * 3600}}).status, 200);
    const auto round = post("/__test/housekeeping", nlohmann::json::object());
    EXPECT_EQ(nlohmann::json::parse(round.body),
              (nlohmann::json{{"expired_uploads", 1}, {"removed_blobs", 1}}));
    EXPECT_FALSE(blobExists(sha256Hex("expiring")));
    EXPECT_EQ(uploadChunk(expiring, "expiring").status, 404);
}

TEST_F(ServerSync, InitValidatesEveryField)
{
    const std::string hash = sha256Hex("x");
    const nlohmann::json valid{
        {"path", "a.txt"}, {"folder_id", m_docs}, {"hash", hash}, {"size", 1}, {"base_version", 0}};
    const std::vector<std::pair<std::string, nlohmann::json>> changes{
        {"hash", std::string(64, 'A')},
        {"hash", hash.substr(1)},
        {"hash", hash + "0"},
        {"hash", std::string(63, 'a') + "g"},
        {"hash", 5},
        {"size", -1},
        {"size", "1"},
        {"size", 1.5},
        {"base_version", "0"},
        {"folder_id", "no-such-folder"},
        {"folder_id", 7},
        {"path", 3},
    };
    for (const auto& [key, value] : changes) {
        auto body = valid;
        body[key] = value;
        const auto response = post("/api/sync/upload/init", body);
        EXPECT_EQ(response.status, 400) << key << "=" << value.dump();
        EXPECT_TRUE(isJsonError(response)) << response.body;
    }
    for (const char* key : {"path", "folder_id", "hash", "size"}) {
        auto body = valid;
        body.erase(key);
        EXPECT_EQ(post("/api/sync/upload/init", body).status, 400) << key;
    }
    // Another account's folder is not a target.
    const std::string other = m_server.signIn("mallory@example.com");
    EXPECT_EQ(postAs(other, "/api/sync/upload/init", valid).status, 400);
    EXPECT_EQ(post("/api/sync/upload/init", valid).status, 200);
}

class ServerPaths : public ServerSync, public ::testing::WithParamInterface<std::string> {};

TEST_P(ServerPaths, TraversalAndMalformedPathsAreRefused)
{
    const nlohmann::json init{{"path", GetParam()},
                              {"folder_id", m_docs},
                              {"hash", sha256Hex("x")},
                              {"size", 1},
                              {"base_version", 0}};
    const auto response = post("/api/sync/upload/init", init);
    EXPECT_EQ(response.status, 400) << response.body;
    EXPECT_TRUE(isJsonError(response));
    const auto deletion = post("/api/sync/delete", {{"path", GetParam()}, {"folder_id", m_docs}});
    EXPECT_EQ(deletion.status, 400);
}

INSTANTIATE_TEST_SUITE_P(Table, ServerPaths,
                         ::testing::Values("", "/", "//a", "a//b", "a/", "..", ".", "../a", "/../a",
                                           "a/../b", "a/..", "./a", "a/./b", "../../etc/passwd",
                                           std::string("a\0b", 3), std::string(5000, 'a')),
                         [](const auto& info) { return "Path" + std::to_string(info.index); });

TEST_F(ServerSync, UnusualButValidPathsAreKept)
{
    for (const std::string path : {"..a", "a..", ".hidden", "a b", "Sub/a.txt", "/Sub/Deep/b.txt",
                                   "\xc3\xa9t\xc3\xa9.txt", "back\\slash"}) {
        const auto file = upload(m_docs, path, "content of " + path);
        const std::string expected = path.starts_with('/') ? path : "/" + path;
        EXPECT_EQ(file["path"], expected);
    }
}

TEST_F(ServerSync, DeleteRemovesTheFileOnce)
{
    upload(m_docs, "a.txt", "A");
    upload(m_docs, "Sub/b.txt", "B");
    const auto deleted = post("/api/sync/delete", {{"path", "/a.txt"}, {"folder_id", m_docs}});
    ASSERT_EQ(deleted.status, 200);
    EXPECT_EQ(nlohmann::json::parse(deleted.body), (nlohmann::json{{"deleted", true}}));
    const auto files = treeFiles(m_docs);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]["path"], "/Sub/b.txt");

    EXPECT_EQ(post("/api/sync/delete", {{"path", "a.txt"}, {"folder_id", m_docs}}).status, 404);
    EXPECT_EQ(post("/api/sync/delete", {{"path", "a.txt"}, {"folder_id", "nope"}}).status, 404);
    EXPECT_EQ(post("/api/sync/delete", {{"path", "a.txt"}}).status, 400);
    // Re-created after a delete, the file's versions go on counting, so that the base version
    // of a device that knew the deleted file never matches the new one.
    EXPECT_EQ(upload(m_docs, "a.txt", "A")["version"], 2);
}

// Seed 240: a device that still knew a deleted file's version 1 replaced the new file of the
// same path, also at version 1, as if it had seen it.
TEST_F(ServerSync, AStaleBaseNeverMatchesAFileMadeAfterADeletion)
{
    upload(m_docs, "a.txt", "first");
    ASSERT_EQ(post("/api/sync/delete", {{"path", "a.txt"}, {"folder_id", m_docs}}).status, 200);
    const auto recreated = upload(m_docs, "a.txt", "second");
    EXPECT_EQ(recreated["version"], 2);
    upload(m_docs, "a.txt", "third", 1);  // based on the deleted file
    const auto files = treeFiles(m_docs);
    ASSERT_EQ(files.size(), 2u);
    const auto& copy = files[0]["name"] == "a.txt" ? files[1] : files[0];
    EXPECT_EQ(copy["hash"], sha256Hex("second"));
}

TEST_F(ServerSync, DownloadNeedsContentTheAccountOwns)
{
    upload(m_docs, "a.txt", "secret");
    const std::string other = m_server.signIn("mallory@example.com");
    EXPECT_EQ(getAs(other, "/api/sync/download/" + sha256Hex("secret")).status, 404);
    EXPECT_EQ(get("/api/sync/download/" + sha256Hex("never stored")).status, 404);
    EXPECT_EQ(get("/api/sync/download/not-a-hash").status, 404);
    EXPECT_EQ(get("/api/sync/download/..%2F..%2Fcorvane.db").status, 404);

    // Knowing a hash does not give another account the content.
    const std::string otherDocs =
        nlohmann::json::parse(postAs(other, "/api/folders", {{"name", "Docs"}}).body)["id"];
    const auto init = postAs(other, "/api/sync/upload/init",
                             {{"path", "stolen"},
                              {"folder_id", otherDocs},
                              {"hash", sha256Hex("secret")},
                              {"size", 6},
                              {"base_version", 0}});
    EXPECT_EQ(nlohmann::json::parse(init.body)["status"], "pending");
}

TEST_F(ServerSync, EventsRecordEveryChangeInOrder)
{
    const std::string other = createFolder("Other")["id"];
    upload(m_docs, "a.txt", "1");
    upload(m_docs, "a.txt", "2", 1);
    upload(other, "b.txt", "3");
    ASSERT_EQ(post("/api/sync/delete", {{"path", "a.txt"}, {"folder_id", m_docs}}).status, 200);

    const auto events = nlohmann::json::parse(get("/api/sync/events").body);
    ASSERT_EQ(events.size(), 4u);
    const std::vector<std::string> actions{"create", "update", "create", "delete"};
    long previous = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto& event = events[i];
        EXPECT_EQ(event["action"], actions[i]);
        const long id = std::stol(event["id"].get<std::string>());
        EXPECT_GT(id, previous);
        previous = id;
        for (const char* key : {"file_id", "folder_id", "user_id", "path", "timestamp"}) {
            EXPECT_TRUE(event.at(key).is_string()) << key;
        }
        if (event.contains("metadata")) {
            EXPECT_TRUE(event["metadata"].is_string());
        }
    }
    EXPECT_EQ(events[0]["path"], "/a.txt");
    EXPECT_EQ(events[0]["file_id"], events[3]["file_id"]);
    EXPECT_EQ(events[2]["folder_id"], other);

    const std::string second = events[1]["id"];
    EXPECT_EQ(nlohmann::json::parse(get("/api/sync/events?since=" + second).body).size(), 2u);
    const auto filtered = nlohmann::json::parse(get("/api/sync/events?folder_ids=" + other).body);
    ASSERT_EQ(filtered.size(), 1u);
    EXPECT_EQ(filtered[0]["path"], "/b.txt");
    EXPECT_EQ(
        nlohmann::json::parse(
            get("/api/sync/events?since=" + second + "&folder_ids=" + m_docs + "," + other).body)
            .size(),
        2u);
    EXPECT_EQ(get("/api/sync/events?since=abc").status, 400);
    // Another account sees none of it.
    EXPECT_EQ(getAs(m_server.signIn("mallory@example.com"), "/api/sync/events").body, "[]");
}

TEST_F(ServerSync, RootFolderFilesCarryRelativePaths)
{
    const std::string root = createFolder("__root__")["id"];
    EXPECT_EQ(upload(root, "top.txt", "t")["path"], "/top.txt");
    EXPECT_EQ(upload(m_docs, "Sub/a.txt", "a")["path"], "/Sub/a.txt");
}

class ServerFullPaths : public ServerTest {
protected:
    ServerFullPaths() : ServerTest(ServerOptions{true, "full", {}}) {}
};

TEST_F(ServerFullPaths, FilePathsIncludeTheFolderPathExceptForRoot)
{
    const std::string root = createFolder("__root__")["id"];
    const std::string docs = createFolder("Docs")["id"];
    const std::string sub = createFolder("Sub", docs)["id"];
    EXPECT_EQ(upload(root, "top.txt", "t")["path"], "/top.txt");
    EXPECT_EQ(upload(docs, "a.txt", "a")["path"], "/Docs/a.txt");
    EXPECT_EQ(upload(sub, "/b.txt", "b")["path"], "/Docs/Sub/b.txt");
    const auto tree = nlohmann::json::parse(get("/api/folders/" + docs + "/tree").body);
    EXPECT_EQ(tree["files"][0]["path"], "/Docs/a.txt");
    EXPECT_EQ(tree["children"][0]["files"][0]["path"], "/Docs/Sub/b.txt");
}

}  // namespace
}  // namespace corvane::test
