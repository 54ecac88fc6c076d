// The Sync tab over the stand-in server: the folder list, its three states, and the switches
// that leave folders out of sync.
#include "MenuBar/SyncTab.h"

#include <QAccessible>
#include <QScrollArea>
#include <QStackedWidget>

#include "MenuBar/SettingsServerFixture.h"
#include "Sync/SelectiveSyncManager.h"

namespace corvane::test {
namespace {

constexpr int kGeneralTab = 0;
constexpr int kSyncTab = 1;
using Item = SyncTab::SyncFolderItem;

Folder folder(const std::string& id, const std::string& path)
{
    Folder made;
    made.id = id;
    made.name = path.substr(path.rfind('/') + 1);
    made.path = path;
    return made;
}

TEST(SyncTabItemsTest, EveryFolderInOrderOffOnlyForItsExactPath)
{
    const std::vector<Folder> folders{folder("1", "/Docs"), folder("2", "/Docs/Old"),
                                      folder("3", "/Docs2"), folder("4", "/__root__")};
    const std::set<std::string> excluded{"/Docs", "/Docs2/", "/docs/old", "/"};
    EXPECT_EQ(SyncTab::folderItems(folders, excluded),
              (std::vector<Item>{{"1", "Docs", "/Docs", false},
                                 {"2", "Old", "/Docs/Old", true},
                                 {"3", "Docs2", "/Docs2", true},
                                 {"4", "__root__", "/__root__", true}}));
    EXPECT_TRUE(SyncTab::folderItems({}, excluded).empty());
}

class SyncTabTest : public testing::Test, public SettingsServerFixture {
protected:
    SyncTab* tab() const { return view->syncTab(); }

    // Shows the tab (again) and waits for the load it starts.
    void showAndLoad()
    {
        if (view->tabs()->currentIndex() == kSyncTab) {
            showTab(kGeneralTab);
        }
        int loads = 0;
        const auto counted = QObject::connect(tab(), &SyncTab::loadFinished, [&loads] { ++loads; });
        showTab(kSyncTab);
        EXPECT_TRUE(runUntil([&] { return loads == 1; }));
        QObject::disconnect(counted);
    }

    QWidget* currentPage() const { return find<QStackedWidget>("syncPages")->currentWidget(); }
    bool showsList() const { return currentPage() == find<QWidget>("syncFolderList"); }
    bool showsEmptyText() const
    {
        return currentPage()->isAncestorOf(find<QWidget>("syncEmptyText"));
    }

    // The rows as the user sees them: name and switch.
    std::vector<std::pair<std::string, bool>> rows() const
    {
        std::vector<std::pair<std::string, bool>> shown;
        const auto* rows = find<QWidget>("syncFolderRows");
        for (const QCheckBox* toggle : rows->findChildren<QCheckBox*>()) {
            shown.emplace_back(accessibleName(toggle), toggle->isChecked());
        }
        return shown;
    }

    QCheckBox* toggle(const std::string& name) const
    {
        for (QCheckBox* box : find<QWidget>("syncFolderRows")->findChildren<QCheckBox*>()) {
            if (accessibleName(box) == name) {
                return box;
            }
        }
        ADD_FAILURE() << "no row " << name;
        return nullptr;
    }

    static std::string accessibleName(const QWidget* widget)
    {
        return QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget))
            ->text(QAccessible::Name)
            .toStdString();
    }

    std::set<std::string> excluded() const
    {
        return state->selectiveSyncManager()->excludedPaths();
    }
    void storeExcluded(const std::set<std::string>& paths)
    {
        UserDefaults::standard()->setStringArray(SelectiveSyncManager::kStorageKey,
                                                 {paths.begin(), paths.end()});
        UserDefaults::standard()->flush();
    }

    std::string pathOf(const std::string& name)
    {
        for (const Folder& listed : account().listFolders()) {
            if (listed.name == name) {
                return listed.path;
            }
        }
        ADD_FAILURE() << "no folder " << name;
        return {};
    }
};

TEST_F(SyncTabTest, ListsEveryFolderAfterLoadingWithSwitchesFromTheExactExclusions)
{
    account().createFolder("Docs");
    account().createFolder("Photos");
    account().createFolder("__root__");
    account().createFolder("R&D <b>2024");
    const std::string photos = pathOf("Photos");
    storeExcluded({photos, "/", "/Doc", pathOf("Docs") + "/Old"});
    signedInPaused();
    UserDefaults::standard()->flush();
    const std::optional<std::string> settingsBefore = fileBytes(standardFile());
    server.injectFault({{"path_prefix", "/api/folders"}, {"method", "GET"}, {"delay_ms", 300}});
    showView();
    showTab(kSyncTab);

    EXPECT_EQ(text("syncHeadline"), "Choose which folders to sync to this computer");
    EXPECT_TRUE(tab()->isLoading());
    EXPECT_TRUE(find<QWidget>("syncLoadingText")->isVisible());
    EXPECT_EQ(text("syncLoadingText"), "Loading folders...");
    ASSERT_TRUE(runUntil([&] { return !tab()->isLoading(); }));
    EXPECT_TRUE(showsList());
    EXPECT_FALSE(find<QWidget>("syncLoadingText")->isVisible());
    EXPECT_EQ(rows(),
              (std::vector<std::pair<std::string, bool>>{
                  {"Docs", true}, {"Photos", false}, {"__root__", true}, {"R&D <b>2024", true}}));
    // The name as written: no markup, no lost "&", no shortcut.
    EXPECT_EQ(toggle("R&D <b>2024")->text().toStdString(), "R&&D <b>2024");
    // Filling the list wrote nothing.
    UserDefaults::standard()->flush();
    EXPECT_EQ(fileBytes(standardFile()), settingsBefore);
    savePicture("settings-sync-list");
}

