#include "Sync/LocalScanner.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/FileContents.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> keysOf(const std::map<std::string, std::string>& map)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : map) {
        keys.push_back(key);
    }
    return keys;
}

// A scan and what it reported left out.
struct Scan {
    std::vector<std::string> files;
    std::vector<std::string> skipped;
};

Scan scan(const fs::path& syncDir)
{
    Scan result;
    const LocalScanner scanner{SyncPaths(syncDir)};
    result.files = keysOf(scanner.scanLocalFiles(
        [&](const std::string& path, const std::string&) { result.skipped.push_back(path); }));
    return result;
}

TEST(LocalScannerTest, ScanTakesRegularFilesOutsideHiddenEntriesOnly)
{
    test::TempDir dir;
    const fs::path sync = dir.path() / "Sync";
    test::writeFileContents(sync / "docs/a.txt", "a");
    test::writeFileContents(sync / "docs/.hidden/b.txt", "b");
    test::writeFileContents(sync / ".git/config", "c");
    test::writeFileContents(sync / "x/.DS_Store", "d");
    test::writeFileContents(sync / "c.d/e.txt", "e");
    test::writeFileContents(sync / ".corvane/sync_state.json", "{}");
    fs::create_directories(sync / "empty");
    const Scan result = scan(sync);
    EXPECT_EQ(result.files, (std::vector<std::string>{"/c.d/e.txt", "/docs/a.txt"}));
    EXPECT_TRUE(result.skipped.empty());
}

TEST(LocalScannerTest, SymbolicLinksAreNotFollowed)
{
    test::TempDir dir;
    const fs::path sync = dir.path() / "Sync";
    const fs::path outside = dir.path() / "Outside";
    test::writeFileContents(outside / "private.txt", "not to be uploaded");
    test::writeFileContents(outside / "deep/more.txt", "nor this");
    test::writeFileContents(sync / "real.txt", "real");
    fs::create_directories(sync / "docs");
    fs::create_directory_symlink(outside, sync / "docs/outside-folder");
    fs::create_symlink(outside / "private.txt", sync / "outside-file.txt");
    fs::create_symlink(sync / "real.txt", sync / "inside-file.txt");
    fs::create_symlink(sync / "missing.txt", sync / "dangling.txt");
    const Scan result = scan(sync);
    EXPECT_EQ(result.files, std::vector<std::string>{"/real.txt"});
}

TEST(LocalScannerTest, NamesThatAreNotUtf8AreReportedOnceAndLeftOut)
{
    test::TempDir dir;
    const fs::path sync = dir.path() / "Sync";
    test::writeFileContents(sync / "bad\xff.txt", "x");
    test::writeFileContents(sync / "bad\xfe folder/one.txt", "y");
    test::writeFileContents(sync / "bad\xfe folder/two.txt", "z");
    test::writeFileContents(sync / "good.txt", "g");
    Scan result = scan(sync);
    EXPECT_EQ(result.files, std::vector<std::string>{"/good.txt"});
    std::sort(result.skipped.begin(), result.skipped.end());
    EXPECT_EQ(result.skipped, (std::vector<std::string>{"/bad\xfe folder", "/bad\xff.txt"}));
}

FileInfo file(const std::string& path)
{
    FileInfo info;
    info.path = path;
    return info;
}

FolderTree tree(const std::string& path, std::optional<std::vector<FileInfo>> files,
                std::optional<std::vector<FolderTree>> children)
{
    return FolderTree{"id" + path, path, path, std::move(children), std::move(files)};
}

std::vector<std::string> pathsOf(const std::vector<FileInfo>& files)
{
    std::vector<std::string> paths;
    for (const FileInfo& info : files) {
        paths.push_back(info.path);
    }
    return paths;
}

TEST(LocalScannerTest, CollectFilesTakesOwnFilesFirstThenChildrenDepthFirst)
{
    struct Case {
        const char* name;
        FolderTree tree;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"no lists", tree("/A", std::nullopt, std::nullopt), {}},
        {"empty lists", tree("/A", std::vector<FileInfo>{}, std::vector<FolderTree>{}), {}},
        {"files only", tree("/A", std::vector{file("a1"), file("a2")}, std::nullopt), {"a1", "a2"}},
        {"nested",
         tree("/A", std::vector{file("a")},
              std::vector{tree("/A/B", std::vector{file("b")},
                               std::vector{tree("/A/B/C", std::vector{file("c")}, std::nullopt)}),
                          tree("/A/D", std::vector{file("d")}, std::nullopt)}),
         {"a", "b", "c", "d"}},
        {"only children hold files",
         tree("/A", std::nullopt, std::vector{tree("/A/B", std::vector{file("b")}, std::nullopt)}),
         {"b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pathsOf(LocalScanner::collectFiles(c.tree)), c.expected) << c.name;
    }
}

// Every folder below `root`, relative to it.
std::vector<std::string> foldersBelow(const fs::path& root)
{
    std::vector<std::string> folders;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_directory()) {
            folders.push_back(entry.path().lexically_relative(root).string());
        }
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

TEST(LocalScannerTest, CreateLocalFoldersFollowsEachFoldersOwnPath)
{
    struct Case {
        const char* name;
        FolderTree tree;
        bool skipSelf;
        std::vector<std::string> created;
        std::vector<std::string> refused;
    };
    const Case cases[] = {
        {"root skips itself",
         tree("/__root__", std::nullopt,
              std::vector{tree("/Photos", std::nullopt,
                               std::vector{tree("/Photos/Trips", std::nullopt, std::nullopt)})}),
         true,
         {"Photos", "Photos/Trips"},
         {}},
        {"a top-level folder and its child",
         tree("/Docs", std::nullopt, std::vector{tree("Docs/Sub", std::nullopt, std::nullopt)}),
         false,
         {"Docs", "Docs/Sub"},
         {}},
        {"empty path: only the children",
         tree("", std::nullopt, std::vector{tree("/Child", std::nullopt, std::nullopt)}),
         false,
         {"Child"},
         {}},
        {"refused paths create nothing",
         tree("/Docs", std::nullopt,
              std::vector{tree("/Docs/../../escaped", std::nullopt, std::nullopt),
                          tree("/.corvane/x", std::nullopt, std::nullopt),
                          tree("/Docs/.hidden", std::nullopt, std::nullopt),
                          tree("/Docs//gap", std::nullopt, std::nullopt),
                          tree("/Docs/ok", std::nullopt, std::nullopt)}),
         false,
         {"Docs", "Docs/ok"},
         {"/Docs/../../escaped", "/.corvane/x", "/Docs/.hidden", "/Docs//gap"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const fs::path sync = dir.path() / "Sync";
        fs::create_directories(sync);
        std::vector<std::string> refused;
        LocalScanner(SyncPaths(sync))
            .createLocalFolders(c.tree, c.skipSelf,
                                [&](const std::string& path, const std::string& reason) {
                                    EXPECT_FALSE(reason.empty());
                                    refused.push_back(path);
                                });
        EXPECT_EQ(foldersBelow(sync), c.created);
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(foldersBelow(dir.path()).size(), c.created.size() + 1) << "outside the folder";
    }
}

}  // namespace
}  // namespace corvane
