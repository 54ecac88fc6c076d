#include "App/AppState.h"

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "App/AppFixture.h"
#include "Sync/ActivityManager.h"

namespace corvane::test {
namespace {

class AppStateTest : public testing::Test, public AppFixture {};

struct StoredSetup {
    const char* name;
    bool setupDone;
    std::optional<std::string> serverURL;
    std::optional<std::string> token;
    std::optional<std::string> email;
    std::optional<std::string> syncDir;
    // What construction makes of it.
    AppPhase phase;
    bool signedIn;
    SyncStatus status;
    std::size_t engines;
};

const StoredSetup kStoredSetups[] = {
    {"Nothing", false, {}, {}, {}, {}, AppPhase::setup, false, SyncStatus::offline, 0},
    {"SetupDoneWithoutServer",
     true,
     {},
     "token",
     "ada@example.com",
     {},
     AppPhase::setup,
     false,
     SyncStatus::offline,
     0},
    {"EmptyServer",
     true,
     "",
     "token",
     "ada@example.com",
     {},
     AppPhase::setup,
     false,
     SyncStatus::offline,
     0},
    {"ServerNotSetUp",
     false,
     "http://127.0.0.1:9",
     "token",
     "ada@example.com",
     {},
     AppPhase::setup,
     false,
     SyncStatus::offline,
     0},
    {"NoToken",
     true,
     "http://127.0.0.1:9",
     {},
     "ada@example.com",
     {},
     AppPhase::login,
     false,
     SyncStatus::offline,
     0},
    {"TokenWithoutEmail",
     true,
     "http://127.0.0.1:9",
     "token",
     {},
     {},
     AppPhase::login,
     false,
     SyncStatus::offline,
     0},
    {"AllPresent",
     true,
     "http://127.0.0.1:9/",
     "token",
     "ada@example.com",
     {},
     AppPhase::ready,
     true,
     SyncStatus::syncing,
     1},
    {"EmptyTokenAndEmail",
     true,
     "http://127.0.0.1:9",
     "",
     "",
     {},
     AppPhase::ready,
     true,
     SyncStatus::syncing,
     1},
    // An empty folder is a stored text and kept, but never synced: the working folder would be.
    {"EmptySyncFolder", true, "http://127.0.0.1:9", "token", "ada@example.com", "", AppPhase::ready,
     true, SyncStatus::error, 0},
    {"RelativeSyncFolder", true, "http://127.0.0.1:9", "token", "ada@example.com", "Corvane",
     AppPhase::ready, true, SyncStatus::error, 0},
};

void PrintTo(const StoredSetup& setup, std::ostream* out)
{
    *out << setup.name;
}

class AppStateConstructionTest : public testing::TestWithParam<StoredSetup>, public AppFixture {};

INSTANTIATE_TEST_SUITE_P(StoredSetups, AppStateConstructionTest, testing::ValuesIn(kStoredSetups),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(AppStateConstructionTest, RestoresWhatIsStoredAndWritesNothing)
{
    const StoredSetup& setup = GetParam();
    if (setup.setupDone) {
        storeSetupDone();
    }
    if (setup.serverURL) {
        storeSetting("serverURL", *setup.serverURL);
    }
    if (setup.email) {
        storeSetting("userEmail", *setup.email);
    }
    if (setup.syncDir) {
        storeSetting("syncDir", *setup.syncDir);
    }
    if (setup.token) {
        ASSERT_TRUE(KeychainHelper::save("auth_token", *setup.token));
    }
    const std::string expectedDir = setup.syncDir.value_or((home.path() / "Corvane").string());
    UserDefaults::suite(SyncStateProvider::kSuiteName)->setString("syncDirectory", expectedDir);
    UserDefaults::suite(SyncStateProvider::kSuiteName)->flush();
    const auto standardBefore = fileBytes(standardFile());
    const auto groupBefore = fileBytes(groupFile());
    const auto tokenBefore = fileBytes(KeychainHelper::fileURL("auth_token"));

    AppState& state = makeState();

    EXPECT_EQ(state.phase(), setup.phase);
    EXPECT_EQ(state.isLoggedIn(), setup.signedIn);
    EXPECT_EQ(state.syncStatus(), setup.status);
    EXPECT_EQ(engines.size(), setup.engines);
    EXPECT_EQ(state.syncDir().toStdString(), expectedDir);
    EXPECT_EQ(state.serverURL().toStdString(), setup.serverURL.value_or(""));
    EXPECT_EQ(state.apiClient()->baseURL(), setup.serverURL && !setup.serverURL->empty()
                                                ? "http://127.0.0.1:9"
                                                : "http://localhost:8080");
    EXPECT_EQ(state.userEmail().toStdString(), setup.signedIn ? *setup.email : "");
    EXPECT_EQ(state.apiClient()->token(),
              setup.signedIn ? setup.token : std::optional<std::string>());
    EXPECT_FALSE(state.isPaused());
    EXPECT_TRUE(state.lastSyncTime().isNull());
    EXPECT_EQ(poster->permissionRequests(), 1);
    EXPECT_EQ(loginItem->registrations + loginItem->unregistrations, 0);
    if (setup.engines > 0) {
        EXPECT_TRUE(engines.front().engine->isRunning());
        EXPECT_EQ(engines.front().parts.syncDir, expectedDir);
        EXPECT_EQ(engines.front().parts.apiClient, state.apiClient());
    }
    if (setup.status == SyncStatus::error) {
        EXPECT_EQ(state.lastError(), "Sync folder must be an absolute path");
        ASSERT_EQ(poster->posted().size(), 1u);
        EXPECT_EQ(poster->posted().front().title, "Sync Error");
    } else {
        EXPECT_TRUE(state.lastError().isNull());
    }

    UserDefaults::standard()->flush();
    UserDefaults::suite(SyncStateProvider::kSuiteName)->flush();
    EXPECT_EQ(fileBytes(standardFile()), standardBefore);
    EXPECT_EQ(fileBytes(groupFile()), groupBefore);
    EXPECT_EQ(fileBytes(KeychainHelper::fileURL("auth_token")), tokenBefore);
}

TEST_F(AppStateTest, AFirstLaunchPublishesTheDefaultFolderAndCreatesNoSettings)
{
    AppState& state = makeState();
    UserDefaults::standard()->flush();
    EXPECT_FALSE(fs::exists(standardFile()));
    EXPECT_EQ(SyncStateProvider::shared().syncDirectory(), (home.path() / "Corvane").string());
    EXPECT_FALSE(state.isSetupDone());
    EXPECT_FALSE(state.launchAtLogin());
}

TEST_F(AppStateTest, LaunchAtLoginIsReadFromTheLoginItemAtConstruction)
{
    loginItem->registerItem();
    EXPECT_TRUE(makeState().launchAtLogin());
}

// Summary and tray icon while the activity feed holds transfers (progress values) and the status
// says `status`.
struct SummaryCase {
    std::vector<double> progress;
    SyncStatus status;
    const char* summary;
    const char* icon;
};

const SummaryCase kSummaryCases[] = {
    {{}, SyncStatus::idle, "Up to date", "checkmark.icloud"},
    {{}, SyncStatus::syncing, "Syncing...", "arrow.triangle.2.circlepath.icloud"},
    {{}, SyncStatus::error, "Sync Error", "exclamationmark.icloud"},
    {{}, SyncStatus::offline, "Offline", "icloud.slash"},
    {{}, SyncStatus::paused, "Paused", "pause.circle"},
    {{0.5}, SyncStatus::idle, "Syncing 1 file (50%)", "arrow.triangle.2.circlepath.icloud"},
    {{0.25, 0.5}, SyncStatus::idle, "Syncing 2 files (37%)", "arrow.triangle.2.circlepath.icloud"},
    {{0.0, 0.1, 0.125},
     SyncStatus::idle,
     "Syncing 3 files (7%)",
     "arrow.triangle.2.circlepath.icloud"},
    {{0.999}, SyncStatus::idle, "Syncing 1 file (99%)", "arrow.triangle.2.circlepath.icloud"},
    {{1.0}, SyncStatus::idle, "Syncing 1 file (100%)", "arrow.triangle.2.circlepath.icloud"},
    {{0.5}, SyncStatus::paused, "Syncing 1 file (50%)", "arrow.triangle.2.circlepath.icloud"},
    {{0.25, 0.5}, SyncStatus::error, "Syncing 2 files (37%)", "arrow.triangle.2.circlepath.icloud"},
};

// Brings the state to `status` through its own operations and the engine's reports.
void reachStatus(AppFixture& fixture, AppState& state, SyncStatus status)
{
    if (status == SyncStatus::offline) {
        return;
    }
    state.login("token", "ada@example.com");
    if (status == SyncStatus::paused) {
        state.togglePause();
        return;
    }
    // The engine's own report first: nobody serves its address.
    fixture.runUntil([&] { return state.syncStatus() == SyncStatus::error; }, 10s);
    const auto& parts = fixture.engines.back().parts;
    if (status == SyncStatus::error) {
        parts.onError("failed");
    } else {
        parts.onStatusChange(status);
    }
    fixture.runUntil([&] { return state.syncStatus() == status; }, 5s);
}

TEST(AppStateSummaryTest, SummaryAndIconFollowTheTransfersWhateverTheStatus)
{
    for (const SummaryCase& row : kSummaryCases) {
        SCOPED_TRACE(std::string(row.summary) + " / " + std::string(displayText(row.status)));
        {
            AppFixture fixture;
            fixture.storeSetupDone();
            fixture.storeSetting("serverURL", "http://127.0.0.1:9");
            AppState& state = fixture.makeState();
            reachStatus(fixture, state, row.status);
            ASSERT_EQ(state.syncStatus(), row.status);
            const auto& activity = *state.activityManager();
            for (std::size_t i = 0; i < row.progress.size(); ++i) {
                const std::string id = "t" + std::to_string(i);
                state.activityManager()->startTransfer(id, ActivityType::upload, "a.txt", "/a.txt",
                                                       1000);
                state.activityManager()->updateProgress(
                    id, static_cast<std::int64_t>(row.progress[i] * 1000));
            }
            ASSERT_EQ(activity.activeCount(), row.progress.size());
            EXPECT_EQ(state.statusSummary().toStdString(), row.summary);
            EXPECT_EQ(state.menuBarIcon().toStdString(), row.icon);
        }
    }
}

TEST_F(AppStateTest, SummaryChangesFollowTheFeedAtMostEveryInterval)
{
    AppState& state = makeState();
    int announced = 0;
    QString seen;
    QObject::connect(&state, &AppState::summaryChanged, [&] {
        ++announced;
        seen = state.statusSummary();
    });
    const auto started = std::chrono::steady_clock::now();
    state.activityManager()->startTransfer("t", ActivityType::download, "a", "/a", 100);
    // At the loop's next turn, with the new values readable.
    QCoreApplication::processEvents();
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(seen, "Syncing 1 file (0%)");

    // A burst of changes gives one more announcement, once the interval has passed.
    for (int bytes = 1; bytes <= 50; ++bytes) {
        state.activityManager()->updateProgress("t", bytes);
        QCoreApplication::processEvents();
    }
    if (std::chrono::steady_clock::now() - started < AppState::kSummaryInterval) {
        EXPECT_EQ(announced, 1);
    }
    ASSERT_TRUE(runUntil([&] { return announced == 2; }, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, AppState::kSummaryInterval);
    EXPECT_EQ(seen, "Syncing 1 file (50%)");
    runUntil([] { return false; }, 3 * AppState::kSummaryInterval);
    EXPECT_EQ(announced, 2);
}

TEST_F(AppStateTest, EveryAssignmentOfTheServerAddressIsStoredForTheAppAndTheExtension)
{
    AppState& state = makeState();
    int announced = 0;
    QObject::connect(&state, &AppState::serverURLChanged, [&] { ++announced; });
    state.setServerURL("https://sync.example.com/");
    UserDefaults::standard()->remove("serverURL");
    UserDefaults::suite(SyncStateProvider::kSuiteName)->remove("serverURL");
    state.setServerURL("https://sync.example.com/");  // the same value: written again
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(UserDefaults::standard()->string("serverURL"), "https://sync.example.com/");
    EXPECT_EQ(UserDefaults::suite(SyncStateProvider::kSuiteName)->string("serverURL"),
              "https://sync.example.com/");
}

TEST_F(AppStateTest, EveryAssignmentOfLaunchAtLoginReachesTheLoginItem)
{
    AppState& state = makeState();
    state.setLaunchAtLogin(true);
    state.setLaunchAtLogin(true);
    EXPECT_EQ(loginItem->registrations, 2);
    EXPECT_TRUE(state.launchAtLogin());
    state.setLaunchAtLogin(false);
    EXPECT_EQ(loginItem->unregistrations, 1);
    EXPECT_FALSE(state.launchAtLogin());
}

TEST_F(AppStateTest, AFailedRegistrationShowsLaunchAtLoginOff)
{
    AppState& state = makeState();
    // A file where the autostart folder belongs: the entry cannot be written.
    fs::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config" / "autostart") << "in the way";
    int announced = 0;
    QObject::connect(&state, &AppState::launchAtLoginChanged, [&] { ++announced; });
    testing::internal::CaptureStdout();
    state.setLaunchAtLogin(true);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("LaunchAtLogin error: ", 0), 0u) << printed;
    EXPECT_EQ(loginItem->registrations, 1);
    EXPECT_FALSE(state.launchAtLogin());
    EXPECT_EQ(announced, 2);  // on, then back to what the login item says
}

TEST_F(AppStateTest, StartSyncDoesNothingWhileSignedOutOrPaused)
{
    storeSetupDone();
    storeSetting("serverURL", "http://127.0.0.1:9");
    AppState& state = makeState();
    state.startSync();
    EXPECT_TRUE(engines.empty());
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);
    state.togglePause();
    EXPECT_EQ(state.syncStatus(), SyncStatus::paused);
    state.login("token", "ada@example.com");
    EXPECT_TRUE(engines.empty());
    EXPECT_EQ(state.syncStatus(), SyncStatus::paused);
    state.togglePause();
    ASSERT_EQ(engines.size(), 1u);
    EXPECT_EQ(state.syncStatus(), SyncStatus::syncing);
}

}  // namespace
}  // namespace corvane::test
