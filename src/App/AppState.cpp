#include "App/AppState.h"

#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "API/APIClient.h"
#include "App/LaunchAtLogin.h"
#include "FinderSync/FinderSyncExtension.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Models/KeychainHelper.h"
#include "Platform/MainQueue.h"
#include "Platform/NotificationPoster.h"
#include "Platform/Paths.h"
#include "Platform/UserDefaults.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/SyncEngine.h"

namespace corvane {
namespace {

constexpr const char* kServerURLKey = "serverURL";
constexpr const char* kSyncDirKey = "syncDir";
constexpr const char* kSetupDoneKey = "setupDone";
constexpr const char* kUserEmailKey = "userEmail";

std::shared_ptr<UserDefaults> standardDefaults()
{
    return UserDefaults::standard();
}

std::string text(const QString& value)
{
    return value.toStdString();
}

QString qtext(const std::string& value)
{
    return QString::fromStdString(value);
}

// The state file of the engine for `syncDir`; failures to remove it are no concern of the caller.
void removeStateFile(const QString& syncDir)
{
    std::error_code ignored;
    std::filesystem::remove(LocalStateStore(std::filesystem::path(text(syncDir))).filePath(),
                            ignored);
}

}  // namespace

AppState::AppState(AppServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)),
      m_anchor(this, [](AppState*) {}),  // owns nothing: only lends weak references
      m_launchAtLogin(LaunchAtLogin::isEnabled(*m_services.loginItem)),
      m_activityManager(std::make_shared<ActivityManager>()),
      m_selectiveSyncManager(std::make_shared<SelectiveSyncManager>()),
      m_bandwidthThrottler(std::make_shared<BandwidthThrottler>())
{
    MainQueue::assertMainThread("AppState");
    const auto defaults = standardDefaults();
    const std::string home = Paths::home().string();
    m_syncDir = qtext(
        defaults->string(kSyncDirKey).value_or((std::filesystem::path(home) / "Corvane").string()));
    m_serverURL = qtext(defaults->string(kServerURLKey).value_or(""));
    m_apiClient =
        std::make_shared<APIClient>(m_serverURL.isEmpty() ? kDefaultServerURL : text(m_serverURL));

    if (isSetupDone() && !m_serverURL.isEmpty()) {
        restoreSignIn();
    }
    SyncStateProvider::shared().setSyncDirectory(text(m_syncDir));
    requestNotificationPermission();
    observeActivity();
    if (m_isLoggedIn) {
        startSync();
    }
}

AppState::~AppState()
{
    m_anchor.reset();  // reports still queued find no state
}

void AppState::restoreSignIn()
{
    const auto token = KeychainHelper::load(KeychainHelper::kAuthTokenKey);
    const auto email = token ? standardDefaults()->string(kUserEmailKey) : std::nullopt;
    if (!token || !email) {
        m_phase = AppPhase::login;  // nothing stored is removed: the next sign-in replaces it
        return;
    }
    m_apiClient->setToken(*token);
    m_userEmail = qtext(*email);
    m_isLoggedIn = true;
    m_phase = AppPhase::ready;
}

void AppState::setPhase(AppPhase phase)
{
    if (std::exchange(m_phase, phase) != phase) {
        emit phaseChanged();
    }
}

void AppState::setSyncDir(const QString& syncDir)
{
    if (std::exchange(m_syncDir, syncDir) != syncDir) {
        emit syncDirChanged();
    }
}

void AppState::setServerURL(const QString& serverURL)
{
    m_serverURL = serverURL;
    emit serverURLChanged();
    standardDefaults()->setString(kServerURLKey, text(serverURL));
    // The file-manager extension builds its web links on the address it finds there.
    if (const auto group = UserDefaults::suite(SyncStateProvider::kSuiteName)) {
        group->setString(CorvaneFinderSync::kServerURLKey, text(serverURL));
    }
}

void AppState::setLaunchAtLogin(bool enabled)
{
    m_launchAtLogin = enabled;
    emit launchAtLoginChanged();
    LaunchAtLogin::setEnabled(*m_services.loginItem, enabled);
    // What the desktop holds now, so that a failed registration does not show as on.
    const bool registered = LaunchAtLogin::isEnabled(*m_services.loginItem);
    if (std::exchange(m_launchAtLogin, registered) != registered) {
        emit launchAtLoginChanged();
    }
}

bool AppState::isSetupDone() const
{
    return standardDefaults()->boolean(kSetupDoneKey).value_or(false);
}

void AppState::clearSetupDone()
{
    standardDefaults()->setBool(kSetupDoneKey, false);
}

