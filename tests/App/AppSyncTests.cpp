// AppState driving the real engine against the stand-in server: sign-in, pause, resume,
// sign-out, a new setup, and the engine's reports as status, error and notifications.
#include "App/AppState.h"

#include <thread>

#include "API/APIClient.h"
#include "App/AppFixture.h"
#include "Platform/FakeNotificationService.h"
#include "Platform/FreedesktopNotifications.h"
#include "Platform/PrivateBus.h"
#include "Sync/ActivityManager.h"
#include "Sync/LocalStateStore.h"
#include "support/FileContents.h"
#include "support/ServerProcess.h"

namespace corvane::test {
namespace {

constexpr const char* kEmail = "ada@example.com";

// Plays a report of an engine from a thread of the engine's own, as its work would.
void reportFromBackground(const std::function<void()>& report)
{
    std::thread(report).join();
}

class AppSyncTest : public testing::Test, public AppFixture {
protected:
    AppSyncTest()
    {
        token = server.signIn(kEmail);
        storeSetupDone();
        storeSetting("serverURL", server.baseURL());
        storeSetting("syncDir", syncDir.string());
    }

    bool waitForStatus(AppState& state, SyncStatus status)
    {
        return runUntil([&] { return state.syncStatus() == status; }, 30s);
    }

    // Signs in and waits for the first cycle's end.
    AppState& signedIn()
    {
        AppState& state = makeState();
        EXPECT_EQ(state.phase(), AppPhase::login);
        state.login(QString::fromStdString(token), kEmail);
        EXPECT_TRUE(waitForStatus(state, SyncStatus::idle)) << state.lastError().toStdString();
        return state;
    }

    bool serverHas(const std::string& name)
    {
        APIClient client(server.baseURL());
        client.setToken(token);
        for (const Folder& folder : client.listFolders()) {
            for (const FileInfo& file :
                 client.getFolderTree(folder.id).files.value_or(std::vector<FileInfo>{})) {
                if (file.name == name) {
                    return true;
                }
            }
        }
        return false;
    }

