#include "FinderSync/FinderSyncProtocol.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Models/DecodingError.h"
#include "Models/JsonCoding.h"
#include "Platform/Paths.h"
#include "Platform/UserDefaults.h"
#include "support/PollUntil.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

// "Café" spelt precomposed (NFC) and decomposed (NFD).
const std::string kCafeNFC = "/home/u/Corvane/Caf\xC3\xA9.txt";
const std::string kCafeNFD = "/home/u/Corvane/Cafe\xCC\x81.txt";

class SyncStateProviderTest : public testing::Test {
protected:
    SyncStateProviderTest() { UserDefaults::resetShared(); }
    ~SyncStateProviderTest() override { UserDefaults::resetShared(); }

    std::shared_ptr<UserDefaults> suite() const
    {
        return UserDefaults::suite(SyncStateProvider::kSuiteName);
    }
    std::optional<UserDefaults::StringDictionary> storedBadges() const
    {
        return suite()->stringDictionary(SyncStateProvider::kStateKey);
    }

    test::TempHome m_home;
    SyncStateProvider& m_provider = SyncStateProvider::shared();
};

TEST(SyncBadgeTest, RawValuesBothWays)
{
    for (const auto& [badge, raw] :
         {std::pair{SyncBadge::synced, "synced"}, std::pair{SyncBadge::syncing, "syncing"},
          std::pair{SyncBadge::error, "error"}, std::pair{SyncBadge::ignored, "ignored"}}) {
        EXPECT_EQ(rawValue(badge), raw);
        EXPECT_EQ(syncBadgeFromRawValue(raw), badge);
        std::ostringstream out;
        out << badge;
        EXPECT_EQ(out.str(), raw);
    }
    for (const char* foreign : {"", "Synced", "synced ", "notSynced"}) {
        EXPECT_EQ(syncBadgeFromRawValue(foreign), std::nullopt) << foreign;
    }
}

TEST(FileSyncStateTest, CodesPathAndBadge)
{
    EXPECT_EQ(
        nlohmann::json::parse(encode(FileSyncState{"/home/u/Corvane/a b.txt", SyncBadge::ignored})),
        nlohmann::json::parse(R"({"path":"/home/u/Corvane/a b.txt","badge":"ignored"})"));
    EXPECT_EQ(decode<FileSyncState>(R"({"badge":"error","path":"/a","other":1})"),
              (FileSyncState{"/a", SyncBadge::error}));

    struct Case {
        std::string text;
        DecodingError::Kind kind;
    };
    for (const Case& c :
         {Case{R"({"path":"/a"})", DecodingError::Kind::keyNotFound},
          Case{R"({"badge":"error"})", DecodingError::Kind::keyNotFound},
          Case{R"({"path":"/a","badge":"Error"})", DecodingError::Kind::dataCorrupted},
          Case{R"({"path":"/a","badge":1})", DecodingError::Kind::typeMismatch}}) {
        try {
            decode<FileSyncState>(c.text);
            ADD_FAILURE() << "decoded " << c.text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.text << ": " << error.what();
        }
    }
}

TEST_F(SyncStateProviderTest, APathNeverBadgedOrClearedReadsSynced)
{
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/a.txt"), SyncBadge::synced);
    m_provider.setBadge("/home/u/Corvane/a.txt", SyncBadge::error);
    m_provider.setBadge("/home/u/Corvane/b.txt", SyncBadge::ignored);
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/a.txt"), SyncBadge::error);
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/b.txt"), SyncBadge::ignored);
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/c.txt"), SyncBadge::synced);

    m_provider.clearAll();
    EXPECT_FALSE(suite()->contains(SyncStateProvider::kStateKey));
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/a.txt"), SyncBadge::synced);
    EXPECT_EQ(m_provider.getBadge("/home/u/Corvane/b.txt"), SyncBadge::synced);
    m_provider.clearAll();  // nothing to remove: still fine
}