QString AppState::menuBarIcon() const
{
    if (m_activityManager->hasActiveTransfers()) {
        return QStringLiteral("arrow.triangle.2.circlepath.icloud");
    }
    switch (m_syncStatus) {
    case SyncStatus::idle:
        return QStringLiteral("checkmark.icloud");
    case SyncStatus::syncing:
        return QStringLiteral("arrow.triangle.2.circlepath.icloud");
    case SyncStatus::error:
        return QStringLiteral("exclamationmark.icloud");
    case SyncStatus::offline:
        return QStringLiteral("icloud.slash");
    case SyncStatus::paused:
        return QStringLiteral("pause.circle");
    }
    return QStringLiteral("icloud.slash");
}

QString AppState::statusSummary() const
{
    if (!m_activityManager->hasActiveTransfers()) {
        return qtext(std::string(displayText(m_syncStatus)));
    }
    const std::size_t count = m_activityManager->activeCount();
    const auto percent =
        static_cast<long long>(std::trunc(m_activityManager->totalProgress() * 100));
    return QStringLiteral("Syncing %1 file%2 (%3%)")
        .arg(count)
        .arg(count == 1 ? QString() : QStringLiteral("s"))
        .arg(percent);
}

void AppState::completeSetup(const QString& serverURL, const QString& syncDir)
{
    MainQueue::assertMainThread("AppState::completeSetup");
    stopSync();
    KeychainHelper::deleteKey(KeychainHelper::kAuthTokenKey);
    const auto defaults = standardDefaults();
    defaults->remove(kUserEmailKey);
    setUserEmail(QStringLiteral(""));
    setLoggedIn(false);
    removeStateFile(m_syncDir);
    removeStateFile(syncDir);  // the same file a second time fails, unseen
    setServerURL(serverURL);
    setSyncDir(syncDir);
    defaults->setString(kSyncDirKey, text(syncDir));
    defaults->setBool(kSetupDoneKey, true);
    m_apiClient = std::make_shared<APIClient>(text(serverURL));
    std::error_code ignored;  // a folder that cannot be made shows when sync starts
    std::filesystem::create_directories(std::filesystem::path(text(syncDir)), ignored);
    SyncStateProvider::shared().setSyncDirectory(text(syncDir));
    SyncStateProvider::shared().clearAll();
    setPhase(AppPhase::login);
    // Signed out with no engine: nothing syncs until the next sign-in.
    setSyncStatus(SyncStatus::offline);
}

void AppState::login(const QString& token, const QString& email)
{
    MainQueue::assertMainThread("AppState::login");
    KeychainHelper::save(KeychainHelper::kAuthTokenKey, text(token));
    standardDefaults()->setString(kUserEmailKey, text(email));
    m_apiClient->setToken(text(token));
    setUserEmail(email);
    setLoggedIn(true);
    setPhase(AppPhase::ready);
    startSync();
}

void AppState::logout()
{
    MainQueue::assertMainThread("AppState::logout");
    // The engine goes before the token: its last requests would otherwise fail as signed out.
    stopSync();
    KeychainHelper::deleteKey(KeychainHelper::kAuthTokenKey);
    standardDefaults()->remove(kUserEmailKey);
    m_apiClient->setToken(std::nullopt);
    setUserEmail(QStringLiteral(""));
    setLoggedIn(false);
    setPhase(AppPhase::login);
    setSyncStatus(SyncStatus::offline);
    SyncStateProvider::shared().clearAll();
}

void AppState::startSync()
{
    MainQueue::assertMainThread("AppState::startSync");
    if (!m_isLoggedIn || m_isPaused) {
        return;
    }
    if (!std::filesystem::path(text(m_syncDir)).is_absolute()) {
        // Never the working folder: a relative or empty folder starts nothing.
        reportSyncError(QStringLiteral("Sync folder must be an absolute path"));
        return;
    }
    const std::uint64_t generation = ++m_lastGeneration;
    m_syncEngine = m_services.engineFactory(engineParts(generation));
    m_engineGeneration = generation;
    m_syncEngine->start();
    setSyncStatus(SyncStatus::syncing);
}

void AppState::stopSync()
{
    MainQueue::assertMainThread("AppState::stopSync");
    if (!m_syncEngine) {
        return;
    }
    m_syncEngine->stop();
    m_engineGeneration = 0;  // what it still reports is dropped
    retire(std::exchange(m_syncEngine, nullptr));
}

void AppState::togglePause()
{
    MainQueue::assertMainThread("AppState::togglePause");
    setPaused(!m_isPaused);
    if (m_isPaused) {
        stopSync();
        setSyncStatus(SyncStatus::paused);
    } else {
        startSync();
    }
}

