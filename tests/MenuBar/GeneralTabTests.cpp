// The General tab without a server: the fields and their refill, "Browse...", the folder check
// of "Save" and the launch-at-login switch over the real autostart entry.
#include "MenuBar/GeneralTab.h"

#include "MenuBar/GeneralTabSave.h"
#include "MenuBar/SettingsTestSupport.h"
#include "Platform/XdgAutostartLoginItem.h"

namespace corvane::test {
namespace {

constexpr int kGeneralTab = 0;
constexpr int kSyncTab = 1;
const QString kHome = QStringLiteral("/home/ada");

TEST(GeneralTabSaveTest, AFolderMustBeAbsoluteAfterTheHomeFolderIsPutInForTilde)
{
    const struct {
        const char* typed;
        std::optional<QString> folder;
    } cases[] = {
        {"/srv/Corvane", QStringLiteral("/srv/Corvane")},
        {"/", QStringLiteral("/")},
        {"~/Corvane", QStringLiteral("/home/ada/Corvane")},
        {"~/Sync/Work", QStringLiteral("/home/ada/Sync/Work")},
        {"~/", QStringLiteral("/home/ada")},
        {"", std::nullopt},
        {"Corvane", std::nullopt},
        {"./Corvane", std::nullopt},
        {"~", std::nullopt},
        {"~ada/Corvane", std::nullopt},
        {" /srv/Corvane", std::nullopt},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(GeneralTabSave::absoluteFolder(QString::fromUtf8(entry.typed), kHome),
                  entry.folder)
            << entry.typed;
    }
    // Without a home folder, "~/" stays relative.
    EXPECT_EQ(GeneralTabSave::absoluteFolder(QStringLiteral("~/Corvane"), QString()), std::nullopt);
}

TEST(GeneralTabSaveTest, AnyDifferenceOfANonEmptyAddressSignsOut)
{
    const QString current = QStringLiteral("https://sync.example.com");
    const struct {
        const char* typed;
        bool signsOut;
    } cases[] = {
        {"https://sync.example.com", false}, {"HTTPS://sync.example.com", true},
        {"https://sync.example.com/", true}, {" https://sync.example.com", true},
        {"https://other.example.com", true}, {"", false},
    };
    for (const auto& entry : cases) {
        const auto saved = GeneralTabSave::plan(QString::fromUtf8(entry.typed),
                                                QStringLiteral("~/Corvane"), current, kHome);
        ASSERT_TRUE(saved) << entry.typed;
        EXPECT_EQ(*saved, (GeneralTabSave{QString::fromUtf8(entry.typed),
                                          QStringLiteral("/home/ada/Corvane"), entry.signsOut}))
            << entry.typed;
    }
    EXPECT_EQ(GeneralTabSave::plan(QStringLiteral("https://other.example.com"), QString(), current,
                                   kHome),
              std::nullopt);
}

class GeneralTabTest : public testing::Test, public SettingsFixture {
protected:
    GeneralTabTest()
    {
        storeSetupDone();
        storeSetting("serverURL", "http://127.0.0.1:9");
        storeSetting("syncDir", syncDir.string());
    }

    QLineEdit* serverField() const { return find<QLineEdit>("serverURLField"); }
    QLineEdit* folderField() const { return find<QLineEdit>("syncDirField"); }
    QLabel* folderError() const { return find<QLabel>("syncDirError"); }
    void save() { QTest::mouseClick(find<QPushButton>("saveButton"), Qt::LeftButton); }

