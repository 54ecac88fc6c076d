#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Clock.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SyncContext.h"
#include "Sync/SyncPaths.h"
#include "Sync/SyncStatus.h"

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class FileEventStream;
class FolderResolver;
class LocalIntake;
class PushIntake;
class RecentDeletions;
class SelectiveSyncManager;
class StartupCycle;
class Transfers;
class WorkLanes;

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

// Keeps one sync folder in step with the user's server folders: one full sync cycle at start
// (StartupCycle), then local file events (LocalIntake) and server pushes (PushIntake) until
// stop(). Built by the application for one signed-in user, started once, stopped once and
// dropped. The engine holds the lifecycle and the wiring of these parts.
//
// The folder is watched and the push channel is open from before the cycle reads the trees:
// what changes on either side while the cycle runs is applied right after it.
//
// start() and stop() are main thread only. Sync work runs in background tasks that hold the
// engine and never wait for the main thread: what they have for it is posted, in order. The
// status and error callbacks may be called from any thread.
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

    SyncContext context();
    // The start-up task; `run` marks it under way until the last work it hands on has run.
    void runStartup(const std::shared_ptr<void>& run);
    void startupFailed(const std::shared_ptr<void>& run, const std::string& message);

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
    const std::shared_ptr<RecentDeletions> m_recentDeletions;
    const std::unique_ptr<WorkLanes> m_lanes;
    const std::unique_ptr<StartupCycle> m_cycle;
    const std::unique_ptr<LocalIntake> m_localIntake;
    const std::unique_ptr<PushIntake> m_pushIntake;

    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_startupRunning{false};
};

}  // namespace corvane
