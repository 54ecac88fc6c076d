#include "Sync/LocalStateStore.h"

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TempHome.h"

namespace corvane {
namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(LocalStateStoreTest, MissingFileLeavesMapEmptyAndFirstSaveCreatesIt)
{
    test::TempDir dir;
    LocalStateStore store(dir.path());
    store.load();
    EXPECT_TRUE(store.snapshot().empty());
    EXPECT_EQ(store.filePath(), dir.path() / ".corvane/sync_state.json");
    store.save();
    EXPECT_EQ(readFile(store.filePath()), "{}");
}

TEST(LocalStateStoreTest, WritesCompactJsonWithEscapedSlashesAndReadsItBack)
{
    test::TempDir dir;
    LocalStateStore store(dir.path());
    const FileState state{std::string(64, 'a'), 3, "2026-12-10T09:53:27Z"};
    store.set("/docs/a.txt", state);
    store.save();

    const std::string text = readFile(store.filePath());
    EXPECT_NE(text.find("\"\\/docs\\/a.txt\""), std::string::npos) << text;
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);

    LocalStateStore reread(dir.path());
    reread.load();
    EXPECT_EQ(reread.get("/docs/a.txt"), state);
}

TEST(LocalStateStoreTest, OneBadRecordDiscardsTheWholeFile)
{
    const char* badFiles[] = {
        R"({"/a":{"hash":"h","version":1}})",                        // no mtime
        R"({"/a":{"hash":"h","version":"1","mtime":"m"}})",          // version as text
        R"({"/a":{"hash":"h","version":1.5,"mtime":"m"}})",          // fractional version
        R"({"/a":{"hash":"h","version":1,"mtime":"m"},"/b":null})",  // one null record
        R"([1,2])",                                                  // not an object
        R"({"/a":)",                                                 // truncated
    };
    for (const char* text : badFiles) {
        test::TempDir dir;
        std::filesystem::create_directories(dir.path() / ".corvane");
        std::ofstream(dir.path() / ".corvane/sync_state.json") << text;
        LocalStateStore store(dir.path());
        store.set("/kept", FileState{"k", 1, "t"});
        store.load();
        EXPECT_EQ(store.snapshot().size(), 1u) << text;
        EXPECT_TRUE(store.get("/kept")) << text;
    }
}

TEST(LocalStateStoreTest, ExtraMembersAreIgnoredAndLoadReplacesTheMap)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / ".corvane");
    std::ofstream(dir.path() / ".corvane/sync_state.json")
        << R"({"\/x":{"hash":"h","version":2,"mtime":"m","extra":true}})";
    LocalStateStore store(dir.path());
    store.set("/old", FileState{"o", 1, "t"});
    store.load();
    EXPECT_FALSE(store.get("/old"));
    EXPECT_EQ(store.get("/x"), (FileState{"h", 2, "m"}));
}

TEST(LocalStateStoreTest, ConcurrentSavesAlwaysLeaveOneCompleteSnapshot)
{
    test::TempDir dir;
    LocalStateStore store(dir.path());
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                store.set("/t" + std::to_string(t) + "/" + std::to_string(i),
                          FileState{std::string(64, 'f'), i, currentStateTime()});
                store.save();
            }
        });
    }
    writers.clear();
    store.save();
    const auto decoded = LocalStateStore::decode(readFile(store.filePath()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), 200u);
    // No temporary file is left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(dir.path() / ".corvane")) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST(FileStateTest, TimeIsIsoUtcToTheSecond)
{
    const std::string now = currentStateTime();
    ASSERT_EQ(now.size(), 20u) << now;
    EXPECT_EQ(now[4], '-');
    EXPECT_EQ(now[10], 'T');
    EXPECT_EQ(now.back(), 'Z');
}

}  // namespace
}  // namespace corvane
