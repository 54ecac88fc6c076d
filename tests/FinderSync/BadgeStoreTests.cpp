#include "FinderSync/BadgeStore.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Platform/SettingsFile.h"
#include "Platform/UserDefaults.h"
#include "Platform/UserDefaultsFixture.h"
#include "support/FileContents.h"
#include "support/PollUntil.h"

namespace corvane {
namespace {

using nlohmann::json;
using StringDictionary = UserDefaults::StringDictionary;

constexpr const char* kKey = SyncStateProvider::kStateKey;

class BadgeStoreTest : public test::UserDefaultsFixture {};

TEST_F(BadgeStoreTest, EntriesChangeInPlace)
{
    // The map and the plain settings of one file, as the app group's suite holds them.
    const auto file = std::make_shared<SettingsFile>(suiteFile());
    BadgeStore badges(file);
    UserDefaults defaults(file);
    badges.setBadge("/a", SyncBadge::synced);
    badges.setBadge("/b", SyncBadge::error);
    badges.setBadge("/a", SyncBadge::syncing);
    EXPECT_EQ(defaults.stringDictionary(kKey),
              (StringDictionary{{"/a", "syncing"}, {"/b", "error"}}));
    EXPECT_EQ(badges.badge("/b"), SyncBadge::error);
    EXPECT_EQ(badges.badge("/c"), std::nullopt);

    // One foreign member spoils the whole map; the next entry write starts over.
    defaults.setJSON(kKey, json{{"/a", "synced"}, {"/n", 5}});
    EXPECT_EQ(badges.badge("/a"), std::nullopt);
    badges.setBadge("/z", SyncBadge::ignored);
    EXPECT_EQ(defaults.stringDictionary(kKey), (StringDictionary{{"/z", "ignored"}}));

    defaults.setString(kKey, "not a dictionary");
    badges.setBadges({{"/x", SyncBadge::synced}, {"/y", SyncBadge::error}});
    EXPECT_EQ(defaults.stringDictionary(kKey),
              (StringDictionary{{"/x", "synced"}, {"/y", "error"}}));

    badges.clear();
    EXPECT_FALSE(defaults.contains(kKey));
    badges.setBadges({});
    EXPECT_EQ(defaults.stringDictionary(kKey), StringDictionary{});
}

TEST_F(BadgeStoreTest, TheSuitesStoreSharesTheSuitesSettingsInThisProcess)
{
    auto badges = BadgeStore::ofSuite(SyncStateProvider::kSuiteName);
    ASSERT_TRUE(badges);
    badges->setBadge("/sync/a", SyncBadge::error);
    // Seen at once, before any write of the file: one copy of the values in this process.
    const auto suite = UserDefaults::suite(SyncStateProvider::kSuiteName);
    EXPECT_EQ(suite->stringDictionary(kKey), (StringDictionary{{"/sync/a", "error"}}));
    suite->setString(SyncStateProvider::kSyncDirKey, "/sync");
    badges->flush();
    const UserDefaults reader(suite->file());
    EXPECT_EQ(reader.string(SyncStateProvider::kSyncDirKey), "/sync");
    EXPECT_EQ(reader.stringDictionary(kKey), (StringDictionary{{"/sync/a", "error"}}));
    EXPECT_FALSE(BadgeStore::ofSuite("a/b"));
}

TEST_F(BadgeStoreTest, AMapThatIsSlowToReadIsReadAgainOnlyAfterAPause)
{
    using std::chrono::steady_clock;
    // A badge map of a size that takes well over a millisecond to read.
    json values{{kKey, json::object()}};
    for (int i = 0; i < 50000; ++i) {
        values[kKey]["/home/u/Corvane/f" + std::to_string(i / 100) + "/" + std::to_string(i)] =
            "synced";
    }
    test::writeFileContents(suiteFile(), values.dump());
    values[kKey]["/home/u/Corvane/f0/0"] = "error";
    const std::filesystem::path next = suiteFile().string() + ".next";
    test::writeFileContents(next, values.dump());

    const auto start = steady_clock::now();
    BadgeStore reader(suiteFile());
    const auto readEnd = steady_clock::now();
    // Another process replaces the file right after the read.
    std::filesystem::rename(next, suiteFile());
    const auto asked = steady_clock::now();
    const bool readAgain = reader.synchronize();
    const auto pause =
        std::min<steady_clock::duration>(readEnd - start, BadgeStore::kMaxReloadPause);
    if (asked - readEnd < pause / 2) {
        EXPECT_FALSE(readAgain);
        EXPECT_EQ(reader.badge("/home/u/Corvane/f0/0"), SyncBadge::synced);
    }
    // After the pause it is read, and nothing more waits.
    test::pollUntil([&] { return reader.synchronize(); });
    EXPECT_EQ(reader.badge("/home/u/Corvane/f0/0"), SyncBadge::error);
    EXPECT_TRUE(reader.synchronize());
}

TEST_F(BadgeStoreTest, WhenPersistedRunsAfterTheFileHoldsTheChange)
{
    BadgeStore badges(suiteFile());
    std::optional<SyncBadge> seenInCallback;
    std::atomic<int> calls{0};
    badges.setBadge("/sync/a", SyncBadge::error);
    badges.whenPersisted("changed", [&] {
        seenInCallback = BadgeStore(suiteFile()).badge("/sync/a");
        ++calls;
    });
    badges.flush();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(seenInCallback, SyncBadge::error);

    // Waiting callbacks with one tag collapse; a callback without any change still runs.
    std::atomic<int> tagged{0};
    for (int i = 0; i < 50; ++i) {
        badges.whenPersisted("burst", [&] { ++tagged; });
    }
    badges.flush();
    EXPECT_GE(tagged.load(), 1);
    EXPECT_LT(tagged.load(), 50);
}

TEST_F(BadgeStoreTest, ACallbackThatThrowsNeitherStopsTheOthersNorTheStore)
{
    std::atomic<int> calls{0};
    testing::internal::CaptureStderr();
    {
        BadgeStore badges(suiteFile());
        badges.setBadge("/sync/a", SyncBadge::syncing);
        badges.whenPersisted("a", [] { throw std::runtime_error("callback broke"); });
        badges.whenPersisted("b", [&] { ++calls; });
        badges.flush();
        EXPECT_EQ(calls.load(), 1);
        badges.whenPersisted("a", [] { throw std::runtime_error("again"); });
    }  // destruction writes and runs the waiting callback
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "settings persisted callback failed: callback broke\n"
              "settings persisted callback failed: again\n");
    EXPECT_EQ(BadgeStore(suiteFile()).badge("/sync/a"), SyncBadge::syncing);
}

}  // namespace
}  // namespace corvane
