// "Save" on the General tab for a user signed in to the stand-in server with sync running:
// what is stored, when the user is signed out, and which sync state files go.
#include "MenuBar/GeneralTab.h"

#include "MenuBar/SettingsServerFixture.h"
#include "Sync/LocalStateStore.h"

namespace corvane::test {
namespace {

enum class AddressField { same, upperCaseScheme, trailingSlash, empty };
enum class FolderField { same, other };

struct SaveCase {
    const char* name;
    AddressField address;
    FolderField folder;
    bool signsOut;
    // Whether each folder's sync state file is still there afterwards.
    bool previousStateKept;
    bool newStateKept;
};

const SaveCase kCases[] = {
    {"UnchangedStaysSignedIn", AddressField::same, FolderField::same, false, true, true},
    {"LetterCaseSignsOut", AddressField::upperCaseScheme, FolderField::same, true, false, false},
    {"TrailingSlashSignsOut", AddressField::trailingSlash, FolderField::same, true, false, false},
    {"EmptyAddressStaysSignedIn", AddressField::empty, FolderField::same, false, true, true},
    {"FolderOnlyStaysSignedIn", AddressField::same, FolderField::other, false, true, true},
    // Both state files go: the previous folder's described the previous server's files.
    {"AddressAndFolderSignOutAndForgetBothStates", AddressField::trailingSlash, FolderField::other,
     true, false, false},
};

void PrintTo(const SaveCase& entry, std::ostream* out)
{
    *out << entry.name;
}

class GeneralTabSaveTest : public testing::TestWithParam<SaveCase>, public SettingsServerFixture {
protected:
    std::string typedAddress(AddressField address) const
    {
        switch (address) {
        case AddressField::same:
            return server.baseURL();
        case AddressField::upperCaseScheme:
            return "HTTP" + server.baseURL().substr(4);
        case AddressField::trailingSlash:
            return server.baseURL() + "/";
        case AddressField::empty:
            return "";
        }
        return "";
    }

    static fs::path stateFile(const fs::path& folder) { return LocalStateStore(folder).filePath(); }

    static void writeState(const fs::path& folder)
    {
        fs::create_directories(stateFile(folder).parent_path());
        std::ofstream(stateFile(folder)) << R"({"files":{}})";
    }

    fs::path otherDir = home.path() / "Other";
};

TEST_P(GeneralTabSaveTest, StoresTheFieldsAndSignsOutOnlyForAChangedAddress)
{
    const SaveCase& entry = GetParam();
    AppState& appState = signedInSyncing();
    const auto engine = appState.syncEngine();
    const auto client = appState.apiClient();
    ASSERT_TRUE(engine);
    showView();
    const std::string address = typedAddress(entry.address);
    const fs::path folder = entry.folder == FolderField::same ? syncDir : otherDir;
    writeState(syncDir);
    writeState(otherDir);
    // Settings changed behind the window's back: Save writes every one of them again.
    UserDefaults::standard()->setString("serverURL", "http://stale.example.com");
    UserDefaults::standard()->setString("syncDir", "/stale");
    SyncStateProvider::shared().setSyncDirectory("/stale");

    retype(*find<QLineEdit>("serverURLField"), QString::fromStdString(address));
    retype(*find<QLineEdit>("syncDirField"), QString::fromStdString(folder.string()));
    QTest::mouseClick(find<QPushButton>("saveButton"), Qt::LeftButton);
    ASSERT_TRUE(runUntil([&] { return !appState.hasEngineWork() || !entry.signsOut; }));

    EXPECT_FALSE(find<QLabel>("syncDirError")->isVisible());
    EXPECT_EQ(appState.serverURL().toStdString(), address);
    EXPECT_EQ(UserDefaults::standard()->string("serverURL"), address);
    EXPECT_EQ(appState.syncDir().toStdString(), folder.string());
    EXPECT_EQ(UserDefaults::standard()->string("syncDir"), folder.string());
    EXPECT_EQ(SyncStateProvider::shared().syncDirectory(), folder.string());
    EXPECT_EQ(appState.isLoggedIn(), !entry.signsOut);
    if (entry.signsOut) {
        EXPECT_EQ(appState.phase(), AppPhase::login);
        EXPECT_EQ(appState.syncEngine(), nullptr);
        EXPECT_FALSE(engine->isRunning());
        EXPECT_FALSE(KeychainHelper::load(KeychainHelper::kAuthTokenKey));
        EXPECT_FALSE(UserDefaults::standard()->string("userEmail"));
        EXPECT_NE(appState.apiClient(), client);
    } else {
        // Sync goes on as it was, with the folder it was started with.
        EXPECT_EQ(appState.phase(), AppPhase::ready);
        EXPECT_EQ(appState.syncEngine(), engine);
        EXPECT_TRUE(engine->isRunning());
        EXPECT_EQ(appState.apiClient(), client);
        EXPECT_EQ(KeychainHelper::load(KeychainHelper::kAuthTokenKey), token);
    }
    EXPECT_EQ(fs::exists(stateFile(syncDir)), entry.previousStateKept);
    if (entry.folder == FolderField::other) {
        EXPECT_EQ(fs::exists(stateFile(otherDir)), entry.newStateKept);
    }
    // The window stays, with what was saved.
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(find<QLineEdit>("serverURLField")->text().toStdString(), address);
}

INSTANTIATE_TEST_SUITE_P(Cases, GeneralTabSaveTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane::test
