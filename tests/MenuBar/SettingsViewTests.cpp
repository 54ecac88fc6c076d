// The settings window as a whole: its frame, its four tabs, the names the accessibility bus
// finds, and a picture of every tab signed in and signed out.
#include "MenuBar/SettingsView.h"

#include <QAbstractScrollArea>
#include <QProgressBar>

#include "App/SymbolIcon.h"
#include "MenuBar/AccountTab.h"
#include "MenuBar/AccountTabWalker.h"
#include "MenuBar/BandwidthTab.h"
#include "MenuBar/GeneralTab.h"
#include "MenuBar/SettingsServerFixture.h"
#include "MenuBar/SyncTab.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/SelectiveSyncManager.h"

namespace corvane::test {
namespace {

const char* const kTabNames[] = {"general", "sync", "bandwidth", "account"};

class SettingsViewTest : public testing::Test, public SettingsServerFixture {
protected:
    // Shows each tab once its content has arrived and writes its picture.
    void pictureEveryTab(const std::string& suffix)
    {
        for (int index = 0; index < 4; ++index) {
            int loads = 0;
            const auto counted =
                QObject::connect(view->syncTab(), &SyncTab::loadFinished, [&] { ++loads; });
            showTab(index);
            if (index == 1) {
                EXPECT_TRUE(runUntil([&] { return loads == 1; }));
            }
            if (index == 3 && state->isLoggedIn()) {
                const AccountTabWalker& walker = view->accountTab()->walker();
                EXPECT_TRUE(runUntil([&] { return walker.hasResult() && !walker.isWalking(); }));
            }
            QObject::disconnect(counted);
            savePicture(std::string("settings-") + kTabNames[index] + "-" + suffix);
        }
    }
};

TEST_F(SettingsViewTest, AFixedFrameAroundFourTabsInOrder)
{
    makeState();
    SettingsView& settings = showView();
    EXPECT_EQ(settings.size(), QSize(480, 340));
    EXPECT_EQ(settings.minimumSize(), settings.maximumSize());
    QTabWidget* tabs = settings.tabs();
    ASSERT_EQ(tabs->count(), 4);
    const char* const titles[] = {"General", "Sync", "Bandwidth", "Account"};
    const char* const symbols[] = {"gearshape", "arrow.triangle.2.circlepath", "speedometer",
                                   "person.circle"};
    const QWidget* const pages[] = {settings.generalTab(), settings.syncTab(),
                                    settings.bandwidthTab(), settings.accountTab()};
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(tabs->tabText(index).toStdString(), titles[index]);
        EXPECT_EQ(tabs->widget(index), pages[index]);
        // The symbol's own icon: its image, not a picture of the view, is compared.
        const QIcon icon = tabs->tabIcon(index);
        ASSERT_FALSE(icon.isNull()) << symbols[index];
        EXPECT_EQ(icon.pixmap(16).toImage(), symbolIcon(symbols[index]).pixmap(16).toImage())
            << symbols[index];
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(SettingsViewTest, EveryControlHasAnObjectNameAndAnAccessibleName)
{
    account().createFolder("Docs");
    signedInPaused();
    showView();
    pictureEveryTab("names");
    std::vector<QWidget*> controls;
    for (QWidget* widget : view->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QComboBox*>(widget) || qobject_cast<QProgressBar*>(widget) ||
            qobject_cast<QAbstractScrollArea*>(widget) || qobject_cast<QTabWidget*>(widget)) {
            controls.push_back(widget);
        }
    }
    EXPECT_GE(controls.size(), 10u);
    for (const QWidget* control : controls) {
        EXPECT_FALSE(control->objectName().isEmpty()) << control->metaObject()->className();
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    }
}

TEST_F(SettingsViewTest, PicturesSignedIn)
{
    account().createFolder("Documents");
    account().createFolder("Photos");
    account().createFolder("Projects & Drafts");
    fs::create_directories(syncDir);
    std::ofstream(syncDir / "notes.txt") << std::string(48000, 'n');
    UserDefaults::standard()->setStringArray(SelectiveSyncManager::kStorageKey, {"/Photos"});
    UserDefaults::standard()->setInteger(BandwidthThrottler::kUploadLimitKey, 512000);
    signedInSyncing();
    showView();
    pictureEveryTab("signed-in");
    EXPECT_EQ(text("accountStatusValue"), "Up to date");
}

TEST_F(SettingsViewTest, PicturesSignedOut)
{
    makeState();
    showView();
    pictureEveryTab("signed-out");
    EXPECT_TRUE(find<QLabel>("notLoggedInText")->isVisible());
}

TEST_F(SettingsViewTest, PicturesOfTheSyncTabLoadingAndOfAFolderMessage)
{
    signedInPaused();
    server.injectFault({{"path_prefix", "/api/folders"}, {"method", "GET"}, {"delay_ms", 300}});
    showView();
    showTab(1);
    ASSERT_TRUE(view->syncTab()->isLoading());
    savePicture("settings-sync-loading");
    ASSERT_TRUE(runUntil([&] { return !view->syncTab()->isLoading(); }));

    showTab(0);
    retype(*find<QLineEdit>("syncDirField"), QStringLiteral("Corvane"));
    QTest::mouseClick(find<QPushButton>("saveButton"), Qt::LeftButton);
    savePicture("settings-general-folder-message");
}

}  // namespace
}  // namespace corvane::test
