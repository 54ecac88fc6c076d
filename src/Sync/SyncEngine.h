#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Models/Models.h"
#include "Platform/Clock.h"
#include "Platform/Task.h"
#include "Sync/LocalScanner.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SyncContext.h"
#include "Sync/SyncDiff.h"
#include "Sync/SyncPaths.h"
#include "Sync/SyncStatus.h"

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class FileEventStream;
class FolderResolver;
class KeyedTaskQueue;
class LocalChangeHandler;
class PushEventHandler;
class RecentDeletions;
class SelectiveSyncManager;
class SerialQueue;
class Transfers;
class WebSocketClient;

// Timings of the engine. The defaults are the product's; tests shorten them or drive a manual
// clock instead of waiting.
struct SyncEngineOptions {
    std::shared_ptr<Clock> clock = Clock::system();
    // How long the file event stream gathers events before it delivers them.
    Clock::Duration eventLatency = std::chrono::milliseconds(500);
    // How long after the latest accepted file event the pending paths are handled.
    Clock::Duration debounce = std::chrono::milliseconds(500);
    // The shortest time between two writes of the state file while changes come in.
    Clock::Duration stateSaveInterval = LocalStateStore::kSaveInterval;
    // Sees the file event stream before it starts; tests set its hooks here.
    std::function<void(FileEventStream&)> prepareStream;
};

// Keeps one sync folder in step with the user's server folders: one full sync cycle at start,
// then local file events and server pushes until stop(). Built by the application for one
// signed-in user, started once, stopped once and dropped.
//
// The folder is watched and the push channel is open from before the cycle reads the trees:
// what changes on either side while the cycle runs is applied right after it. After the push
// channel reconnects, what the server announced meanwhile is read from its change log.
//
// Work on one file is serialised in arrival order, and at most four files are worked on at once,
// whether the work comes from the file event stream or from the push channel.
//
// start(), stop() and handleFSEvent() are main thread only. Sync work runs in background tasks
// that hold the engine and never wait for the main thread: what they have for it is posted, in
// order. The status and error callbacks may be called from any thread.
class SyncEngine : public std::enable_shared_from_this<SyncEngine> {
public:
    using StatusCallback = std::function<void(SyncStatus)>;
    using ErrorCallback = std::function<void(const std::string& message)>;

    static constexpr std::size_t kMaxTransfersInFlight = 4;

    static std::shared_ptr<SyncEngine>
    create(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
           std::shared_ptr<ActivityManager> activityManager,
           std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
           std::shared_ptr<BandwidthThrottler> bandwidthThrottler, StatusCallback onStatusChange,
           ErrorCallback onError, SyncEngineOptions options = {});
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    // Creates the sync folder, loads the state file and launches the start-up task. Runs once
    // per engine; a second call does nothing.
    void start();
    // Stops handing out cycle entries, stops watching and pushing, drops work that has not
    // started and saves the state file: it holds every change made so far when stop() returns.
    // A start-up task under way ends after the step it is in and reports nothing more; work
    // under way finishes, and what it changes is written once the engine goes.
    void stop();
    // One changed path from the file event stream: queued unless hidden or excluded.
    void handleFSEvent(const std::string& path);

    bool isRunning() const { return m_isRunning; }
    // Whether the start-up task or the handling of a change is still under way. Once stop() has
    // returned and this is false, the engine's background work has ended and its owner may let
    // it go, also at quit. That work never waits for the main thread, but its last step may be
    // posted there, so an owner waiting for it there keeps the main queue served. Any thread.
    bool hasBackgroundWork() const;
    const std::filesystem::path& stateFilePath() const { return m_state->filePath(); }

private:
    SyncEngine(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
               std::shared_ptr<ActivityManager> activityManager,
               std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
               std::shared_ptr<BandwidthThrottler> bandwidthThrottler,
               StatusCallback onStatusChange, ErrorCallback onError, SyncEngineOptions options);

    SyncContext context() const;
    // The start-up task; `run` marks it under way until the last work it hands on has run.
    void runStartup(const std::shared_ptr<void>& run);

