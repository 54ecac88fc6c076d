#include "FinderSync/FinderSyncExtension.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FinderSync/BadgeStore.h"
#include "FinderSync/FakeFinderSyncController.h"
#include "FinderSync/FakePasteboard.h"
#include "FinderSync/FakeWorkspace.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/Paths.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using Controller = test::FakeFinderSyncController;
using MenuItem = FinderSyncController::MenuItem;
using MenuAction = FinderSyncController::MenuAction;
using MenuKind = FinderSyncController::MenuKind;

constexpr const char* kSyncDir = "/home/u/Sync";

// The extension with fakes around it, in a temporary home, without a bus.
class FinderSyncExtensionTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        m_extension.reset();
        UserDefaults::resetShared();
    }

    SyncStateProvider& provider() { return SyncStateProvider::shared(); }
    std::shared_ptr<UserDefaults> suite() { return UserDefaults::suite("group.com.corvane.app"); }

    CorvaneFinderSync& start()
    {
        m_extension =
            std::make_unique<CorvaneFinderSync>(m_controller, m_pasteboard, m_workspace, m_center);
        return *m_extension;
    }

    test::TempHome m_home;
    RunLoop m_loop;
    const std::shared_ptr<DistributedNotificationCenter> m_center =
        std::make_shared<DistributedNotificationCenter>(std::string());
    Controller m_controller;
    test::FakePasteboard m_pasteboard;
    test::FakeWorkspace m_workspace;
    std::unique_ptr<CorvaneFinderSync> m_extension;
};

TEST_F(FinderSyncExtensionTest, StartWatchesTheSyncFolderThenRegistersTheFourBadges)
{
    provider().setSyncDirectory(kSyncDir);
    start();

    const std::vector<std::string> expectedCalls{"setWatchedFolders", "setBadgeImage synced",
                                                 "setBadgeImage syncing", "setBadgeImage error",
                                                 "setBadgeImage ignored"};
    EXPECT_EQ(m_controller.calls, expectedCalls);
    ASSERT_EQ(m_controller.watchedFolders.size(), 1u);
    EXPECT_EQ(m_controller.watchedFolders[0], std::set<std::string>{kSyncDir});

    using Image = FinderSyncController::Image;
    const std::vector<Controller::BadgeImage> expectedImages{
        {Image{"emblem-ok-symbolic", "Synced", true}, "Synced", "synced"},
        {Image{"emblem-synchronizing-symbolic", "Syncing", true}, "Syncing", "syncing"},
        {Image{"emblem-important-symbolic", "Error", true}, "Error", "error"},
        {Image{"list-remove-symbolic", "Not Synced", true}, "Not Synced", "ignored"},
    };
    EXPECT_EQ(m_controller.badgeImages, expectedImages);
}

TEST_F(FinderSyncExtensionTest, WithoutASyncFolderNothingIsWatched)
{
    start();
    EXPECT_TRUE(m_controller.watchedFolders.empty());
    EXPECT_EQ(m_controller.badgeImages.size(), 4u);

    // A later change notification finds no folder either, and still sets none.
    m_extension->syncStateChanged();
    EXPECT_TRUE(m_controller.watchedFolders.empty());
}

TEST_F(FinderSyncExtensionTest, SyncStateChangedWatchesTheFolderStoredNow)
{
    provider().setSyncDirectory(kSyncDir);
    start();
    provider().setSyncDirectory("/home/u/Elsewhere");
    m_extension->syncStateChanged();
    ASSERT_EQ(m_controller.watchedFolders.size(), 2u);
    EXPECT_EQ(m_controller.watchedFolders[1], std::set<std::string>{"/home/u/Elsewhere"});

    // A removed folder leaves the watched folders as they were.
    provider().setSyncDirectory(std::nullopt);
    m_extension->syncStateChanged();
    EXPECT_EQ(m_controller.watchedFolders.size(), 2u);
}