bool AppState::hasEngineWork()
{
    std::erase_if(m_stoppedEngines,
                  [](const auto& engine) { return !engine->hasBackgroundWork(); });
    return !m_stoppedEngines.empty() || (m_syncEngine && m_syncEngine->hasBackgroundWork());
}

void AppState::retire(std::shared_ptr<SyncEngine> engine)
{
    std::erase_if(m_stoppedEngines,
                  [](const auto& stopped) { return !stopped->hasBackgroundWork(); });
    if (engine->hasBackgroundWork()) {
        m_stoppedEngines.push_back(std::move(engine));
    }
}

SyncEngineParts AppState::engineParts(std::uint64_t generation) const
{
    const std::weak_ptr<AppState> state = m_anchor;
    return SyncEngineParts{
        m_apiClient,
        std::filesystem::path(text(m_syncDir)),
        m_activityManager,
        m_selectiveSyncManager,
        m_bandwidthThrottler,
        [state, generation](SyncStatus status) {
            MainQueue::async([state, generation, status] {
                if (const auto self = state.lock()) {
                    self->applyStatusReport(generation, status);
                }
            });
        },
        [state, generation](const std::string& message) {
            MainQueue::async([state, generation, message] {
                if (const auto self = state.lock()) {
                    self->applyErrorReport(generation, message);
                }
            });
        },
    };
}

void AppState::applyStatusReport(std::uint64_t generation, SyncStatus status)
{
    if (generation != m_engineGeneration) {
        return;  // an engine stopped since: its report would undo the pause or the sign-out
    }
    setSyncStatus(status);
    if (status == SyncStatus::idle) {
        setLastSyncTime(
            QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               m_services.now().time_since_epoch())
                                               .count()));
        setLastError(QString());
    }
}

void AppState::applyErrorReport(std::uint64_t generation, const std::string& message)
{
    if (generation != m_engineGeneration) {
        return;
    }
    reportSyncError(qtext(message));
}

void AppState::reportSyncError(const QString& message)
{
    setSyncStatus(SyncStatus::error);
    setLastError(message);
    sendNotification(QString::fromUtf8(kSyncErrorTitle), message);
}

void AppState::requestNotificationPermission()
{
    m_services.notifications->requestPermission();
}

void AppState::sendNotification(const QString& title, const QString& body)
{
    m_services.notifications->post(text(title), text(body));
}

void AppState::observeActivity()
{
    m_summaryPause.setSingleShot(true);
    m_summaryPause.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5% early
    m_summaryPause.setInterval(kSummaryInterval);
    connect(&m_summaryPause, &QTimer::timeout, this, [this] {
        if (std::exchange(m_summaryWaiting, false)) {
            emit summaryChanged();
            m_summaryPause.start();
        }
    });
    const auto changed = [this](const std::vector<ActivityItem>&) { activityChanged(); };
    m_activeObservation = m_activityManager->observeActiveTransfers(changed);
    m_recentObservation = m_activityManager->observeRecentActivities(changed);
}

void AppState::activityChanged()
{
    // Called just before the feed changes: the new values are readable once this returns.
    if (m_summaryPause.isActive()) {
        m_summaryWaiting = true;
        return;
    }
    m_summaryWaiting = true;
    m_summaryPause.start();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (std::exchange(m_summaryWaiting, false)) {
                emit summaryChanged();
            }
        },
        Qt::QueuedConnection);
}

void AppState::setLoggedIn(bool loggedIn)
{
    if (std::exchange(m_isLoggedIn, loggedIn) != loggedIn) {
        emit isLoggedInChanged();
    }
}

void AppState::setSyncStatus(SyncStatus status)
{
    if (std::exchange(m_syncStatus, status) != status) {
        emit syncStatusChanged();
        emit summaryChanged();
    }
}

void AppState::setLastSyncTime(const QDateTime& time)
{
    if (std::exchange(m_lastSyncTime, time) != time) {
        emit lastSyncTimeChanged();
    }
}

void AppState::setLastError(const QString& error)
{
    // A null text (none) and an empty one are different values.
    const bool changed = m_lastError != error || m_lastError.isNull() != error.isNull();
    m_lastError = error;
    if (changed) {
        emit lastErrorChanged();
    }
}

void AppState::setPaused(bool paused)
{
    if (std::exchange(m_isPaused, paused) != paused) {
        emit isPausedChanged();
    }
}

void AppState::setUserEmail(const QString& email)
{
    if (std::exchange(m_userEmail, email) != email) {
        emit userEmailChanged();
    }
}

}  // namespace corvane
