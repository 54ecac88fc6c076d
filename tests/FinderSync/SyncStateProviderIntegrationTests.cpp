#include "FinderSync/FinderSyncProtocol.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FinderSync/BadgeStore.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/HelperProcess.h"
#include "Platform/MainQueue.h"
#include "Platform/PrivateBus.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// A session bus of our own for the whole run, in place before the process's notification
// center first connects.
class PrivateBusEnvironment : public testing::Environment {
public:
    void SetUp() override { m_bus = std::make_unique<test::PrivateBus>(); }
    void TearDown() override { m_bus.reset(); }

private:
    std::unique_ptr<test::PrivateBus> m_bus;
};
[[maybe_unused]] testing::Environment* const kBus =
    testing::AddGlobalTestEnvironment(std::make_unique<PrivateBusEnvironment>().release());

constexpr const char* kSentinel = "com.corvane.test.sentinel";

class SyncStateProviderIntegrationTest : public testing::Test {
protected:
    SyncStateProviderIntegrationTest() { UserDefaults::resetShared(); }
    ~SyncStateProviderIntegrationTest() override { UserDefaults::resetShared(); }

    std::filesystem::path suiteFile() const
    {
        return UserDefaults::suite(SyncStateProvider::kSuiteName)->file();
    }

    test::TempHome m_home;
    RunLoop m_loop;
    DistributedNotificationCenter m_center;  // a listener on the bus, like the extension
    SyncStateProvider& m_provider = SyncStateProvider::shared();
};

TEST_F(SyncStateProviderIntegrationTest, ABadgeIsAnnouncedOnceTheFileHoldsIt)
{
    const std::string path = "/home/u/Corvane/a.txt";
    std::vector<DistributedNotificationCenter::UserInfo> received;
    std::optional<SyncBadge> storedWhenAnnounced;
    const auto observation = m_center.observe(
        SyncStateProvider::kChangedNotification,
        [&](const std::string&, const DistributedNotificationCenter::UserInfo& info) {
            received.push_back(info);
            // What a reader that opens the file now finds.
            storedWhenAnnounced = BadgeStore(suiteFile()).badge(path);
        });
    ASSERT_TRUE(m_center.isConnected());

    m_provider.setBadge(path, SyncBadge::error);
    ASSERT_TRUE(m_loop.runUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received.front(), DistributedNotificationCenter::UserInfo{});
    EXPECT_EQ(storedWhenAnnounced, SyncBadge::error);
}

TEST_F(SyncStateProviderIntegrationTest, BadgeWritesAndClearingAnnounceThemselvesTheFolderDoesNot)
{
    int announced = 0;
    bool sentinel = false;
    const auto changes =
        m_center.observe(SyncStateProvider::kChangedNotification, [&](auto&&...) { ++announced; });
    const auto sentinels = m_center.observe(kSentinel, [&](auto&&...) { sentinel = true; });

    struct Case {
        std::string name;
        std::function<void()> operation;
        int announcements;
    };
    const std::vector<Case> cases{
        {"clearAll without a map", [&] { m_provider.clearAll(); }, 1},
        {"setBadges with nothing", [&] { m_provider.setBadges({}); }, 1},
        {"setBadge", [&] { m_provider.setBadge("/a", SyncBadge::syncing); }, 1},
        {"setBadges",
         [&] {
             m_provider.setBadges({{"/a", SyncBadge::synced}});
         },
         1},
        {"setBadges with nothing again", [&] { m_provider.setBadges({}); }, 1},
        {"clearAll", [&] { m_provider.clearAll(); }, 1},
        {"set the folder", [&] { m_provider.setSyncDirectory("/home/u/Corvane"); }, 0},
        {"remove the folder", [&] { m_provider.setSyncDirectory(std::nullopt); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        announced = 0;
        sentinel = false;
        c.operation();
        // Whatever the operation has to announce goes out now, on the same connection and so
        // ahead of the sentinel.
        m_provider.flush();
        DistributedNotificationCenter::defaultCenter()->post(kSentinel);
        ASSERT_TRUE(m_loop.runUntil([&] { return sentinel; }));
        EXPECT_EQ(announced, c.announcements);
    }
}

TEST_F(SyncStateProviderIntegrationTest, AnotherProcessReadsABadgeWithoutAnExplicitFlush)
{
    const std::string path = "/home/u/Corvane/Caf\xC3\xA9.txt";
    test::HelperProcess reader(CORVANE_FINDER_SYNC_PROBE, {"wait-badge", path, "error", "5000"});
    ASSERT_EQ(reader.readLine(), "ready");
    m_provider.setBadge(path, SyncBadge::error);
    EXPECT_EQ(reader.readLine(), "seen");
    EXPECT_EQ(reader.wait(), 0);
}

TEST_F(SyncStateProviderIntegrationTest, NamesThatAreNotUTF8KeepTheirOwnBadgesInAnotherProcess)
{
    // Latin-1 names: the bytes E9 and E8 are no UTF-8, and the two differ only in them.
    const std::string first = "/home/u/Corvane/caf\xE9.txt";
    const std::string second = "/home/u/Corvane/caf\xE8.txt";
    m_provider.setBadge(first, SyncBadge::error);
    m_provider.setBadge(second, SyncBadge::syncing);
    m_provider.flush();
    for (const auto& [path, badge] : {std::pair{first, "error"}, std::pair{second, "syncing"}}) {
        test::HelperProcess reader(CORVANE_FINDER_SYNC_PROBE, {"wait-badge", path, badge, "2000"});
        EXPECT_EQ(reader.readLine(), "ready");
        EXPECT_EQ(reader.readLine(), "seen");
        EXPECT_EQ(reader.wait(), 0);
    }
}

TEST_F(SyncStateProviderIntegrationTest, TheExtensionReadsTheNewBadgeOnEachAnnouncement)
{
    // Decomposed here, precomposed in the other process: one file.
    const std::string written = "/home/u/Corvane/Cafe\xCC\x81.txt";
    const std::string asked = "/home/u/Corvane/Caf\xC3\xA9.txt";
    test::HelperProcess extension(CORVANE_FINDER_SYNC_PROBE, {"watch-badge", asked, "3", "10000"});
    ASSERT_EQ(extension.readLine(), "ready");

    m_provider.setBadge(written, SyncBadge::syncing);
    EXPECT_EQ(extension.readLine(), "badge syncing");
    m_provider.setBadge(written, SyncBadge::error);
    EXPECT_EQ(extension.readLine(), "badge error");
    m_provider.clearAll();
    EXPECT_EQ(extension.readLine(), "badge synced");
    EXPECT_EQ(extension.wait(), 0);
}

}  // namespace
}  // namespace corvane