    // The full sync cycle.
    void initialSync();
    struct RemoteFiles {
        std::vector<FileInfo> files;  // accepted, with sync-relative paths
        std::size_t total = 0;        // records the trees held, refused ones included
        // Sync-relative folders ("/" for all) that hold a record whose path was refused.
        std::set<std::string> unknownFolders;
    };
    RemoteFiles fetchRemoteFiles();
    std::string folderOfRefused(const FileInfo& file) const;
    void recordAgreement(const std::map<std::string, std::string>& localFiles,
                         const std::vector<FileInfo>& remoteFiles);
    std::vector<DiffEntry> dropExcluded(std::vector<DiffEntry> entries);
    void executeEntries(std::vector<DiffEntry> entries);
    void executeDiff(const DiffEntry& entry);
    void deleteIfUnchanged(const DiffEntry& entry);
    void logRefusedPath(const std::string& path, const std::string& reason) const;
    static void logSyncError(const std::string& path, const std::string& error);

    // The watcher is started by the start-up task and stopped by it or by stop() (any thread).
    void startFSEvents();
    void stopFSEvents();
    // Set once the watcher runs; it stays until the engine goes.
    SerialQueue* debounceQueue();

    // Local changes (main thread).
    void armDebounce(Clock::Duration delay);
    void debounceFired();
    void processPendingChanges();
    // Hidden and excluded paths go nowhere from this side (any thread).
    bool ignoresLocalChange(const std::string& key) const;
    void submitLocalChange(const std::string& key);
    // Runs `submit` now, or after the events that wait for a folder lookup have gone on to their
    // paths' lanes, so that work of one path keeps its order of arrival.
    void afterFolderLookups(Task::Work submit);

    // Remote changes.
    void startWebSocket();
    void handleWSMessage(const WSMessage& message);
    void applyWSMessage(const WSMessage& message);
    void catchUpAfterReconnect();
    void finishCatchUp(const std::vector<SyncEvent>& missed);
    void closeChannel();
    void submitPushEvent(const FileChangedEvent& event);

    const std::shared_ptr<APIClient> m_apiClient;
    const SyncPaths m_paths;
    const std::shared_ptr<ActivityManager> m_activityManager;
    const std::shared_ptr<SelectiveSyncManager> m_selectiveSyncManager;
    const std::shared_ptr<BandwidthThrottler> m_bandwidthThrottler;
    const StatusCallback m_onStatusChange;
    const ErrorCallback m_onError;
    const SyncEngineOptions m_options;
    const std::shared_ptr<FolderResolver> m_folderResolver;
    const std::shared_ptr<LocalStateStore> m_state;
    const std::shared_ptr<Transfers> m_transfers;
    const LocalScanner m_scanner;
    const std::shared_ptr<RecentDeletions> m_recentDeletions;
    const std::unique_ptr<LocalChangeHandler> m_localChanges;
    const std::unique_ptr<PushEventHandler> m_pushEvents;
    // Local changes and push events, one lane per sync-relative path.
    const std::unique_ptr<KeyedTaskQueue> m_work;

    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_startupRunning{false};
    std::vector<std::string> m_folderIDs;  // written once by the start-up task before the cycle
    std::set<std::string> m_remotePaths;   // the cycle's server files, written before its actions

    std::mutex m_watchMutex;  // guards m_fsEventStream and m_debounceQueue
    std::unique_ptr<FileEventStream> m_fsEventStream;
    std::unique_ptr<SerialQueue> m_debounceQueue;

    // Main thread only.
    std::set<std::string> m_pendingChanges;  // sync-relative paths changed since the last batch
    std::uint64_t m_debounceGeneration = 0;  // a fired timer of an older generation does nothing
    Clock::TimePoint m_debounceDeadline{};   // when the pending paths are due, the latest event's
    bool m_debounceArmed = false;            // a timer is on its way for them
    bool m_cycleDone = false;                // until then local changes are only gathered
    bool m_startFailed = false;              // nothing is gathered or applied any more
    std::vector<WSMessage> m_heldMessages;   // pushes that came during the start-up cycle
    bool m_connectedBefore = false;          // the push channel has been connected once
    int m_catchUpsInFlight = 0;              // change-log reads after a reconnection
    std::vector<WSMessage> m_afterCatchUp;   // pushes that came while one was read

    std::mutex m_channelMutex;  // guards m_wsClient
    std::shared_ptr<WebSocketClient> m_wsClient;
};

}  // namespace corvane
