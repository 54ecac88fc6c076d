// The REST client against a server that answers badly on purpose (the server's test faults):
// malformed JSON and wrong types fail with a DecodingError that names the key path; paths and
// content are passed on as the server gave them, since judging them is the sync engine's job.

#include "API/APIClient.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APITestSupport.h"
#include "Models/DecodingError.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using Kind = DecodingError::Kind;

// An account with a folder "Docs" that holds "/a.txt" and a folder "Sub" holding "/b.txt".
class APIClientBadAnswers : public testing::Test {
protected:
    void SetUp() override
    {
        client.setToken(server.signIn("ada@example.com"));
        docs = client.createFolder("Docs");
        sub = client.createFolder("Sub", docs.id);
        upload(docs.id, "/a.txt", "alpha");
        upload(sub.id, "/b.txt", "beta");
    }

    void upload(const std::string& folderId, const std::string& path, const std::string& content)
    {
        const UploadInitResponse started =
            client.uploadInit({path, folderId, test::sha256Hex(content),
                               static_cast<std::int64_t>(content.size()), 0});
        ASSERT_TRUE(started.uploadId.has_value());
        client.uploadChunk(*started.uploadId, content);
    }

    // The next request whose path starts with `prefix` gets the real answer, changed.
    void fault(const std::string& prefix, nlohmann::json change)
    {
        change["path_prefix"] = prefix;
        server.injectFault(change);
    }

    static nlohmann::json replace(const std::string& pointer, const nlohmann::json& value)
    {
        return {{"patch", {{{"op", "replace"}, {"path", pointer}, {"value", value}}}}};
    }

    std::string treePrefix() const { return "/api/folders/" + docs.id + "/tree"; }

    test::TempHome home;
    test::TempDir files;
    test::ServerProcess server;
    APIClient client{server.baseURL()};
    Folder docs;
    Folder sub;
};

TEST_F(APIClientBadAnswers, MalformedJsonFailsAsMalformedTextOnEveryJSONCall)
{
    int folders = 0;
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"/api/auth/send-code", [&] { client.sendCode("ada@example.com"); }},
        {"/api/folders", [&] { client.listFolders(); }},
        {"/api/folders", [&] { client.createFolder("New" + std::to_string(++folders)); }},
        {treePrefix(), [&] { client.getFolderTree(docs.id); }},
        {"/api/files", [&] { client.listFiles(docs.id); }},
        {"/api/sync/upload/init",
         [&] {
             client.uploadInit({"/c.txt", docs.id, test::sha256Hex("c"), 1, 0});
         }},
        {"/api/sync/events", [&] { client.listEvents(std::nullopt, {}); }},
        {"/api/sync/delete", [&] { client.deleteFile("/a.txt", docs.id); }},
    };
    for (const auto& [prefix, call] : calls) {
        SCOPED_TRACE(prefix);
        fault(prefix, {{"malformed_json", true}});
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), Kind::dataCorrupted);
            EXPECT_EQ(error.localizedDescription().rfind("malformed JSON text: ", 0), 0u)
                << error.localizedDescription();
        }
    }
    // The chunk answer too, though the content was stored.
    const UploadInitResponse started =
        client.uploadInit({"/d.txt", docs.id, test::sha256Hex("d"), 1, 0});
    fault("/api/sync/upload/chunk", {{"malformed_json", true}});
    EXPECT_THROW(client.uploadChunk(started.uploadId.value_or(""), "d"), DecodingError);
}

TEST_F(APIClientBadAnswers, WrongTypesNameTheKeyPath)
{
    const auto removal = [](const std::string& pointer) {
        return nlohmann::json{{"patch", {{{"op", "remove"}, {"path", pointer}}}}};
    };
    const struct {
        std::string prefix;
        nlohmann::json change;
        std::function<void()> call;
        Kind kind;
        std::string path;
        std::string description;
    } cases[] = {
        {treePrefix(), replace("/files/0/size", "5"), [&] { client.getFolderTree(docs.id); },
         Kind::typeMismatch, "files[0].size",
         "type mismatch: expected 64-bit integer at files[0].size"},
        {treePrefix(), replace("/files/0/size", 2.5), [&] { client.getFolderTree(docs.id); },
         Kind::typeMismatch, "files[0].size",
         "type mismatch: expected 64-bit integer at files[0].size"},
        {treePrefix(), replace("/children/0/files/0/version", 1e20),
         [&] { client.getFolderTree(docs.id); }, Kind::typeMismatch, "children[0].files[0].version",
         "type mismatch: expected 64-bit integer at children[0].files[0].version"},
        {treePrefix(), removal("/children/0/files/0/hash"), [&] { client.getFolderTree(docs.id); },
         Kind::keyNotFound, "children[0].files[0].hash",
         R"(key not found: "hash" at children[0].files[0])"},
        {treePrefix(), replace("/children/0/id", 7), [&] { client.getFolderTree(docs.id); },
         Kind::typeMismatch, "children[0].id", "type mismatch: expected string at children[0].id"},
        {treePrefix(), replace("/files", nlohmann::json::object()),
         [&] { client.getFolderTree(docs.id); }, Kind::typeMismatch, "files",
         "type mismatch: expected array at files"},
        {"/api/folders", replace("/0/parent_id", 5), [&] { client.listFolders(docs.id); },
         Kind::typeMismatch, "[0].parent_id", "type mismatch: expected string at [0].parent_id"},
        {"/api/files", replace("/0/hash", nullptr), [&] { client.listFiles(docs.id); },
         Kind::valueNotFound, "[0].hash", R"(value not found: "hash" at [0])"},
        {"/api/sync/upload/init", replace("/upload_id", 12),
         [&] {
             client.uploadInit({"/c.txt", docs.id, test::sha256Hex("c"), 1, 0});
         },
         Kind::typeMismatch, "upload_id", "type mismatch: expected string at upload_id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change.dump());
        fault(c.prefix, c.change);
        try {
            c.call();
            ADD_FAILURE() << "no error";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_EQ(error.codingPath(), c.path);
            EXPECT_EQ(error.localizedDescription(), c.description);
        }
    }
}

TEST_F(APIClientBadAnswers, TreePathsOutsideTheFolderArePassedOnAsGiven)
{
    for (const std::string path :
         {"../../etc/x", "/../x", "a/../../x", "/tmp/../../x", "/.corvane/sync_state.json"}) {
        fault(treePrefix(), replace("/children/0/files/0/path", path));
        const FolderTree tree = client.getFolderTree(docs.id);
        ASSERT_TRUE(tree.children && tree.children->size() == 1);
        const auto& subFiles = (*tree.children)[0].files;
        ASSERT_TRUE(subFiles && subFiles->size() == 1);
        EXPECT_EQ((*subFiles)[0].path, path);
        EXPECT_EQ((*subFiles)[0].hash, test::sha256Hex("beta"));
    }
}

TEST_F(APIClientBadAnswers, DownloadThatDoesNotMatchItsHashIsStillDelivered)
{
    const std::string hash = test::sha256Hex("alpha");
    fault("/api/sync/download/", {{"corrupt_content", true}, {"count", 2}});
    const std::string bytes = client.download(hash);
    EXPECT_EQ(bytes.size(), 5u);
    EXPECT_NE(test::sha256Hex(bytes), hash);

    const auto target = files.path() / "alpha.part";
    EXPECT_EQ(client.downloadToFile(hash, target), 5u);
    EXPECT_EQ(test::fileContents(target), bytes);

    EXPECT_EQ(client.download(hash), "alpha");
}

}  // namespace
}  // namespace corvane
