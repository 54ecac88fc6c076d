#include "Sync/FolderResolver.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API/APIClient.h"
#include "API/APIError.h"

namespace corvane {
namespace {

// A server of folders in memory; records every call.
class FakeFolderServer : public APIClient {
public:
    FakeFolderServer() : APIClient("http://fake") {}

    std::vector<Folder> listFolders(const std::optional<std::string>& parentId) override
    {
        std::lock_guard lock(m_mutex);
        calls.push_back("list");
        if (failList) {
            throw APIError::requestFailed();
        }
        std::vector<Folder> result;
        for (const Folder& folder : folders) {
            if (folder.parentId == parentId) {
                result.push_back(folder);
            }
        }
        return result;
    }

    Folder createFolder(const std::string& name,
                        const std::optional<std::string>& parentId) override
    {
        std::this_thread::sleep_for(createDelay);
        std::lock_guard lock(m_mutex);
        calls.push_back("create " + name);
        if (failCreate) {
            throw APIError::serverError("no");
        }
        for (const Folder& folder : folders) {
            if (folder.name == name && folder.parentId == parentId) {
                throw APIError::serverError("a folder with this name already exists", 409);
            }
        }
        std::string path = "/" + name;
        for (const Folder& folder : folders) {
            if (parentId && folder.id == *parentId) {
                path = folder.path + "/" + name;
            }
        }
        Folder folder{"id" + std::to_string(folders.size() + 1), name, path, "u", parentId, "", ""};
        folders.push_back(folder);
        return folder;
    }

    FolderTree getFolderTree(const std::string& folderId) override
    {
        std::lock_guard lock(m_mutex);
        calls.push_back("tree " + folderId);
        if (failTreeOf == folderId) {
            throw APIError::requestFailed();
        }
        for (const Folder& folder : folders) {
            if (folder.id == folderId) {
                return treeOf(folder);
            }
        }
        throw APIError::serverError("not found");
    }

    std::vector<std::string> callsSnapshot()
    {
        std::lock_guard lock(m_mutex);
        return calls;
    }

    std::vector<Folder> folders;
    std::vector<std::string> calls;
    bool failList = false;
    bool failCreate = false;
    std::string failTreeOf;
    std::chrono::milliseconds createDelay{0};

private:
    FolderTree treeOf(const Folder& folder)
    {
        FolderTree tree{folder.id, folder.name, folder.path, std::vector<FolderTree>{},
                        std::nullopt};
        for (const Folder& child : folders) {
            if (child.parentId == folder.id) {
                tree.children->push_back(treeOf(child));
            }
        }
        return tree;
    }

    std::mutex m_mutex;
};

Folder top(const std::string& id, const std::string& name, std::optional<std::string> parent = {})
{
    return Folder{id, name, "/" + name, "u", std::move(parent), "c", "u"};
}

FileInfo fileIn(const std::string& folderId, const std::string& path)
{
    return FileInfo{"f", "a.txt", path, std::string(64, 'a'), 1, 1, "u", folderId, "", ""};
}

TEST(FolderResolverTest, LoadFindsTheRootAndIndexesTrees)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("r", "__root__"), top("d", "Docs"),
                       Folder{"s", "Sub", "/Docs/Sub", "u", "d", "", ""}};
    FolderResolver resolver(server);
    EXPECT_EQ(resolver.load(), (std::vector<std::string>{"r", "d"}));
    EXPECT_TRUE(resolver.isRootFolder("r"));
    EXPECT_EQ(resolver.resolve("/Docs/Sub/a.txt"), "s");
    EXPECT_EQ(resolver.resolve("/a.txt"), "r");
    // Records from a tree walk carry only id, name and path.
    EXPECT_EQ(resolver.getFolderByID("s")->ownerId, "");
    const std::vector<std::string> expected{"list", "tree r", "tree d"};
    EXPECT_EQ(server->callsSnapshot(), expected);
}

TEST(FolderResolverTest, RootRules)
{
    // A "__root__" with a parent is no root; of two, the later wins.
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("x", "__root__", "p"), top("r1", "__root__"), top("r2", "__root__")};
    FolderResolver resolver(server);
    resolver.load();
    EXPECT_FALSE(resolver.isRootFolder("x"));
    EXPECT_FALSE(resolver.isRootFolder("r1"));
    EXPECT_TRUE(resolver.isRootFolder("r2"));
}

TEST(FolderResolverTest, MissingRootIsCreatedOnLoad)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("d", "Docs")};
    FolderResolver resolver(server);
    const auto ids = resolver.load();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_TRUE(resolver.isRootFolder(ids.back()));
}

TEST(FolderResolverTest, RootThatCannotBeCreatedStaysUnknownAndIsTriedAgain)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("d", "Docs")};
    server->failCreate = true;
    FolderResolver resolver(server);
    EXPECT_EQ(resolver.load(), std::vector<std::string>{"d"});
    // An ordinary folder never becomes the root.
    EXPECT_FALSE(resolver.isRootFolder("d"));
    EXPECT_THROW(resolver.resolve("/a.txt"), APIError);
    server->failCreate = false;
    const std::string root = resolver.resolve("./a.txt");
    EXPECT_TRUE(resolver.isRootFolder(root));
    EXPECT_EQ(resolver.resolve("a.txt"), root);
    const auto calls = server->callsSnapshot();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "create __root__"), 3);
}