    fs::path syncDir = home.path() / "Corvane";
};

TEST_F(GeneralTabTest, ShowsTheStoredAddressAndFolderAndTheFixedTexts)
{
    makeState();
    showView();
    EXPECT_EQ(serverField()->text().toStdString(), "http://127.0.0.1:9");
    EXPECT_EQ(folderField()->text().toStdString(), syncDir.string());
    EXPECT_EQ(serverField()->placeholderText().toStdString(), "Server URL");
    EXPECT_EQ(folderField()->placeholderText().toStdString(), "Path");
    EXPECT_EQ(text("serverHint"), "Changing the server requires re-login.");
    EXPECT_EQ(find<QPushButton>("browseButton")->text().toStdString(), "Browse...");
    EXPECT_EQ(find<QCheckBox>("launchAtLoginToggle")->text().toStdString(),
              "Launch Corvane at login");
    EXPECT_EQ(find<QPushButton>("saveButton")->text().toStdString(), "Save");
    EXPECT_FALSE(folderError()->isVisible());
}

TEST_F(GeneralTabTest, AnEditThatWasNotSavedIsGoneAfterASwitchOfTabs)
{
    AppState& appState = makeState();
    showView();
    retype(*serverField(), QStringLiteral("https://elsewhere.example.com"));
    retype(*folderField(), QStringLiteral("/srv/elsewhere"));

    showTab(kSyncTab);
    showTab(kGeneralTab);
    EXPECT_EQ(serverField()->text().toStdString(), "http://127.0.0.1:9");
    EXPECT_EQ(folderField()->text().toStdString(), syncDir.string());
    EXPECT_EQ(appState.serverURL().toStdString(), "http://127.0.0.1:9");
    EXPECT_EQ(UserDefaults::standard()->string("syncDir"), syncDir.string());

    // The stored values as they are now, not as they were at the first show.
    appState.setServerURL(QStringLiteral("http://127.0.0.1:10"));
    showTab(kSyncTab);
    showTab(kGeneralTab);
    EXPECT_EQ(serverField()->text().toStdString(), "http://127.0.0.1:10");
}

TEST_F(GeneralTabTest, BrowseFillsTheFieldOnlyAndACancelLeavesIt)
{
    AppState& appState = makeState();
    showView();
    folderChooser->answers.push_back(QString());
    QTest::mouseClick(find<QPushButton>("browseButton"), Qt::LeftButton);
    EXPECT_EQ(folderField()->text().toStdString(), syncDir.string());

    folderChooser->answers.push_back(QStringLiteral("/srv/chosen"));
    QTest::mouseClick(find<QPushButton>("browseButton"), Qt::LeftButton);
    EXPECT_EQ(folderField()->text().toStdString(), "/srv/chosen");
    ASSERT_EQ(folderChooser->asked.size(), 2u);
    EXPECT_EQ(folderChooser->asked[1].prompt.toStdString(), "Choose");
    EXPECT_TRUE(folderChooser->asked[1].message.isEmpty());
    // Nothing is stored until "Save".
    EXPECT_EQ(appState.syncDir().toStdString(), syncDir.string());
    EXPECT_EQ(UserDefaults::standard()->string("syncDir"), syncDir.string());
}

TEST_F(GeneralTabTest, SaveStoresNoFolderThatIsNotAbsoluteAndSaysSo)
{
    AppState& appState = makeState();
    showView();
    SyncStateProvider::shared().setSyncDirectory(syncDir.string());
    int addressWrites = 0;
    QObject::connect(&appState, &AppState::serverURLChanged, [&] { ++addressWrites; });

    for (const QString& typed : {QString(), QStringLiteral("Corvane"), QStringLiteral("~")}) {
        retype(*folderField(), typed);
        retype(*serverField(), QStringLiteral("http://127.0.0.1:11"));
        save();
        EXPECT_TRUE(folderError()->isVisible()) << typed.toStdString();
        EXPECT_EQ(folderError()->text().toStdString(), "Choose an absolute folder path");
        EXPECT_EQ(folderError()->textFormat(), Qt::PlainText);
        // Nothing at all is stored: not the folder, and not the address beside it.
        EXPECT_EQ(appState.syncDir().toStdString(), syncDir.string());
        EXPECT_EQ(UserDefaults::standard()->string("syncDir"), syncDir.string());
        EXPECT_EQ(SyncStateProvider::shared().syncDirectory(), syncDir.string());
        EXPECT_EQ(appState.serverURL().toStdString(), "http://127.0.0.1:9");
        EXPECT_EQ(addressWrites, 0);
    }

    // "~/" is the home folder; a good folder clears the message.
    retype(*folderField(), QStringLiteral("~/Elsewhere"));
    retype(*serverField(), QStringLiteral("http://127.0.0.1:9"));
    save();
    const std::string elsewhere = (home.path() / "Elsewhere").string();
    EXPECT_FALSE(folderError()->isVisible());
    EXPECT_EQ(folderField()->text().toStdString(), elsewhere);
    EXPECT_EQ(appState.syncDir().toStdString(), elsewhere);
    EXPECT_EQ(UserDefaults::standard()->string("syncDir"), elsewhere);
    EXPECT_EQ(SyncStateProvider::shared().syncDirectory(), elsewhere);
}

TEST_F(GeneralTabTest, TheMessageGoesWhenTheTabIsShownAgain)
{
    makeState();
    showView();
    retype(*folderField(), QStringLiteral("relative"));
    save();
    ASSERT_TRUE(folderError()->isVisible());
    showTab(kSyncTab);
    showTab(kGeneralTab);
    EXPECT_FALSE(folderError()->isVisible());
}

TEST_F(GeneralTabTest, TheSwitchWritesAndRemovesTheAutostartEntryWithoutSave)
{
    AppState& appState = makeState();
    showView();
    auto* toggle = find<QCheckBox>("launchAtLoginToggle");
    const fs::path entry = XdgAutostartLoginItem::entryPath();
    ASSERT_EQ(entry, home.path() / ".config/autostart/corvane.desktop");
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(fs::exists(entry));

    clickToggle(toggle);
    EXPECT_TRUE(appState.launchAtLogin());
    EXPECT_TRUE(toggle->isChecked());
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_NE(fileBytes(entry)->find("Exec="), std::string::npos);
    EXPECT_EQ(loginItem->registrations, 1);

    clickToggle(toggle);
    EXPECT_FALSE(appState.launchAtLogin());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(loginItem->unregistrations, 1);
    // Neither address nor folder was touched.
    EXPECT_EQ(appState.serverURL().toStdString(), "http://127.0.0.1:9");
}

TEST_F(GeneralTabTest, TheSwitchAnswersAnAssistiveToolsToggleAction)
{
    AppState& appState = makeState();
    showView();
    auto* toggle = find<QCheckBox>("launchAtLoginToggle");
    const fs::path entry = XdgAutostartLoginItem::entryPath();

    toggleAsAssistiveTool(toggle);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(appState.launchAtLogin());
    EXPECT_TRUE(fs::exists(entry));
    toggleAsAssistiveTool(toggle);
    EXPECT_FALSE(appState.launchAtLogin());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(loginItem->registrations, 1);
    EXPECT_EQ(loginItem->unregistrations, 1);
}

TEST_F(GeneralTabTest, TheSwitchFollowsTheStateAndShowingItWritesNothing)
{
    loginItem->registerItem();
    loginItem->registrations = 0;
    AppState& appState = makeState();
    showView();
    auto* toggle = find<QCheckBox>("launchAtLoginToggle");
    EXPECT_TRUE(toggle->isChecked());
    showTab(kSyncTab);
    showTab(kGeneralTab);
    EXPECT_EQ(loginItem->registrations + loginItem->unregistrations, 0);

    appState.setLaunchAtLogin(false);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(loginItem->unregistrations, 1);
    EXPECT_EQ(loginItem->registrations, 0);
}

}  // namespace
}  // namespace corvane::test
