#include "Sync/SyncPaths.h"

#include "Sync/ContentHash.h"

#include <fstream>

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace corvane {
namespace {

TEST(SyncPathsTest, RelativePath)
{
    struct Case {
        const char* syncDir;
        const char* absolute;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"/Users/u/Sync", "/Users/u/Sync/a/b.txt", "a/b.txt"},
        {"/Users/u/Sync", "/Users/u/Sync", ""},
        {"/Users/u/Sync", "/Users/u/Sync/", ""},
        {"/Users/u/Sync", "/Users/u/SyncOther/x", std::nullopt},
        {"/Users/u/Sync/", "/Users/u/Sync/a/b.txt", "a/b.txt"},
        {"/Users/u/Sync/", "/Users/u/Sync/", ""},
        {"/Users/u/Sync/", "/Users/u/Sync", ""},
        {"/", "/a.txt", "a.txt"},
        {"/", "/", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SyncPaths(c.syncDir).relativePath(c.absolute), c.expected)
            << c.syncDir << " " << c.absolute;
    }
}

TEST(SyncPathsTest, EverySpellingOfTheSyncFolderIsOneFolder)
{
    // The file event stream reports paths under the folder's plain spelling.
    const std::string cwd = std::filesystem::current_path().string();
    struct Case {
        std::string syncDir;
        std::string plain;
    };
    const Case cases[] = {
        {"/home/u/Sync", "/home/u/Sync"},
        {"/home/u/Sync/", "/home/u/Sync"},
        {"/home/u/Sync//", "/home/u/Sync"},
        {"/home//u/Sync", "/home/u/Sync"},
        {"/home/u/./Sync/.", "/home/u/Sync"},
        {"/home/u/x/../Sync", "/home/u/Sync"},
        {"Sync", cwd + "/Sync"},
        {"./Sync/", cwd + "/Sync"},
    };
    for (const auto& c : cases) {
        const SyncPaths paths(c.syncDir);
        EXPECT_EQ(paths.syncDir(), c.plain) << c.syncDir;
        EXPECT_EQ(paths.relativePath(c.plain + "/Docs/a.txt"), "Docs/a.txt") << c.syncDir;
        EXPECT_EQ(paths.relativePath(c.plain), "") << c.syncDir;
        EXPECT_EQ(paths.localPath("/Docs/a.txt"), c.plain + "/Docs/a.txt") << c.syncDir;
    }
}

TEST(SyncPathsTest, LocalPathDropsTheFirstCharacter)
{
    const SyncPaths paths("/home/u/Sync");
    EXPECT_EQ(paths.localPath("/a.txt"), "/home/u/Sync/a.txt");
    EXPECT_EQ(paths.localPath("/Docs/b.txt"), "/home/u/Sync/Docs/b.txt");
}

TEST(SyncPathsTest, RemotePathsAreCheckedBeforeUse)
{
    test::TempDir dir;
    const SyncPaths paths(dir.path());
    struct Case {
        std::string input;
        std::optional<std::string> accepted;
    };
    const Case cases[] = {
        {"/Docs/a.txt", "/Docs/a.txt"},
        {"a.txt", "/a.txt"},  // gains a "/", loses nothing
        {"/a b/ü.txt", "/a b/ü.txt"},
        {"/c.d/e.txt", "/c.d/e.txt"},
        {"/../etc/passwd", std::nullopt},
        {"/Docs/../../x", std::nullopt},
        {"/./a", std::nullopt},
        {"//a", std::nullopt},
        {"/a/", std::nullopt},
        {"/", std::nullopt},
        {"", std::nullopt},
        {"/.corvane/sync_state.json", std::nullopt},
        {"/Docs/.hidden", std::nullopt},
        {std::string("/a\0b", 4), std::nullopt},
        {"/bad\xff.txt", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(paths.checkRemotePath(c.input).path, c.accepted) << c.input;
    }
}

TEST(SyncPathsTest, RemotePathsThroughSymbolicLinksAreRefused)
{
    test::TempDir dir;
    test::TempDir outside;
    std::filesystem::create_symlink(outside.path(), dir.path() / "link");
    std::filesystem::create_symlink(outside.path() / "f", dir.path() / "file-link");
    const SyncPaths paths(dir.path());
    EXPECT_FALSE(paths.checkRemotePath("/link/a.txt").path);
    EXPECT_FALSE(paths.checkRemotePath("/file-link").path);
    EXPECT_TRUE(paths.checkRemotePath("/other/a.txt").path);
}

TEST(SyncPathsTest, RemoteNamesAreOnePlainComponent)
{
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"report.pdf", true},
        {"ü b.txt", true},
        {"a..b", true},
        {"", false},
        {".", false},
        {"..", false},
        {".hidden", false},
        {"a/b.txt", false},
        {"/a.txt", false},
        {"a.txt/", false},
        {std::string("a\0b", 3), false},
        {"bad\xff.txt", false},
    };
    for (const auto& c : cases) {
        const auto checked = SyncPaths::checkRemoteName(c.name);
        EXPECT_EQ(checked.path.has_value(), c.accepted) << c.name;
        EXPECT_EQ(checked.refusal.empty(), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(*checked.path, c.name);
        }
    }
}

TEST(ContentHashTest, HashesEmptyAndLargeFiles)
{
    test::TempDir dir;
    std::ofstream(dir.path() / "empty");
    EXPECT_EQ(hashFile(dir.path() / "empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    {
        std::ofstream file(dir.path() / "abc");
        file << "abc";
    }
    EXPECT_EQ(hashFile(dir.path() / "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Exactly one read size, then more than one: same hash as feeding the bytes at once.
    for (const std::size_t size : {std::size_t{262144}, std::size_t{262144 * 3 + 17}}) {
        const std::string bytes(size, 'x');
        std::ofstream(dir.path() / "big", std::ios::binary) << bytes;
        Sha256 expected;
        expected.update(bytes);
        EXPECT_EQ(hashFile(dir.path() / "big"), expected.finish()) << size;
    }
    EXPECT_THROW(hashFile(dir.path() / "missing"), std::exception);
}

}  // namespace
}  // namespace corvane
