#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "App/AppPhase.h"
#include "App/AppServices.h"
#include "Sync/SyncStatus.h"

Q_DECLARE_METATYPE(corvane::SyncStatus)

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class SelectiveSyncManager;
class SyncEngine;

// The one application state and controller: restores the saved setup and sign-in at
// construction, moves through the phases setup, login and ready, and owns the client, the
// activity feed, the selective-sync list, the throttler and the one sync engine. Views read its
// properties, follow their change signals and act through its operations.
//
// Main thread only (asserted): views, construction and every change run there; the engine's
// reports reach it through the main queue. A report of an engine that is no longer the current
// one (stopped by a pause, a sign-out or a new setup) changes nothing.
//
// Settings it keeps: the standard suite's "serverURL", "syncDir", "setupDone" and "userEmail",
// the token file (KeychainHelper, "auth_token"), the login item; the file-manager extension gets
// the sync folder and the server address in the app-group suite.
class AppState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(corvane::AppPhase phase READ phase WRITE setPhase NOTIFY phaseChanged)
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged)
    Q_PROPERTY(corvane::SyncStatus syncStatus READ syncStatus NOTIFY syncStatusChanged)
    Q_PROPERTY(QDateTime lastSyncTime READ lastSyncTime NOTIFY lastSyncTimeChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QString userEmail READ userEmail NOTIFY userEmailChanged)
    Q_PROPERTY(QString syncDir READ syncDir WRITE setSyncDir NOTIFY syncDirChanged)
    Q_PROPERTY(QString serverURL READ serverURL WRITE setServerURL NOTIFY serverURLChanged)
    Q_PROPERTY(
        bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(QString menuBarIcon READ menuBarIcon NOTIFY summaryChanged)
    Q_PROPERTY(QString statusSummary READ statusSummary NOTIFY summaryChanged)

public:
    static constexpr const char* kDefaultServerURL = "http://localhost:8080";
    static constexpr const char* kSyncErrorTitle = "Sync Error";
    // At most one summaryChanged() per this interval while the activity feed changes.
    static constexpr std::chrono::milliseconds kSummaryInterval{100};

    // Restores the saved state; writes no setting and runs no change effect. Signs in and
    // starts sync when a stored sign-in is found.
    explicit AppState(AppServices services, QObject* parent = nullptr);
    // Releases the client, the stores and the engine without stopping it or writing anything.
    ~AppState() override;

    AppPhase phase() const { return m_phase; }
    void setPhase(AppPhase phase);
    bool isLoggedIn() const { return m_isLoggedIn; }
    SyncStatus syncStatus() const { return m_syncStatus; }
    // Null until the first "idle" report of an engine.
    QDateTime lastSyncTime() const { return m_lastSyncTime; }
    // Null while there is none.
    QString lastError() const { return m_lastError; }
    bool isPaused() const { return m_isPaused; }
    QString userEmail() const { return m_userEmail; }
    QString syncDir() const { return m_syncDir; }
    void setSyncDir(const QString& syncDir);
    QString serverURL() const { return m_serverURL; }
    // Every assignment stores the address under "serverURL" in the standard and the app-group
    // suite, also an equal one.
    void setServerURL(const QString& serverURL);
    bool launchAtLogin() const { return m_launchAtLogin; }
    // Every assignment registers or unregisters the login item, also an unchanged one; the
    // value then follows what the login item says, so a failed registration shows as off.
    void setLaunchAtLogin(bool enabled);

    const std::shared_ptr<APIClient>& apiClient() const { return m_apiClient; }
    const std::shared_ptr<ActivityManager>& activityManager() const { return m_activityManager; }
    const std::shared_ptr<SelectiveSyncManager>& selectiveSyncManager() const
    {
        return m_selectiveSyncManager;
    }
    const std::shared_ptr<BandwidthThrottler>& bandwidthThrottler() const
    {
        return m_bandwidthThrottler;
    }
    const std::shared_ptr<SyncEngine>& syncEngine() const { return m_syncEngine; }
    const AppServices& services() const { return m_services; }

    // The "setupDone" setting, read on every call.
    bool isSetupDone() const;
    // Clears "setupDone" in the settings, so that the next start begins with the setup as well.
    void clearSetupDone();
    // The logical name of the tray icon (a system-symbol name, "checkmark.icloud" and so on).
    QString menuBarIcon() const;
    // One line for the panel: the status text, or "Syncing 2 files (37%)" while transfers run.
    QString statusSummary() const;

    // Stores a new server and sync folder and signs out (phase login).
    void completeSetup(const QString& serverURL, const QString& syncDir);
    // Stores the sign-in and starts sync (phase ready).
    void login(const QString& token, const QString& email);
    // Stops sync and forgets the sign-in (phase login); the server and folder stay.
    void logout();
    // Makes and starts a new engine, unless signed out or paused.
    void startSync();
    // Stops and drops the engine, which saves its state file; the status stays.
    void stopSync();
    void togglePause();

    // Whether an engine, also one stopped already, still has work under way. At quit the
    // application keeps serving the main queue until this is false.
    bool hasEngineWork();

signals:
    void phaseChanged();
    void isLoggedInChanged();
    void syncStatusChanged();
    void lastSyncTimeChanged();
    void lastErrorChanged();
    void isPausedChanged();
    void userEmailChanged();
    void syncDirChanged();
    void serverURLChanged();
    void launchAtLoginChanged();
    // menuBarIcon or statusSummary may read differently: after a status change, and soon after
    // a change of the activity feed (at most once per kSummaryInterval).
    void summaryChanged();

private:
    void restoreSignIn();
    void requestNotificationPermission();
    void sendNotification(const QString& title, const QString& body);
    void observeActivity();
    void activityChanged();

    SyncEngineParts engineParts(std::uint64_t generation) const;
    void applyStatusReport(std::uint64_t generation, SyncStatus status);
    void applyErrorReport(std::uint64_t generation, const std::string& message);
    void reportSyncError(const QString& message);
    void retire(std::shared_ptr<SyncEngine> engine);

    void setLoggedIn(bool loggedIn);
    void setSyncStatus(SyncStatus status);
    void setLastSyncTime(const QDateTime& time);
    void setLastError(const QString& error);
    void setPaused(bool paused);
    void setUserEmail(const QString& email);

    const AppServices m_services;
    // Weak references for the engine's reports: the anchor owns nothing and goes first.
    std::shared_ptr<AppState> m_anchor;

    AppPhase m_phase = AppPhase::setup;
    bool m_isLoggedIn = false;
    SyncStatus m_syncStatus = SyncStatus::offline;
    QDateTime m_lastSyncTime;
    QString m_lastError;
    bool m_isPaused = false;
    QString m_userEmail = QStringLiteral("");
    QString m_syncDir;
    QString m_serverURL;
    bool m_launchAtLogin = false;

    std::shared_ptr<APIClient> m_apiClient;
    const std::shared_ptr<ActivityManager> m_activityManager;
    const std::shared_ptr<SelectiveSyncManager> m_selectiveSyncManager;
    const std::shared_ptr<BandwidthThrottler> m_bandwidthThrottler;
    std::shared_ptr<SyncEngine> m_syncEngine;
    std::uint64_t m_engineGeneration = 0;  // of m_syncEngine; 0 while there is none
    std::uint64_t m_lastGeneration = 0;
    std::vector<std::shared_ptr<SyncEngine>> m_stoppedEngines;  // until their work has ended

    std::shared_ptr<void> m_activeObservation;
    std::shared_ptr<void> m_recentObservation;
    QTimer m_summaryPause;
    bool m_summaryWaiting = false;
};

}  // namespace corvane
