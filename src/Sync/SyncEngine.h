#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Sync/LocalScanner.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SyncDiff.h"
#include "Sync/SyncPaths.h"
#include "Sync/SyncStatus.h"

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class FolderResolver;
class SelectiveSyncManager;
class Transfers;

// Keeps one sync folder in step with the user's server folders: one full sync cycle at start,
// then local file events and server pushes until stop(). Built by the application for one
// signed-in user, started once, stopped once and dropped.
//
// start() and stop() are main thread only. Sync work runs in background tasks that hold the
// engine; the status and error callbacks may be called from any thread.
class SyncEngine : public std::enable_shared_from_this<SyncEngine> {
public:
    using StatusCallback = std::function<void(SyncStatus)>;
    using ErrorCallback = std::function<void(const std::string& message)>;

    static std::shared_ptr<SyncEngine>
    create(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
           std::shared_ptr<ActivityManager> activityManager,
           std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
           std::shared_ptr<BandwidthThrottler> bandwidthThrottler, StatusCallback onStatusChange,
           ErrorCallback onError);
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    // Creates the sync folder, loads the state file and launches the start-up task. Runs once
    // per engine; a second call does nothing.
    void start();
    // Stops handing out cycle entries, stops watching and pushing, saves the state file. A
    // start-up task under way ends after the step it is in and reports nothing more.
    void stop();

    bool isRunning() const { return m_isRunning; }
    const std::filesystem::path& stateFilePath() const { return m_state->filePath(); }

private:
    SyncEngine(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
               std::shared_ptr<ActivityManager> activityManager,
               std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
               std::shared_ptr<BandwidthThrottler> bandwidthThrottler,
               StatusCallback onStatusChange, ErrorCallback onError);

    void runStartup();
    void initialSync();
    std::vector<FileInfo> fetchRemoteFiles();
    void recordAgreement(const std::map<std::string, std::string>& localFiles,
                         const std::vector<FileInfo>& remoteFiles);
    std::vector<DiffEntry> dropExcluded(std::vector<DiffEntry> entries);
    void executeEntries(std::vector<DiffEntry> entries);
    void executeDiff(const DiffEntry& entry);
    void deleteIfUnchanged(const DiffEntry& entry);
    void logRefusedPath(const std::string& path, const std::string& reason) const;

    // Watching and the push channel join here.
    void startFSEvents();
    void stopFSEvents();
    void startWebSocket();

    const std::shared_ptr<APIClient> m_apiClient;
    const SyncPaths m_paths;
    const std::shared_ptr<ActivityManager> m_activityManager;
    const std::shared_ptr<SelectiveSyncManager> m_selectiveSyncManager;
    const std::shared_ptr<BandwidthThrottler> m_bandwidthThrottler;
    const StatusCallback m_onStatusChange;
    const ErrorCallback m_onError;
    const std::shared_ptr<FolderResolver> m_folderResolver;
    const std::shared_ptr<LocalStateStore> m_state;
    const std::unique_ptr<Transfers> m_transfers;
    const LocalScanner m_scanner;

    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_started{false};
    std::vector<std::string> m_folderIDs;  // written once by the start-up task before the cycle
};

}  // namespace corvane