    ServerProcess server;
    std::string token;
    fs::path syncDir = home.path() / "Corvane";
};

TEST_F(AppSyncTest, SignInSyncsAndAPauseHoldsAgainstLateReportsOfTheStoppedEngine)
{
    AppState& state = signedIn();
    EXPECT_EQ(state.phase(), AppPhase::ready);
    EXPECT_EQ(state.lastSyncTime(), QDateTime::fromSecsSinceEpoch(1'800'000'000));
    EXPECT_TRUE(state.lastError().isNull());
    EXPECT_EQ(KeychainHelper::load("auth_token"), token);
    EXPECT_EQ(UserDefaults::standard()->string("userEmail"), kEmail);
    ASSERT_EQ(engines.size(), 1u);

    state.togglePause();
    EXPECT_TRUE(state.isPaused());
    EXPECT_EQ(state.syncStatus(), SyncStatus::paused);
    EXPECT_EQ(state.menuBarIcon(), "pause.circle");
    EXPECT_EQ(state.syncEngine(), nullptr);
    EXPECT_FALSE(engines[0].engine->isRunning());
    // Reports that the stopped engine's work had already sent on their way.
    reportFromBackground([&] { engines[0].parts.onStatusChange(SyncStatus::idle); });
    reportFromBackground([&] { engines[0].parts.onError("Request failed"); });
    runUntil([] { return false; }, 100ms);
    EXPECT_EQ(state.syncStatus(), SyncStatus::paused);
    EXPECT_TRUE(state.lastError().isNull());
    EXPECT_TRUE(poster->posted().empty());

    // Resuming makes a new engine, which syncs what changed meanwhile.
    writeFileContents(syncDir / "while-paused.txt", "written while paused");
    state.togglePause();
    EXPECT_FALSE(state.isPaused());
    EXPECT_EQ(state.syncStatus(), SyncStatus::syncing);
    ASSERT_EQ(engines.size(), 2u);
    EXPECT_EQ(state.syncEngine(), engines[1].engine);
    ASSERT_TRUE(waitForStatus(state, SyncStatus::idle));
    EXPECT_TRUE(serverHas("while-paused.txt"));
}

TEST_F(AppSyncTest, LogoutStopsTheEngineAndForgetsOnlyTheSignIn)
{
    AppState& state = signedIn();
    writeFileContents(syncDir / "a.txt", "a");
    ASSERT_TRUE(runUntil([&] { return serverHas("a.txt"); }, 20s));
    ASSERT_TRUE(runUntil([&] { return state.syncStatus() == SyncStatus::idle; }));
    SyncStateProvider::shared().setBadge((syncDir / "a.txt").string(), SyncBadge::synced);
    const auto lastSync = state.lastSyncTime();

    state.logout();
    EXPECT_EQ(state.phase(), AppPhase::login);
    EXPECT_FALSE(state.isLoggedIn());
    EXPECT_EQ(state.userEmail(), "");
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);
    EXPECT_EQ(state.syncEngine(), nullptr);
    EXPECT_FALSE(engines[0].engine->isRunning());
    EXPECT_EQ(state.apiClient()->token(), std::nullopt);
    EXPECT_EQ(KeychainHelper::load("auth_token"), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard()->contains("userEmail"));
    EXPECT_FALSE(UserDefaults::suite(SyncStateProvider::kSuiteName)->contains("fileSyncStates"));
    // Kept: the server, the folder, the setup, the state file and the last sync.
    EXPECT_EQ(UserDefaults::standard()->string("serverURL"), server.baseURL());
    EXPECT_EQ(UserDefaults::standard()->string("syncDir"), syncDir.string());
    EXPECT_TRUE(state.isSetupDone());
    EXPECT_TRUE(fs::exists(LocalStateStore(syncDir).filePath()));
    EXPECT_EQ(state.lastSyncTime(), lastSync);

    // The old engine's last requests may fail as signed out: that is no sync error.
    reportFromBackground([&] { engines[0].parts.onError("Session expired, please log in again"); });
    runUntil([] { return false; }, 100ms);
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);
    EXPECT_TRUE(poster->posted().empty());

    // Signing in again starts a new engine.
    state.login(QString::fromStdString(token), kEmail);
    EXPECT_EQ(engines.size(), 2u);
    EXPECT_TRUE(waitForStatus(state, SyncStatus::idle));
}

TEST_F(AppSyncTest, APauseOutlastsSignOutAndSignIn)
{
    AppState& state = signedIn();
    state.togglePause();
    state.logout();
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);
    state.login(QString::fromStdString(token), kEmail);
    EXPECT_EQ(state.phase(), AppPhase::ready);
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);
    EXPECT_EQ(engines.size(), 1u);
    state.togglePause();
    EXPECT_EQ(engines.size(), 2u);
    EXPECT_TRUE(waitForStatus(state, SyncStatus::idle));
}

TEST_F(AppSyncTest, ANewSetupSignsOutAndStartsTheNewFolderAfresh)
{
    AppState& state = signedIn();
    const fs::path newDir = home.path() / "Elsewhere" / "Sync";
    writeFileContents(LocalStateStore(newDir).filePath(), "{}");
    ASSERT_TRUE(fs::exists(LocalStateStore(syncDir).filePath()));
    int statusChanges = 0;
    QObject::connect(&state, &AppState::syncStatusChanged, [&] { ++statusChanges; });
    state.activityManager()->startTransfer("t", ActivityType::upload, "a", "/a", 10);

    const QString address = QString::fromStdString(server.baseURL() + "/");
    state.completeSetup(address, QString::fromStdString(newDir.string()));
    EXPECT_EQ(state.phase(), AppPhase::login);
    EXPECT_FALSE(state.isLoggedIn());
    EXPECT_EQ(state.serverURL(), address);  // as given, "/" and all
    EXPECT_EQ(state.apiClient()->baseURL(), server.baseURL());
    EXPECT_EQ(state.apiClient()->token(), std::nullopt);
    EXPECT_EQ(state.syncDir().toStdString(), newDir.string());
    EXPECT_EQ(state.syncStatus(), SyncStatus::offline);  // no engine runs any more
    EXPECT_EQ(statusChanges, 1);
    EXPECT_FALSE(engines[0].engine->isRunning());
    EXPECT_FALSE(fs::exists(LocalStateStore(syncDir).filePath()));
    EXPECT_FALSE(fs::exists(LocalStateStore(newDir).filePath()));
    EXPECT_TRUE(fs::is_directory(newDir));
    EXPECT_EQ(KeychainHelper::load("auth_token"), std::nullopt);
    const auto defaults = UserDefaults::standard();
    EXPECT_EQ(defaults->string("serverURL"), address.toStdString());
    EXPECT_EQ(defaults->string("syncDir"), newDir.string());
    EXPECT_EQ(defaults->boolean("setupDone"), true);
    EXPECT_FALSE(defaults->contains("userEmail"));
    const auto group = UserDefaults::suite(SyncStateProvider::kSuiteName);
    EXPECT_EQ(group->string("serverURL"), address.toStdString());
    EXPECT_EQ(group->string("syncDirectory"), newDir.string());
    // The transfers of the feed outlive the engine; the activity feed is shared.
    EXPECT_EQ(state.statusSummary(), "Syncing 1 file (0%)");
}

