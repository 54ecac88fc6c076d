#include "FinderSync/FinderSyncExtension.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FinderSync/FakeFinderSyncController.h"
#include "FinderSync/FakePasteboard.h"
#include "FinderSync/FakeWorkspace.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/HelperProcess.h"
#include "Platform/MainQueue.h"
#include "Platform/PrivateBus.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using UserInfo = DistributedNotificationCenter::UserInfo;

constexpr const char* kSyncDir = "/home/u/Sync";

// The extension on a private session bus, with a second center playing the application.
class FinderSyncNotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_center->isConnected());
        ASSERT_TRUE(m_application->isConnected());
        SyncStateProvider::shared().setSyncDirectory(kSyncDir);
        // On disk before another process writes, or our unsaved value would win over its.
        UserDefaults::suite(SyncStateProvider::kSuiteName)->flush();
        m_extension =
            std::make_unique<CorvaneFinderSync>(m_controller, m_pasteboard, m_workspace, m_center);
    }

    void TearDown() override
    {
        m_extension.reset();
        UserDefaults::resetShared();
    }

    // Posts a marker after `before` and runs the loop until the marker is back: whatever
    // `before` posted has been delivered by then, since the bus keeps one sender's order.
    void settle()
    {
        bool seen = false;
        const auto observation =
            m_application->observe("test.marker", [&](auto&&...) { seen = true; });
        m_application->post("test.marker");
        ASSERT_TRUE(m_loop.runUntil([&] { return seen; }));
    }

    test::TempHome m_home;
    test::PrivateBus m_bus;
    RunLoop m_loop;
    const std::shared_ptr<DistributedNotificationCenter> m_center =
        std::make_shared<DistributedNotificationCenter>();
    const std::shared_ptr<DistributedNotificationCenter> m_application =
        std::make_shared<DistributedNotificationCenter>();
    test::FakeFinderSyncController m_controller;
    test::FakePasteboard m_pasteboard;
    test::FakeWorkspace m_workspace;
    std::unique_ptr<CorvaneFinderSync> m_extension;
};

TEST_F(FinderSyncNotificationTest, ShareLinkReadyPutsTheLinkOnThePasteboard)
{
    m_application->post("com.corvane.shareLinkReady");
    m_application->post("com.corvane.shareLinkReady", {{"other", "http://x/s/0"}});
    settle();
    EXPECT_TRUE(m_pasteboard.calls.empty());

    m_application->post("com.corvane.shareLinkReady", {{"link", "http://x/s/1"}});
    ASSERT_TRUE(m_loop.runUntil([&] { return !m_pasteboard.calls.empty(); }));
    EXPECT_EQ(m_pasteboard.calls, (std::vector<std::string>{"clear", "set http://x/s/1"}));
}

TEST_F(FinderSyncNotificationTest, CopyLinkPostsTheAbsolutePathForEverySelectedItem)
{
    std::vector<UserInfo> posted;
    const auto observation = m_application->observe(
        "com.corvane.copyLink",
        [&](const std::string&, const UserInfo& userInfo) { posted.push_back(userInfo); });

    const std::vector<std::string> paths{"/home/u/Sync/docs/a b.txt", kSyncDir,
                                         "/home/u/Sync2/a.txt", "/tmp/outside.txt"};
    for (const auto& path : paths) {
        m_controller.selection = {path, "/home/u/Sync/second.txt"};
        m_extension->copyLink();
    }
    m_controller.selection.clear();
    m_extension->copyLink();  // no selection: nothing posted

    ASSERT_TRUE(m_loop.runUntil([&] { return posted.size() >= paths.size(); }));
    settle();
    ASSERT_EQ(posted.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(posted[i], (UserInfo{{"path", paths[i]}}));
    }
    // Only the two items inside the sync folder had a link to copy.
    EXPECT_EQ(m_pasteboard.calls,
              (std::vector<std::string>{"clear", "set http://localhost:8080/files/docs/a b.txt",
                                        "clear", "set http://localhost:8080/files"}));
}