TEST_F(SyncStateProviderTest, ForeignStoredValues)
{
    struct Case {
        std::string stored;
        SyncBadge a;  // the badge "/a" reads as
        SyncBadge b;  // the badge "/b" reads as
    };
    for (const Case& c : {
             // A value that is no badge reads synced; its neighbours keep theirs.
             Case{R"({"/a":"bogus","/b":"error"})", SyncBadge::synced, SyncBadge::error},
             // One entry that is not a text spoils the whole map.
             Case{R"({"/a":"error","/b":"ignored","/c":3})", SyncBadge::synced, SyncBadge::synced},
             Case{R"({"/a":"error","/b":null})", SyncBadge::synced, SyncBadge::synced},
             Case{R"("error")", SyncBadge::synced, SyncBadge::synced},
             Case{R"(["/a","error"])", SyncBadge::synced, SyncBadge::synced},
         }) {
        SCOPED_TRACE(c.stored);
        suite()->setJSON(SyncStateProvider::kStateKey, nlohmann::json::parse(c.stored));
        EXPECT_EQ(m_provider.getBadge("/a"), c.a);
        EXPECT_EQ(m_provider.getBadge("/b"), c.b);
    }
    // The next write starts over from an empty map.
    m_provider.setBadge("/c", SyncBadge::syncing);
    EXPECT_EQ(storedBadges(), (UserDefaults::StringDictionary{{"/c", "syncing"}}));
}

TEST_F(SyncStateProviderTest, CanonicallyEquivalentSpellingsShareOneEntry)
{
    m_provider.setBadge(kCafeNFD, SyncBadge::syncing);
    EXPECT_EQ(m_provider.getBadge(kCafeNFC), SyncBadge::syncing);
    m_provider.setBadge(kCafeNFC, SyncBadge::error);
    EXPECT_EQ(m_provider.getBadge(kCafeNFD), SyncBadge::error);
    m_provider.setBadges({{kCafeNFD, SyncBadge::ignored}});
    EXPECT_EQ(m_provider.getBadge(kCafeNFC), SyncBadge::ignored);
    EXPECT_EQ(storedBadges()->size(), 1u);
}

TEST_F(SyncStateProviderTest, ALaterBadgeReplacesTheEarlierOne)
{
    m_provider.setBadge("/home/u/Corvane/a.txt", SyncBadge::syncing);
    m_provider.setBadge("/home/u/Corvane/a.txt", SyncBadge::synced);
    EXPECT_EQ(storedBadges(),
              (UserDefaults::StringDictionary{{"/home/u/Corvane/a.txt", "synced"}}));
}

TEST_F(SyncStateProviderTest, SetBadgesAddsToTheMap)
{
    m_provider.setBadges({});
    EXPECT_EQ(storedBadges(), UserDefaults::StringDictionary{});  // written back, empty
    m_provider.setBadge("/a", SyncBadge::error);
    m_provider.setBadges({{"/b", SyncBadge::syncing}, {"/a", SyncBadge::synced}});
    m_provider.setBadges({});
    EXPECT_EQ(storedBadges(),
              (UserDefaults::StringDictionary{{"/a", "synced"}, {"/b", "syncing"}}));
}

TEST_F(SyncStateProviderTest, SyncDirectoryIsSetReadAndRemoved)
{
    EXPECT_EQ(m_provider.syncDirectory(), std::nullopt);
    m_provider.setSyncDirectory("/home/u/Corvane");
    EXPECT_EQ(m_provider.syncDirectory(), "/home/u/Corvane");
    EXPECT_EQ(suite()->string(SyncStateProvider::kSyncDirKey), "/home/u/Corvane");
    m_provider.setSyncDirectory(std::nullopt);
    EXPECT_FALSE(suite()->contains(SyncStateProvider::kSyncDirKey));
    EXPECT_EQ(m_provider.syncDirectory(), std::nullopt);
    suite()->setInteger(SyncStateProvider::kSyncDirKey, 7);
    EXPECT_EQ(m_provider.syncDirectory(), std::nullopt);
}

TEST_F(SyncStateProviderTest, BadgesReachTheSuiteFileWithoutAnExplicitFlush)
{
    m_provider.setBadge(kCafeNFC, SyncBadge::syncing);
    m_provider.setSyncDirectory("/home/u/Corvane");
    // Another reader of the same file, as the extension's process has.
    UserDefaults other(suite()->file());
    const UserDefaults::StringDictionary expected{{kCafeNFC, "syncing"}};
    test::pollUntil([&] {
        other.synchronize();
        return other.stringDictionary(SyncStateProvider::kStateKey) == expected;
    });
    EXPECT_EQ(other.stringDictionary(SyncStateProvider::kStateKey), expected);
    EXPECT_EQ(other.string(SyncStateProvider::kSyncDirKey), "/home/u/Corvane");
    EXPECT_EQ(suite()->file(),
              Paths::config() / (std::string(SyncStateProvider::kSuiteName) + ".json"));
}

}  // namespace
}  // namespace corvane
