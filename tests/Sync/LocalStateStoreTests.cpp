#include "Sync/LocalStateStore.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Platform/Clock.h"
#include "support/FileContents.h"
#include "support/PollUntil.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

TEST(LocalStateStoreTest, MissingFileLeavesMapEmptyAndFirstSaveCreatesIt)
{
    test::TempDir dir;
    LocalStateStore store(dir.path());
    store.load();
    EXPECT_TRUE(store.snapshot().empty());
    EXPECT_EQ(store.filePath(), dir.path() / ".corvane/sync_state.json");
    store.save();
    EXPECT_EQ(test::fileContents(store.filePath()), "{}");
}

TEST(LocalStateStoreTest, WritesCompactJsonWithEscapedSlashesAndReadsItBack)
{
    test::TempDir dir;
    LocalStateStore store(dir.path());
    const FileState state{std::string(64, 'a'), 3, "2026-12-10T09:53:27Z"};
    store.set("/docs/a.txt", state);
    store.save();

    const std::string text = test::fileContents(store.filePath());
    EXPECT_NE(text.find("\"\\/docs\\/a.txt\""), std::string::npos) << text;
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);

    LocalStateStore reread(dir.path());
    reread.load();
    EXPECT_EQ(reread.get("/docs/a.txt"), state);
}

// The file's text is what the JSON library writes for the map (keys sorted, compact), with every
// "/" escaped: the form the file has always had.
TEST(LocalStateStoreTest, TheFileTextIsTheCompactJsonOfTheMapWithEscapedSlashes)
{
    const std::map<std::string, FileState> states = {
        {"/a.txt", {std::string(64, 'a'), 1, "2026-12-10T09:53:27Z"}},
        {"/Docs/Sub/r\xC3\xA9sum\xC3\xA9.pdf", {"h", 9223372036854775807, "t"}},
        {"/quote\"and\\back", {"h", -3, "t"}},
        {"/ctl\t\n\r\b\f\x01\x1f\x7f", {"h", 0, "t"}},
        {"/emoji \xF0\x9F\x98\x80", {"h", 42, "2026-12-10T09:53:27Z"}},
    };
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [path, state] : states) {
        object[path] = {{"hash", state.hash}, {"version", state.version}, {"mtime", state.mtime}};
    }
    std::string expected;
    for (const char c : object.dump()) {
        expected += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    EXPECT_EQ(LocalStateStore::encode(states), expected);
    EXPECT_EQ(LocalStateStore::decode(expected), states);
    EXPECT_EQ(LocalStateStore::encode({}), "{}");
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
    const auto decoded = LocalStateStore::decode(test::fileContents(store.filePath()));
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

using namespace std::chrono_literals;

// The texts a store writes, in order, as its writing thread hands them over.
class WriteLog {
public:
    LocalStateStore::TestHooks hooks()
    {
        return {[this](const std::string& text) {
            {
                std::lock_guard lock(m_mutex);
                m_texts.push_back(text);
            }
            m_changed.notify_all();
        }};
    }

    // Waits (in real time) until at least `count` writes were made; their texts.
    std::vector<std::string> awaitAtLeast(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_texts.size() >= count; });
        return m_texts;
    }

    std::vector<std::string> texts()
    {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
};

FileState stateOf(std::int64_t version)
{
    return FileState{std::string(64, 'a'), version, "2026-12-10T09:53:27Z"};
}

std::map<std::string, FileState> decoded(const std::string& text)
{
    return LocalStateStore::decode(text).value_or(std::map<std::string, FileState>{});
}

// A store whose saves are paced at 200 ms on a clock the test moves, its writes logged.
class PacedStateStoreTest : public testing::Test {
protected:
    void SetUp() override { store.setTestHooks(log.hooks()); }

    // Waits (in real time) until the file holds `entries` entries: a write has ended.
    void awaitFileWith(std::size_t entries) const
    {
        test::pollUntil(
            [&] { return decoded(test::fileContents(store.filePath())).size() == entries; }, 10s);
    }

    test::TempDir dir;
    const std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    WriteLog log;
    LocalStateStore store{dir.path(), clock, 200ms};
};