TEST_F(FinderSyncNotificationTest, ViewOnlineAndShareWithPostNothing)
{
    bool posted = false;
    const auto observation =
        m_application->observe("com.corvane.copyLink", [&](auto&&...) { posted = true; });
    m_controller.selection = {"/home/u/Sync/a.txt"};
    m_extension->viewOnline();
    m_extension->shareWith();
    settle();
    EXPECT_FALSE(posted);
    EXPECT_EQ(m_workspace.opened.size(), 2u);
}

TEST_F(FinderSyncNotificationTest, ChangesWrittenByTheApplicationProcessReachTheExtension)
{
    const std::string path = "/home/u/Moved/r\xC3\xA9sum\xC3\xA9.pdf";
    m_extension->requestBadgeIdentifier(path);
    ASSERT_EQ(m_controller.badgeIdentifiers[path], "synced");
    ASSERT_EQ(m_controller.watchedFolders.size(), 1u);

    test::HelperProcess application(CORVANE_FINDER_SYNC_APP_PROBE,
                                    {"sync-directory", "/home/u/Moved", "badge", path, "syncing"});
    ASSERT_EQ(application.wait(), 0);

    // The badge's change notification makes the extension watch the folder stored now...
    ASSERT_TRUE(m_loop.runUntil([&] { return m_controller.watchedFolders.size() == 2; }));
    EXPECT_EQ(m_controller.watchedFolders[1], std::set<std::string>{"/home/u/Moved"});
    // ...and from then on the badge asked for is the new one, with no wait.
    m_extension->requestBadgeIdentifier(path);
    EXPECT_EQ(m_controller.badgeIdentifiers[path], "syncing");
}

TEST_F(FinderSyncNotificationTest, ABurstOfBadgeWritesEndsWithAnAnnouncementOfItsLastBadge)
{
    const std::string path = "/home/u/Sync/burst.txt";
    std::vector<std::string> read;  // on each announcement, as the file manager asks then
    const auto observation =
        m_application->observe(SyncStateProvider::kChangedNotification, [&](auto&&...) {
            m_extension->requestBadgeIdentifier(path);
            read.push_back(m_controller.badgeIdentifiers[path]);
        });
    // Badges in a row, and across the settings' own writes (pauses longer than their delay),
    // read here while the burst goes on.
    test::HelperProcess application(CORVANE_FINDER_SYNC_APP_PROBE,
                                    {"badge",   path,      "syncing", "badge",   path,    "error",
                                     "pause",   "40",      "badge",   path,      "error", "badge",
                                     path,      "syncing", "pause",   "40",      "badge", path,
                                     "syncing", "badge",   path,      "ignored", "pause", "40"});
    // However the announcements were merged, one of them came after the last badge.
    EXPECT_TRUE(m_loop.runUntil([&] { return !read.empty() && read.back() == "ignored"; }));
    EXPECT_EQ(application.wait(), 0);
}

TEST_F(FinderSyncNotificationTest, ABadgeLeftForTheExitIsWrittenAndAnnouncedOnTheWayOut)
{
    const std::string path = "/home/u/Sync/late.txt";
    test::HelperProcess application(CORVANE_FINDER_SYNC_APP_PROBE,
                                    {"exit-unflushed", "badge", path, "error"});
    ASSERT_EQ(application.wait(), 0);
    ASSERT_TRUE(m_loop.runUntil([&] {
        m_extension->requestBadgeIdentifier(path);
        return m_controller.badgeIdentifiers[path] == "error";
    }));
}

TEST_F(FinderSyncNotificationTest, NoHandlerRunsOnceTheExtensionIsGone)
{
    m_extension.reset();
    m_application->post("com.corvane.shareLinkReady", {{"link", "http://x/s/1"}});
    m_application->post("com.corvane.syncStateChanged");
    settle();
    EXPECT_TRUE(m_pasteboard.calls.empty());
    EXPECT_EQ(m_controller.watchedFolders.size(), 1u);
}

}  // namespace
}  // namespace corvane
