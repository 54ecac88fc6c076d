#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ServerTestSupport.h"

namespace corvane::test {
namespace {

using ServerFolders = ServerTest;

TEST_F(ServerFolders, CreatedFoldersCarryPathsAndListInCreationOrder)
{
    const auto root = createFolder("__root__");
    const auto docs = createFolder("Docs");
    const auto sub = createFolder("Sub", docs["id"]);

    EXPECT_EQ(docs["path"], "/Docs");
    EXPECT_FALSE(docs.contains("parent_id"));  // absent, never null
    EXPECT_EQ(sub["path"], "/Docs/Sub");
    EXPECT_EQ(sub["parent_id"], docs["id"]);
    for (const auto& folder : {root, docs, sub}) {
        for (const char* key : {"id", "name", "path", "owner_id", "created_at", "updated_at"}) {
            EXPECT_TRUE(folder.at(key).is_string()) << key;
        }
    }

    const auto top = nlohmann::json::parse(get("/api/folders").body);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0]["id"], root["id"]);
    EXPECT_EQ(top[1]["id"], docs["id"]);

    const auto children =
        nlohmann::json::parse(get("/api/folders?parent_id=" + docs["id"].get<std::string>()).body);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0]["id"], sub["id"]);
}

TEST_F(ServerFolders, DuplicateInvalidAndOrphanFoldersAreRefused)
{
    const auto docs = createFolder("Docs");
    EXPECT_EQ(post("/api/folders", {{"name", "Docs"}}).status, 409);
    // The same name under another parent is fine.
    createFolder("Docs", docs["id"]);
    EXPECT_EQ(post("/api/folders", {{"name", "Docs"}, {"parent_id", docs["id"]}}).status, 409);

    const std::vector<std::string> invalidNames{
        "", ".", "..", "a/b", std::string("a\0b", 3), std::string(256, 'x')};
    for (const auto& name : invalidNames) {
        const auto response = post("/api/folders", {{"name", name}});
        EXPECT_EQ(response.status, 400) << name;
        EXPECT_TRUE(isJsonError(response));
    }
    EXPECT_EQ(post("/api/folders", {{"name", "X"}, {"parent_id", "no-such-folder"}}).status, 404);
    EXPECT_EQ(post("/api/folders", {{"name", 3}}).status, 400);
    EXPECT_EQ(postRaw("/api/folders", "{\"name\":").status, 400);
    // null parent_id means top level
    const auto top = post("/api/folders", {{"name", "Top"}, {"parent_id", nullptr}});
    EXPECT_EQ(top.status, 201);
    EXPECT_FALSE(nlohmann::json::parse(top.body).contains("parent_id"));
}

TEST_F(ServerFolders, TreeHoldsAllDescendants)
{
    const auto docs = createFolder("Docs");
    const auto a = createFolder("A", docs["id"]);
    createFolder("B", docs["id"]);
    createFolder("Deep", a["id"]);

    const auto response = get("/api/folders/" + docs["id"].get<std::string>() + "/tree");
    ASSERT_EQ(response.status, 200);
    const auto tree = nlohmann::json::parse(response.body);
    EXPECT_EQ(tree["path"], "/Docs");
    EXPECT_TRUE(tree["files"].is_array());
    ASSERT_EQ(tree["children"].size(), 2u);
    EXPECT_EQ(tree["children"][0]["path"], "/Docs/A");
    EXPECT_EQ(tree["children"][1]["path"], "/Docs/B");
    ASSERT_EQ(tree["children"][0]["children"].size(), 1u);
    EXPECT_EQ(tree["children"][0]["children"][0]["path"], "/Docs/A/Deep");

    EXPECT_EQ(get("/api/folders/unknown/tree").status, 404);
}

TEST_F(ServerFolders, FolderDepthAndPathLengthAreBounded)
{
    struct Case {
        std::string name;
        int levels;  // the deepest chain of `name` that is accepted
        std::string refusal;
    };
    // 255 levels keep a tree within the client's JSON nesting limit; 16 names of 255 bytes make
    // a path of exactly 4096 bytes.
    const Case cases[] = {{"d", 255, "folders nest at most 255 deep"},
                          {std::string(255, 'n'), 16, "folder path too long"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        auto deepest = createFolder(c.name);
        for (int level = 2; level <= c.levels; ++level) {
            deepest = createFolder(c.name, deepest["id"]);
        }
        EXPECT_LE(deepest["path"].get<std::string>().size(), 4096u);
        const auto refused = post("/api/folders", {{"name", c.name}, {"parent_id", deepest["id"]}});
        EXPECT_EQ(refused.status, 400);
        EXPECT_EQ(nlohmann::json::parse(refused.body, nullptr, false).value("error", ""),
                  c.refusal);
        // The deepest level takes files and the tree stays whole.
        const std::string id = deepest["id"];
        EXPECT_FALSE(upload(id, "a.txt", "bottom").is_null());
        EXPECT_EQ(get("/api/folders/" + id + "/tree").status, 200);
    }
}

TEST_F(ServerFolders, AccountsDoNotSeeEachOthersFolders)
{
    const auto docs = createFolder("Docs");
    const std::string other = m_server.signIn("mallory@example.com");
    EXPECT_EQ(getAs(other, "/api/folders").body, "[]");
    EXPECT_EQ(getAs(other, "/api/folders/" + docs["id"].get<std::string>() + "/tree").status, 404);
    EXPECT_EQ(postAs(other, "/api/folders", {{"name", "X"}, {"parent_id", docs["id"]}}).status,
              404);
}

}  // namespace
}  // namespace corvane::test
