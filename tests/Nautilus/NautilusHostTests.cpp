#include "Nautilus/NautilusHost.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FinderSync/BadgeStore.h"
#include "FinderSync/FakePasteboard.h"
#include "FinderSync/FakeWorkspace.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Nautilus/FakeNautilusFileInfo.h"
#include "Nautilus/NautilusExtensionApi.h"
#include "Platform/MainQueue.h"
#include "Platform/PrivateBus.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using test::FakeNautilusFileInfo;

constexpr const char* kSyncDir = "/home/u/Sync";

// A menu item as Nautilus reads it.
struct ShownItem {
    std::string name;
    std::string label;
    std::string icon;
    std::vector<ShownItem> submenu;
    GObjectPtr<NautilusMenuItem> item;
};

std::string stringProperty(gpointer object, const char* name)
{
    gchar* raw = nullptr;
    g_object_get(object, name, &raw, nullptr);
    const GCharPtr value(raw);
    return value ? value.get() : "";
}

// Reads and frees a provider's list of items.
std::vector<ShownItem> readItems(GList* items)
{
    std::vector<ShownItem> shown;
    for (GList* node = items; node; node = node->next) {
        auto* item = NAUTILUS_MENU_ITEM(node->data);
        ShownItem entry{stringProperty(item, "name"),
                        stringProperty(item, "label"),
                        stringProperty(item, "icon"),
                        {},
                        GObjectPtr<NautilusMenuItem>(NAUTILUS_MENU_ITEM(g_object_ref(item)))};
        NautilusMenu* raw = nullptr;
        g_object_get(item, "menu", &raw, nullptr);
        const GObjectPtr<NautilusMenu> submenu(raw);
        if (submenu) {
            entry.submenu = readItems(nautilus_menu_get_items(submenu.get()));
        }
        shown.push_back(std::move(entry));
    }
    if (items) {
        nautilus_menu_item_list_free(items);
    }
    return shown;
}

GList* listOf(const std::vector<const FakeNautilusFileInfo*>& files)
{
    GList* list = nullptr;
    for (const auto* file : files) {
        list = g_list_append(list, file->get());
    }
    return list;
}

class NautilusHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A misused reference or list shows as a GLib critical: make it end the test.
        g_log_set_always_fatal(
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
        SyncStateProvider::shared().setSyncDirectory(kSyncDir);
        auto pasteboard = std::make_unique<test::FakePasteboard>();
        auto workspace = std::make_unique<test::FakeWorkspace>();
        m_pasteboard = pasteboard.get();
        m_workspace = workspace.get();
        m_host =
            std::make_unique<NautilusHost>(m_center, std::move(pasteboard), std::move(workspace));
    }

    void TearDown() override
    {
        m_host.reset();
        UserDefaults::resetShared();
    }

    // The items of the extension's submenu, or nothing when there is no menu.
    std::vector<ShownItem> menuFor(const std::vector<const FakeNautilusFileInfo*>& files)
    {
        GList* selection = listOf(files);
        auto items = readItems(m_host->fileItems(selection));
        g_list_free(selection);
        if (items.empty()) {
            return {};
        }
        EXPECT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].label, "Corvane");
        return std::move(items[0].submenu);
    }

    test::TempHome m_home;
    RunLoop m_loop;
    std::shared_ptr<DistributedNotificationCenter> m_center =
        std::make_shared<DistributedNotificationCenter>(std::string());
    test::FakePasteboard* m_pasteboard = nullptr;
    test::FakeWorkspace* m_workspace = nullptr;
    std::unique_ptr<NautilusHost> m_host;
};