TEST(FolderResolverTest, TreeFailureKeepsTheFolder)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("r", "__root__"), top("d", "Docs")};
    server->failTreeOf = "d";
    FolderResolver resolver(server);
    testing::internal::CaptureStdout();
    EXPECT_EQ(resolver.load(), (std::vector<std::string>{"r", "d"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: could not load tree for folder d: requestFailed\n");
    EXPECT_EQ(resolver.resolve("/Docs/a.txt"), "d");
}

TEST(FolderResolverTest, MissingFoldersAreCreatedOnePerComponent)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("r", "__root__"), top("d", "Docs")};
    FolderResolver resolver(server);
    resolver.load();
    testing::internal::CaptureStdout();
    const std::string sub = resolver.resolve("/Docs/Sub/a.txt");
    const std::string deep = resolver.resolve("/New/Deep/a.txt");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Created folder: /Docs/Sub (" + sub + ")\n"), std::string::npos)
        << printed;
    EXPECT_NE(printed.find("Created folder: /New/Deep (" + deep + ")\n"), std::string::npos);
    EXPECT_EQ(server->folders.back().id, deep);
    EXPECT_EQ(server->folders.back().parentId, server->folders[server->folders.size() - 2].id);
    EXPECT_EQ(server->folders[2].parentId, "d");
    EXPECT_EQ(server->folders[2].id, sub);
    const auto calls = server->callsSnapshot();
    const std::vector<std::string> creations(calls.end() - 3, calls.end());
    EXPECT_EQ(creations, (std::vector<std::string>{"create Sub", "create New", "create Deep"}));
    // Now known: no further call.
    resolver.resolve("/New/Deep/b.txt");
    EXPECT_EQ(server->callsSnapshot().size(), calls.size());
}

TEST(FolderResolverTest, ConcurrentResolutionsCreateAFolderOnce)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("r", "__root__")};
    server->createDelay = std::chrono::milliseconds(20);
    FolderResolver resolver(server);
    resolver.load();
    std::vector<std::string> ids(8);
    {
        std::vector<std::jthread> tasks;
        for (int i = 0; i < 8; ++i) {
            tasks.emplace_back(
                [&, i] { ids[i] = resolver.resolve("/Same/f" + std::to_string(i)); });
        }
    }
    for (const auto& id : ids) {
        EXPECT_EQ(id, ids[0]);
    }
    const auto calls = server->callsSnapshot();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "create Same"), 1);
}

TEST(FolderResolverTest, FoldersCreatedMeanwhileByAnotherDeviceAreTaken)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("d", "Docs")};
    server->failCreate = true;
    FolderResolver resolver(server);
    resolver.load();
    server->failCreate = false;
    // Another device creates the root and a folder after this one listed the account.
    server->folders.push_back(top("r", "__root__"));
    server->folders.push_back(top("n", "New"));
    server->folders.push_back(Folder{"s", "Sub", "/New/Sub", "u", "n", "", ""});
    EXPECT_EQ(resolver.resolve("/a.txt"), "r");
    EXPECT_TRUE(resolver.isRootFolder("r"));
    EXPECT_EQ(resolver.resolve("/New/Sub/b.txt"), "s");
    // A refusal for another reason still fails.
    server->failCreate = true;
    EXPECT_THROW(resolver.resolve("/Other/c.txt"), APIError);
}

TEST(FolderResolverTest, PathConversions)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->folders = {top("r", "__root__"), top("d", "Docs"),
                       Folder{"t", "Trail", "/Trail/", "u", std::nullopt, "", ""},
                       Folder{"e", "Empty", "", "u", std::nullopt, "", ""}};
    FolderResolver resolver(server);
    resolver.load();
    const auto normalized = resolver.normalizeFilePaths(
        {fileIn("d", "/a.txt"), fileIn("d", "a.txt"), fileIn("d", "/Docs/a.txt"),
         fileIn("r", "/a.txt"), fileIn("unknown", "/a.txt"), fileIn("e", "/a.txt"),
         fileIn("t", "/a.txt")});
    const std::vector<std::string> expected{"/Docs/a.txt", "/Docs/a.txt", "/Docs/a.txt", "/a.txt",
                                            "/a.txt",      "/a.txt",      "/Trail/a.txt"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(normalized[i].path, expected[i]) << i;
    }
    EXPECT_EQ(resolver.stripFolderPrefix("/Docs/Sub/a.txt", "d"), "/Sub/a.txt");
    EXPECT_EQ(resolver.stripFolderPrefix("/Docsx/a.txt", "d"), "/Docsx/a.txt");
    EXPECT_EQ(resolver.stripFolderPrefix("/Docs/a.txt", "r"), "/Docs/a.txt");
}

TEST(FolderResolverTest, DirectoryOf)
{
    EXPECT_EQ(FolderResolver::directoryOf("/a/b.txt"), "/a");
    EXPECT_EQ(FolderResolver::directoryOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(FolderResolver::directoryOf("/b.txt"), "/");
    EXPECT_EQ(FolderResolver::directoryOf("b.txt"), "");
    EXPECT_EQ(FolderResolver::directoryOf("./a.txt"), ".");
}

TEST(FolderResolverTest, ListFailureFailsLoad)
{
    auto server = std::make_shared<FakeFolderServer>();
    server->failList = true;
    FolderResolver resolver(server);
    EXPECT_THROW(resolver.load(), APIError);
}

}  // namespace
}  // namespace corvane