TEST_F(FinderSyncExtensionTest, BadgeIdentifierIsTheStoredBadgeAndSyncedOtherwise)
{
    provider().setSyncDirectory(kSyncDir);
    start();
    const std::string precomposed = "/home/u/Sync/Caf\xC3\xA9.txt";
    const std::string decomposed = "/home/u/Sync/Cafe\xCC\x81.txt";
    provider().setBadge("/home/u/Sync/a.txt", SyncBadge::syncing);
    provider().setBadge("/home/u/Sync/b.txt", SyncBadge::error);
    provider().setBadge("/home/u/Sync/c.txt", SyncBadge::ignored);
    provider().setBadge("/home/u/Sync/d.txt", SyncBadge::synced);
    provider().setBadge(precomposed, SyncBadge::error);

    const std::vector<std::pair<std::string, std::string>> cases{
        {"/home/u/Sync/a.txt", "syncing"},    {"/home/u/Sync/b.txt", "error"},
        {"/home/u/Sync/c.txt", "ignored"},    {"/home/u/Sync/d.txt", "synced"},
        {"/home/u/Sync/never.txt", "synced"}, {decomposed, "error"},
        {"/tmp/outside.txt", "synced"},
    };
    for (const auto& [path, identifier] : cases) {
        SCOPED_TRACE(path);
        m_extension->requestBadgeIdentifier(path);
        EXPECT_EQ(m_controller.badgeIdentifiers[path], identifier);
    }

    provider().clearAll();
    m_extension->requestBadgeIdentifier("/home/u/Sync/a.txt");
    EXPECT_EQ(m_controller.badgeIdentifiers["/home/u/Sync/a.txt"], "synced");
}

TEST_F(FinderSyncExtensionTest, BadgeWrittenThroughAnotherInstanceOfTheSuiteFileIsSeen)
{
    provider().setSyncDirectory(kSyncDir);
    start();
    const std::string path = "/home/u/Sync/report.pdf";
    m_extension->requestBadgeIdentifier(path);
    ASSERT_EQ(m_controller.badgeIdentifiers[path], "synced");

    // Another process's view of the same file.
    BadgeStore other(Paths::config() / "group.com.corvane.app.json");
    other.setBadge(path, SyncBadge::error);
    other.flush();

    EXPECT_TRUE(m_loop.runUntil(
        [&] {
            m_extension->requestBadgeIdentifier(path);
            return m_controller.badgeIdentifiers[path] == "error";
        },
        std::chrono::seconds(2)));
}

TEST_F(FinderSyncExtensionTest, ToolbarItemAndMenu)
{
    auto& extension = start();
    EXPECT_EQ(extension.toolbarItemName(), "Corvane");
    EXPECT_EQ(extension.toolbarItemToolTip(), "Corvane file actions");
    EXPECT_EQ(extension.toolbarItemImage(),
              (FinderSyncController::Image{"folder-remote-symbolic", "Corvane", false}));

    const FinderSyncController::Menu expected{
        "Corvane",
        {
            {MenuItem::Kind::action, "Copy Corvane Link", "insert-link-symbolic",
             MenuAction::copyLink, ""},
            {MenuItem::Kind::action, "Share with...", "contact-new-symbolic", MenuAction::shareWith,
             ""},
            {MenuItem::Kind::separator, "", "", MenuAction::copyLink, ""},
            {MenuItem::Kind::action, "View on Corvane Web", "web-browser-symbolic",
             MenuAction::viewOnline, ""},
        }};
    for (const auto kind : {MenuKind::contextualMenuForItems, MenuKind::contextualMenuForContainer,
                            MenuKind::contextualMenuForSidebar, MenuKind::toolbarItemMenu}) {
        EXPECT_EQ(extension.menu(kind), expected);
    }
}

// One selected item, the stored sync folder and server address, and what "Copy Corvane Link"
// puts on the pasteboard and "View on Corvane Web" opens.
struct LinkCase {
    const char* name;
    std::optional<std::string> syncDir;
    std::optional<std::string> serverURL;
    std::string selected;
    std::optional<std::string> link;    // on the pasteboard; nothing: pasteboard untouched
    std::optional<std::string> opened;  // by viewOnline; nothing: nothing opened
};

void PrintTo(const LinkCase& linkCase, std::ostream* out)
{
    *out << linkCase.name;
}

class FinderSyncLinkTest : public FinderSyncExtensionTest,
                           public ::testing::WithParamInterface<LinkCase> {};

TEST_P(FinderSyncLinkTest, CopyLinkAndViewOnline)
{
    const LinkCase& c = GetParam();
    provider().setSyncDirectory(c.syncDir);
    if (c.serverURL) {
        suite()->setString("serverURL", *c.serverURL);
    }
    auto& extension = start();
    m_controller.selection = {c.selected};

    extension.copyLink();
    if (c.link) {
        EXPECT_EQ(m_pasteboard.calls, (std::vector<std::string>{"clear", "set " + *c.link}));
    } else {
        EXPECT_TRUE(m_pasteboard.calls.empty());
    }

    extension.viewOnline();
    if (c.opened) {
        EXPECT_EQ(m_workspace.opened, std::vector<std::string>{*c.opened});
    } else {
        EXPECT_TRUE(m_workspace.opened.empty());
    }
}