TEST_F(NautilusHostTest, FilesInsideTheSyncFolderGetTheEmblemOfTheirBadge)
{
    SyncStateProvider::shared().setBadge("/home/u/Sync/a.txt", SyncBadge::syncing);
    SyncStateProvider::shared().setBadge("/home/u/Sync/b.txt", SyncBadge::error);
    SyncStateProvider::shared().setBadge("/home/u/Sync/c.txt", SyncBadge::ignored);
    struct Case {
        FakeNautilusFileInfo file;
        std::vector<std::string> emblems;
    };
    std::vector<Case> cases;
    cases.push_back(
        {FakeNautilusFileInfo::atPath("/home/u/Sync/a.txt"), {"synchronizing-symbolic"}});
    cases.push_back({FakeNautilusFileInfo::atPath("/home/u/Sync/b.txt"), {"important-symbolic"}});
    cases.push_back({FakeNautilusFileInfo::atPath("/home/u/Sync/c.txt"), {"list-remove-symbolic"}});
    cases.push_back({FakeNautilusFileInfo::atPath("/home/u/Sync/new.txt"), {"ok-symbolic"}});
    cases.push_back({FakeNautilusFileInfo::atPath(kSyncDir), {"ok-symbolic"}});
    // Outside the watched folder, and without a local path: nothing.
    cases.push_back({FakeNautilusFileInfo::atPath("/home/u/Sync2/a.txt"), {}});
    cases.push_back({FakeNautilusFileInfo::atPath("/home/u"), {}});
    cases.push_back({FakeNautilusFileInfo::atURI("corvane-test://host/home/u/Sync/a.txt"), {}});
    for (const auto& c : cases) {
        m_host->updateFileInfo(c.file.get());
        EXPECT_EQ(c.file.emblems(), c.emblems);
    }
}

TEST_F(NautilusHostTest, MenuForFilesInsideRunsTheActionsOnThoseFiles)
{
    const auto inside = FakeNautilusFileInfo::atPath("/home/u/Sync/docs/a b.txt");
    const auto second = FakeNautilusFileInfo::atPath("/home/u/Sync/b.txt");
    const auto items = menuFor({&inside, &second});
    ASSERT_EQ(items.size(), 3u);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Copy Corvane Link", "insert-link-symbolic"},
        {"Share with...", "contact-new-symbolic"},
        {"View on Corvane Web", "web-browser-symbolic"},
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].label, expected[i].first);
        EXPECT_EQ(items[i].icon, expected[i].second);
        EXPECT_TRUE(items[i].submenu.empty());
    }

    for (const auto& item : items) {
        nautilus_menu_item_activate(item.item.get());
    }
    EXPECT_EQ(m_pasteboard->calls,
              (std::vector<std::string>{"clear", "set http://localhost:8080/files/docs/a b.txt"}));
    EXPECT_EQ(m_workspace->opened,
              (std::vector<std::string>{"corvane://share?path=/home/u/Sync/docs/a%20b.txt",
                                        "http://localhost:8080/files/docs/a%20b.txt"}));
    // The selection lasts only for the action.
    EXPECT_TRUE(m_host->controller().selectedItems().empty());
}

TEST_F(NautilusHostTest, NoMenuUnlessEverySelectedFileIsInside)
{
    const auto inside = FakeNautilusFileInfo::atPath("/home/u/Sync/a.txt");
    const auto sibling = FakeNautilusFileInfo::atPath("/home/u/Sync2/a.txt");
    const auto remote = FakeNautilusFileInfo::atURI("corvane-test://host/home/u/Sync/a.txt");
    EXPECT_TRUE(menuFor({}).empty());
    EXPECT_TRUE(menuFor({&sibling}).empty());
    EXPECT_TRUE(menuFor({&inside, &sibling}).empty());
    EXPECT_TRUE(menuFor({&inside, &remote}).empty());
    EXPECT_EQ(menuFor({&inside}).size(), 3u);
}

TEST_F(NautilusHostTest, BackgroundMenuInsideActsOnNothingAsNothingIsSelected)
{
    for (const char* shown : {kSyncDir, "/home/u/Sync/docs"}) {
        const auto folder = FakeNautilusFileInfo::atPath(shown);
        auto top = readItems(m_host->backgroundItems(folder.get()));
        ASSERT_EQ(top.size(), 1u);
        ASSERT_EQ(top[0].submenu.size(), 3u);
        for (const auto& item : top[0].submenu) {
            nautilus_menu_item_activate(item.item.get());
        }
    }
    EXPECT_TRUE(m_pasteboard->calls.empty());
    EXPECT_TRUE(m_workspace->opened.empty());

    const auto outside = FakeNautilusFileInfo::atPath("/home/u");
    EXPECT_EQ(m_host->backgroundItems(outside.get()), nullptr);
}

TEST_F(NautilusHostTest, ItemsActivatedAfterTheHostIsGoneDoNothing)
{
    const auto inside = FakeNautilusFileInfo::atPath("/home/u/Sync/a.txt");
    const auto items = menuFor({&inside});
    ASSERT_EQ(items.size(), 3u);
    m_host.reset();  // frees the workspace too: reaching it now would be a use after free
    m_workspace = nullptr;
    nautilus_menu_item_activate(items[2].item.get());
}