TEST_F(PacedStateStoreTest, SavesAskedForWhileWorkRunsAreFoldedIntoOneWritePerInterval)
{
    store.set("/first", stateOf(1));
    store.requestSave();  // nothing written lately: at once
    ASSERT_EQ(log.awaitAtLeast(1).size(), 1u);
    awaitFileWith(1);

    for (int i = 0; i < 100; ++i) {
        store.set("/f" + std::to_string(i), stateOf(i));
        store.requestSave();
    }
    clock->advance(199ms);
    clock->advance(1ms);
    const auto texts = log.awaitAtLeast(2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(decoded(texts[1]).size(), 101u);  // the newest snapshot, all asks in one write

    store.save();  // at once, and nothing was left waiting
    EXPECT_EQ(log.texts().size(), 3u);
    EXPECT_EQ(decoded(test::fileContents(store.filePath())).size(), 101u);
    clock->advance(1s);
    store.save();
    EXPECT_EQ(log.texts().size(), 4u);
}

TEST_F(PacedStateStoreTest, AForgottenEntryIsWrittenWithoutWaitingForTheInterval)
{
    store.set("/kept", stateOf(1));
    store.set("/gone", stateOf(1));
    store.requestSave();
    ASSERT_EQ(log.awaitAtLeast(1).size(), 1u);
    awaitFileWith(2);

    store.set("/kept", stateOf(2));
    store.requestSave();  // waits for the interval
    store.remove("/gone");
    store.requestSave();  // does not
    const auto texts = log.awaitAtLeast(2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(decoded(texts[1]), (std::map<std::string, FileState>{{"/kept", stateOf(2)}}));
}

TEST_F(PacedStateStoreTest, SavesAskedForDuringAWriteWaitForTheIntervalAfterIt)
{
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> writes{0};
    store.setTestHooks({[&](const std::string&) {
        if (++writes == 1) {
            released.wait();
        }
    }});
    store.set("/a", stateOf(1));
    store.requestSave();  // written at once, and held up
    while (writes == 0) {
        std::this_thread::yield();
    }
    store.set("/b", stateOf(1));
    store.requestSave();  // during the write
    release.set_value();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(writes.load(), 1);
    clock->advance(200ms);
    store.save();  // behind the paced write, if it came
    EXPECT_GE(writes.load(), 2);
    EXPECT_EQ(decoded(test::fileContents(store.filePath())).size(), 2u);
}

TEST(LocalStateStoreTest, AStoreThatGoesWritesWhatItsSavesStillOwe)
{
    test::TempDir dir;
    const auto clock = std::make_shared<ManualClock>();
    WriteLog log;
    {
        LocalStateStore store(dir.path(), clock, 200ms);
        store.setTestHooks(log.hooks());
        store.set("/a", stateOf(1));
        store.requestSave();
        log.awaitAtLeast(1);
        store.set("/b", stateOf(1));
        store.requestSave();  // due only in 200 ms on a clock that never moves
    }
    EXPECT_EQ(decoded(test::fileContents(dir.path() / ".corvane/sync_state.json")).size(), 2u);
}

TEST(LocalStateStoreTest, AFoldedSaveNeverWritesAnOlderSnapshotOverANewerOne)
{
    test::TempDir dir;
    {
        LocalStateStore store(dir.path(), Clock::system(), 0ms);
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        std::promise<void> blocked;
        bool first = true;
        store.setTestHooks({[&](const std::string&) {
            if (std::exchange(first, false)) {
                blocked.set_value();
                released.wait();  // the first write stalls with its snapshot taken
            }
        }});
        store.set("/x", stateOf(1));
        store.requestSave();
        blocked.get_future().wait();
        store.set("/x", stateOf(2));
        std::jthread stopping([&] { store.save(); });  // as the engine's stop does
        std::this_thread::sleep_for(20ms);             // let it come while the write stalls
        release.set_value();
    }  // the store goes once its writes are done
    EXPECT_EQ(decoded(test::fileContents(dir.path() / ".corvane/sync_state.json")).at("/x").version,
              2);

    // Many writers asking at once: every key only ever moves forward from one write to the next.
    WriteLog log;
    LocalStateStore store(dir.path(), Clock::system(), 0ms);
    store.setTestHooks(log.hooks());
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                store.set("/t" + std::to_string(t), stateOf(i));
                if (i % 50 == 0) {
                    store.save();
                } else {
                    store.requestSave();
                }
            }
        });
    }
    writers.clear();
    store.save();
    std::map<std::string, std::int64_t> seen;
    for (const std::string& text : log.texts()) {
        for (const auto& [path, state] : decoded(text)) {
            EXPECT_GE(state.version, seen[path]) << path;
            seen[path] = state.version;
        }
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(
            decoded(test::fileContents(store.filePath())).at("/t" + std::to_string(t)).version,
            199);
    }
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