const std::string kCafe = "Caf\xC3\xA9";      // precomposed
const std::string kCafeNFD = "Cafe\xCC\x81";  // decomposed
const std::string kResume = "r\xC3\xA9sum\xC3\xA9";

INSTANTIATE_TEST_SUITE_P(
    Links, FinderSyncLinkTest,
    ::testing::Values(
        LinkCase{"FileAtTheTop", kSyncDir, std::nullopt, "/home/u/Sync/a.txt",
                 "http://localhost:8080/files/a.txt", "http://localhost:8080/files/a.txt"},
        LinkCase{"NestedFile", kSyncDir, std::nullopt, "/home/u/Sync/docs/2024/q1.pdf",
                 "http://localhost:8080/files/docs/2024/q1.pdf",
                 "http://localhost:8080/files/docs/2024/q1.pdf"},
        LinkCase{"TheSyncFolderItself", kSyncDir, std::nullopt, kSyncDir,
                 "http://localhost:8080/files", "http://localhost:8080/files"},
        LinkCase{"StoredServerAddress", kSyncDir, "https://corvane.example.org",
                 "/home/u/Sync/a.txt", "https://corvane.example.org/files/a.txt",
                 "https://corvane.example.org/files/a.txt"},
        LinkCase{"ServerAddressKeepsItsTrailingSlash", kSyncDir, "https://corvane.example.org/",
                 "/home/u/Sync/a.txt", "https://corvane.example.org//files/a.txt",
                 "https://corvane.example.org//files/a.txt"},
        LinkCase{"SyncFolderStoredWithTrailingSlash", "/home/u/Sync/", std::nullopt,
                 "/home/u/Sync/a.txt", "http://localhost:8080/files/a.txt",
                 "http://localhost:8080/files/a.txt"},
        // The link keeps the path as it is; only the address opened is percent-encoded.
        LinkCase{"BlanksAndNonASCIILetters", kSyncDir, std::nullopt,
                 "/home/u/Sync/" + kCafe + "/" + kResume + " 1.txt",
                 "http://localhost:8080/files/" + kCafe + "/" + kResume + " 1.txt",
                 "http://localhost:8080/files/Caf%C3%A9/r%C3%A9sum%C3%A9%201.txt"},
        LinkCase{"PercentSignThatStartsNoEscape", kSyncDir, std::nullopt, "/home/u/Sync/100%.txt",
                 "http://localhost:8080/files/100%.txt", "http://localhost:8080/files/100%25.txt"},
        // Canonically equivalent spellings of the folder match; the rest keeps its spelling.
        LinkCase{"DecomposedSyncFolderPrecomposedPath", "/home/u/" + kCafeNFD, std::nullopt,
                 "/home/u/" + kCafe + "/a" + kCafeNFD, "http://localhost:8080/files/a" + kCafeNFD,
                 "http://localhost:8080/files/aCafe%CC%81"},
        LinkCase{"PrecomposedSyncFolderDecomposedPath", "/home/u/" + kCafe, std::nullopt,
                 "/home/u/" + kCafeNFD + "/b.txt", "http://localhost:8080/files/b.txt",
                 "http://localhost:8080/files/b.txt"},
        // A shared text prefix is not enough: the folder must end where a "/" follows.
        LinkCase{"SiblingFolderSharingThePrefix", kSyncDir, std::nullopt, "/home/u/Sync2/a.txt",
                 std::nullopt, std::nullopt},
        LinkCase{"FileSharingThePrefix", kSyncDir, std::nullopt, "/home/u/Sync.txt", std::nullopt,
                 std::nullopt},
        LinkCase{"ParentOfTheSyncFolder", kSyncDir, std::nullopt, "/home/u", std::nullopt,
                 std::nullopt},
        LinkCase{"Outside", kSyncDir, std::nullopt, "/tmp/a.txt", std::nullopt, std::nullopt},
        LinkCase{"NoSyncFolder", std::nullopt, std::nullopt, "/home/u/Sync/a.txt", std::nullopt,
                 std::nullopt},
        // An empty folder would put every path on the disk below it: it counts as none.
        LinkCase{"EmptySyncFolder", "", std::nullopt, "/home/u/Sync/a.txt", std::nullopt,
                 std::nullopt},
        // A server address without a scheme forms a link to copy but no address to open.
        LinkCase{"ServerAddressWithoutScheme", kSyncDir, "", "/home/u/Sync/a.txt", "/files/a.txt",
                 std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ShareCase {
    std::string selected;
    std::string opened;
};

TEST_F(FinderSyncExtensionTest, ShareWithOpensThePercentEncodedShareURLForAnyItem)
{
    provider().setSyncDirectory(kSyncDir);
    auto& extension = start();
    const std::vector<ShareCase> cases{
        {"/home/u/Sync/a.txt", "corvane://share?path=/home/u/Sync/a.txt"},
        {"/home/u/Sync/" + kCafe + " " + kResume + ".txt",
         "corvane://share?path=/home/u/Sync/Caf%C3%A9%20r%C3%A9sum%C3%A9.txt"},
        // Characters allowed in a query stay; "#", "%" and "[" do not.
        {"/home/u/Sync/a&b=c?d+e@f:g;h!.txt",
         "corvane://share?path=/home/u/Sync/a&b=c?d+e@f:g;h!.txt"},
        {"/home/u/Sync/50%#1[2].txt", "corvane://share?path=/home/u/Sync/50%25%231%5B2%5D.txt"},
        // Outside the sync folder, too: the path is not compared with it.
        {"/tmp/x y", "corvane://share?path=/tmp/x%20y"},
        {"/home/u/Sync2/a.txt", "corvane://share?path=/home/u/Sync2/a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected);
        m_workspace.opened.clear();
        m_controller.selection = {c.selected};
        extension.shareWith();
        EXPECT_EQ(m_workspace.opened, std::vector<std::string>{c.opened});
    }
    EXPECT_TRUE(m_pasteboard.calls.empty());
}

TEST_F(FinderSyncExtensionTest, SeveralSelectedItemsUseTheFirstOnly)
{
    provider().setSyncDirectory(kSyncDir);
    auto& extension = start();
    m_controller.selection = {"/home/u/Sync/first.txt", "/home/u/Sync/second.txt", "/tmp/x"};

    extension.copyLink();
    extension.shareWith();
    extension.viewOnline();

    EXPECT_EQ(m_pasteboard.calls,
              (std::vector<std::string>{"clear", "set http://localhost:8080/files/first.txt"}));
    EXPECT_EQ(m_workspace.opened,
              (std::vector<std::string>{"corvane://share?path=/home/u/Sync/first.txt",
                                        "http://localhost:8080/files/first.txt"}));
}

TEST_F(FinderSyncExtensionTest, NoSelectionDoesNothing)
{
    provider().setSyncDirectory(kSyncDir);
    auto& extension = start();
    extension.copyLink();
    extension.shareWith();
    extension.viewOnline();
    EXPECT_TRUE(m_pasteboard.calls.empty());
    EXPECT_TRUE(m_workspace.opened.empty());
}

TEST_F(FinderSyncExtensionTest, ServerAddressIsReadAfreshAtEveryAction)
{
    provider().setSyncDirectory(kSyncDir);
    auto& extension = start();
    m_controller.selection = {"/home/u/Sync/a.txt"};
    extension.copyLink();
    suite()->setString("serverURL", "http://other:9000");
    extension.copyLink();
    suite()->remove("serverURL");
    extension.copyLink();
    EXPECT_EQ(m_pasteboard.calls,
              (std::vector<std::string>{"clear", "set http://localhost:8080/files/a.txt", "clear",
                                        "set http://other:9000/files/a.txt", "clear",
                                        "set http://localhost:8080/files/a.txt"}));
}

TEST_F(FinderSyncExtensionTest, ShareLinkReadyCopiesOnlyAStringLink)
{
    auto& extension = start();
    extension.shareLinkReady({});
    extension.shareLinkReady({{"url", "http://x/s/1"}});
    EXPECT_TRUE(m_pasteboard.calls.empty());

    extension.shareLinkReady({{"link", "http://x/s/1"}, {"other", "y"}});
    extension.shareLinkReady({{"link", ""}});
    EXPECT_EQ(m_pasteboard.calls,
              (std::vector<std::string>{"clear", "set http://x/s/1", "clear", "set "}));
}

}  // namespace
}  // namespace corvane