TEST_F(NautilusHostTest, ChangedWatchedFoldersMakeNautilusAskAgainAboutFilesInOldAndNew)
{
    auto inOld = FakeNautilusFileInfo::atPath("/home/u/Sync/a.txt");
    auto inNew = FakeNautilusFileInfo::atPath("/home/u/Other/b.txt");
    auto elsewhere = FakeNautilusFileInfo::atPath("/tmp/c.txt");
    for (const auto* file : {&inOld, &inNew, &elsewhere}) {
        m_host->updateFileInfo(file->get());
    }
    EXPECT_EQ(m_host->controller().shownCount(), 3u);

    m_host->controller().setWatchedFolders({kSyncDir});  // unchanged: nothing to ask again
    EXPECT_EQ(inOld.invalidations(), 0);

    m_host->controller().setWatchedFolders({"/home/u/Other"});
    EXPECT_EQ(inOld.invalidations(), 1);
    EXPECT_EQ(inNew.invalidations(), 1);
    EXPECT_EQ(elsewhere.invalidations(), 0);

    // Files Nautilus let go of are neither kept alive nor asked about.
    inNew.release();
    m_host->controller().badgesChanged();
    EXPECT_EQ(m_host->controller().shownCount(), 2u);
    EXPECT_EQ(inOld.invalidations(), 1);
}

// The host on a private bus, with a second center playing the application.
class NautilusHostNotificationTest : public NautilusHostTest {
protected:
    void SetUp() override
    {
        m_center = std::make_shared<DistributedNotificationCenter>();
        ASSERT_TRUE(m_center->isConnected());
        NautilusHostTest::SetUp();
    }

    test::PrivateBus m_bus;
    DistributedNotificationCenter m_application;
};

TEST_F(NautilusHostNotificationTest, BadgeChangesMakeNautilusAskAgainAboutShownFilesInside)
{
    const std::string path = "/home/u/Sync/a.txt";
    const auto inside = FakeNautilusFileInfo::atPath(path);
    const auto outside = FakeNautilusFileInfo::atPath("/tmp/a.txt");
    m_host->updateFileInfo(inside.get());
    m_host->updateFileInfo(outside.get());
    ASSERT_EQ(inside.emblems(), std::vector<std::string>{"ok-symbolic"});

    // The application's write, seen through another instance of the suite's file.
    BadgeStore other(UserDefaults::suite("group.com.corvane.app")->file());
    other.setBadge(path, SyncBadge::error);
    other.flush();
    m_application.post("com.corvane.syncStateChanged");

    ASSERT_TRUE(m_loop.runUntil([&] { return inside.invalidations() == 1; }));
    EXPECT_EQ(outside.invalidations(), 0);
    // Asked again, the file gets its new emblem at once.
    m_host->updateFileInfo(inside.get());
    EXPECT_EQ(inside.emblems(), std::vector<std::string>{"important-symbolic"});
}

TEST_F(NautilusHostNotificationTest, TheLastChangeOfALargeBadgeFileReachesNautilusAfterItsPause)
{
    const std::string path = "/home/u/Sync/a.txt";
    const auto inside = FakeNautilusFileInfo::atPath(path);
    m_host->updateFileInfo(inside.get());
    const auto suite = UserDefaults::suite(SyncStateProvider::kSuiteName);
    suite->flush();
    // The application's map in a full sync, large enough to be slow to read: read here just
    // now, then replaced at once by one with the file's new badge, and announced.
    nlohmann::json values{{"syncDirectory", kSyncDir},
                          {"fileSyncStates", nlohmann::json::object()}};
    for (int i = 0; i < 50000; ++i) {
        values["fileSyncStates"]["/home/u/Sync/f" + std::to_string(i)] = "synced";
    }
    const auto replace = [&](const nlohmann::json& content) {
        const std::filesystem::path next = suite->file().string() + ".next";
        std::ofstream(next) << content.dump();
        std::filesystem::rename(next, suite->file());
    };
    replace(values);
    suite->synchronize();
    values["fileSyncStates"][path] = "error";
    replace(values);
    m_application.post("com.corvane.syncStateChanged");

    ASSERT_TRUE(m_loop.runUntil([&] { return inside.invalidations() > 0; }));
    m_host->updateFileInfo(inside.get());
    EXPECT_EQ(inside.emblems(), std::vector<std::string>{"important-symbolic"});
}

}  // namespace
}  // namespace corvane