TEST_F(AppSyncTest, AnEmptyAddressIsStoredAndSendsTheNextLaunchBackToSetup)
{
    {
        AppState& state = makeState();
        state.completeSetup("", QString::fromStdString(syncDir.string()));
        EXPECT_EQ(state.apiClient()->baseURL(), "");
        EXPECT_EQ(UserDefaults::standard()->string("serverURL"), "");
        EXPECT_EQ(UserDefaults::standard()->boolean("setupDone"), true);
    }
    EXPECT_EQ(makeState().phase(), AppPhase::setup);
}

class AppSyncNotificationTest : public AppSyncTest {
protected:
    AppSyncNotificationTest() { notifications = std::make_shared<FreedesktopNotifications>(); }

    // Serves the main queue meanwhile: the engine's reports come through it.
    bool notified(std::size_t count)
    {
        return runUntil([&] { return service.notifications().size() >= count; });
    }

    PrivateBus bus;  // before the poster, which connects to it when it first posts
    FakeNotificationService service{bus.address(), {"body", "sound"}};
};

TEST_F(AppSyncNotificationTest, EachEngineErrorIsOneNotificationAndAnIdleClearsTheError)
{
    server.injectFault({{"path_prefix", "/api/folders"},
                        {"method", "GET"},
                        {"status", 500},
                        {"body", "database is down"},
                        {"count", 1000}});
    AppState& state = makeState();
    ASSERT_TRUE(service.waitForCapabilityQueries(1));
    state.login(QString::fromStdString(token), kEmail);
    ASSERT_TRUE(waitForStatus(state, SyncStatus::error));
    EXPECT_EQ(state.lastError(), "database is down");
    EXPECT_EQ(state.menuBarIcon(), "exclamationmark.icloud");
    ASSERT_TRUE(notified(1));
    runUntil([] { return false; }, 100ms);
    ASSERT_EQ(service.notifications().size(), 1u);
    EXPECT_EQ(service.notifications()[0].summary, "Sync Error");
    EXPECT_EQ(service.notifications()[0].body, "database is down");

    // Paused and resumed: a new engine, failing the same way, posts once more.
    state.togglePause();
    state.togglePause();
    ASSERT_TRUE(notified(2));
    EXPECT_EQ(state.syncStatus(), SyncStatus::error);

    // The next engine gets through: the error is cleared and the sync time stamped.
    server.clearFaults();
    now += std::chrono::hours(1);
    state.togglePause();
    state.togglePause();
    ASSERT_TRUE(waitForStatus(state, SyncStatus::idle));
    EXPECT_TRUE(state.lastError().isNull());
    EXPECT_EQ(state.lastSyncTime(), QDateTime::fromSecsSinceEpoch(1'800'003'600));
    EXPECT_EQ(state.statusSummary(), "Up to date");
    EXPECT_EQ(service.notifications().size(), 2u);
}

}  // namespace
}  // namespace corvane::test