TEST_F(SyncTabTest, OffExcludesTheFolderAndOnIncludesItWithEverythingBelowIt)
{
    account().createFolder("Docs");
    account().createFolder("Photos");
    const std::string docs = pathOf("Docs");
    const std::string photos = pathOf("Photos");
    storeExcluded({docs, docs + "/Old", docs + "/Old/Deep", docs + "2"});
    signedInPaused();
    showView();
    showAndLoad();
    ASSERT_EQ(rows(),
              (std::vector<std::pair<std::string, bool>>{{"Docs", false}, {"Photos", true}}));

    clickToggle(toggle("Docs"));
    EXPECT_EQ(excluded(), (std::set<std::string>{docs + "2"}));
    clickToggle(toggle("Photos"));
    EXPECT_EQ(excluded(), (std::set<std::string>{docs + "2", photos}));
    EXPECT_EQ(rows(),
              (std::vector<std::pair<std::string, bool>>{{"Docs", true}, {"Photos", false}}));
    EXPECT_EQ(tab()->folders()[1], (Item{tab()->folders()[1].id, "Photos", photos, false}));

    // A switch of tabs reloads and reads the exclusions afresh.
    storeExcluded({docs});
    showAndLoad();
    EXPECT_EQ(rows(),
              (std::vector<std::pair<std::string, bool>>{{"Docs", false}, {"Photos", true}}));
}

TEST_F(SyncTabTest, AnAssistiveToolsToggleActionExcludesAndIncludesLikeAClick)
{
    account().createFolder("Photos");
    const std::string photos = pathOf("Photos");
    signedInPaused();
    showView();
    showAndLoad();

    toggleAsAssistiveTool(toggle("Photos"));
    EXPECT_EQ(excluded(), (std::set<std::string>{photos}));
    toggleAsAssistiveTool(toggle("Photos"));
    EXPECT_EQ(excluded(), (std::set<std::string>{}));
    EXPECT_EQ(rows(), (std::vector<std::pair<std::string, bool>>{{"Photos", true}}));
}

TEST_F(SyncTabTest, AnEmptyAnswerShowsTheEmptyText)
{
    signedInPaused();
    showView();
    LogCapture log;
    showAndLoad();
    EXPECT_TRUE(showsEmptyText());
    EXPECT_TRUE(find<QWidget>("syncEmptyText")->isVisible());
    EXPECT_EQ(text("syncEmptyText"), "No folders found. Log in and sync to see your folders.");
    EXPECT_THAT(log.lines(), testing::Not(testing::HasSubstr("folder list not loaded")));
}

TEST_F(SyncTabTest, AFailedFirstLoadShowsTheEmptyTextAndIsLogged)
{
    account().createFolder("Docs");
    signedInPaused();
    server.injectFault({{"path_prefix", "/api/folders"},
                        {"method", "GET"},
                        {"status", 503},
                        {"body", "try later"}});
    showView();
    LogCapture log;
    showAndLoad();
    EXPECT_FALSE(tab()->isLoading());
    EXPECT_TRUE(showsEmptyText());
    EXPECT_THAT(log.lines(),
                testing::HasSubstr("[WARN] [settings] folder list not loaded error=try later"));
}

TEST_F(SyncTabTest, AFailedLaterLoadKeepsTheListAndIsLogged)
{
    account().createFolder("Docs");
    signedInPaused();
    showView();
    showAndLoad();
    ASSERT_TRUE(showsList());
    account().createFolder("Photos");
    server.injectFault({{"path_prefix", "/api/folders"}, {"method", "GET"}, {"status", 500}});

    LogCapture log;
    showAndLoad();
    EXPECT_TRUE(showsList());
    EXPECT_EQ(rows(), (std::vector<std::pair<std::string, bool>>{{"Docs", true}}));
    EXPECT_THAT(log.lines(), testing::HasSubstr("folder list not loaded"));
}

TEST_F(SyncTabTest, WhenLoadsOverlapTheLastAnswerToArriveWins)
{
    account().createFolder("Docs");
    signedInPaused();
    // The first request is answered late, with another name.
    server.injectFault({{"path_prefix", "/api/folders"},
                        {"method", "GET"},
                        {"delay_ms", 400},
                        {"patch", {{{"op", "replace"}, {"path", "/0/name"}, {"value", "Late"}}}}});
    showView();
    int loads = 0;
    QObject::connect(tab(), &SyncTab::loadFinished, [&loads] { ++loads; });
    showTab(kSyncTab);
    showTab(kGeneralTab);
    showTab(kSyncTab);
    ASSERT_TRUE(runUntil([&] { return loads == 1; }));
    EXPECT_EQ(rows(), (std::vector<std::pair<std::string, bool>>{{"Docs", true}}));
    ASSERT_TRUE(runUntil([&] { return loads == 2; }));
    EXPECT_EQ(rows(), (std::vector<std::pair<std::string, bool>>{{"Late", true}}));
}

TEST_F(SyncTabTest, SignedOutTheLoadFailsAndTheEmptyTextShows)
{
    account().createFolder("Docs");
    makeState();  // no sign-in restored: phase login, no token
    showView();
    LogCapture log;
    showAndLoad();
    EXPECT_TRUE(showsEmptyText());
    EXPECT_THAT(log.lines(), testing::HasSubstr("error=Session expired, please log in again"));
}

}  // namespace
}  // namespace corvane::test
