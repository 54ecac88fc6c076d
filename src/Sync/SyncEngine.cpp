#include "Sync/SyncEngine.h"

#include <system_error>
#include <utility>

#include "API/APIClient.h"
#include "Platform/AtomicFile.h"
#include "Platform/MainQueue.h"
#include "Platform/Task.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalIntake.h"
#include "Sync/PushIntake.h"
#include "Sync/RecentDeletions.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/StartupCycle.h"
#include "Sync/Transfers.h"
#include "Sync/WorkLanes.h"

namespace corvane {

std::shared_ptr<SyncEngine>
SyncEngine::create(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
                   std::shared_ptr<ActivityManager> activityManager,
                   std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
                   std::shared_ptr<BandwidthThrottler> bandwidthThrottler,
                   StatusCallback onStatusChange, ErrorCallback onError, SyncEngineOptions options)
{
    return std::shared_ptr<SyncEngine>(
        new SyncEngine(std::move(apiClient), std::move(syncDir), std::move(activityManager),
                       std::move(selectiveSyncManager), std::move(bandwidthThrottler),
                       std::move(onStatusChange), std::move(onError), std::move(options)));
}

SyncEngine::SyncEngine(std::shared_ptr<APIClient> apiClient, std::filesystem::path syncDir,
                       std::shared_ptr<ActivityManager> activityManager,
                       std::shared_ptr<SelectiveSyncManager> selectiveSyncManager,
                       std::shared_ptr<BandwidthThrottler> bandwidthThrottler,
                       StatusCallback onStatusChange, ErrorCallback onError,
                       SyncEngineOptions options)
    : m_apiClient(std::move(apiClient)), m_paths(std::move(syncDir)),
      m_activityManager(std::move(activityManager)),
      m_selectiveSyncManager(std::move(selectiveSyncManager)),
      m_bandwidthThrottler(std::move(bandwidthThrottler)),
      m_onStatusChange(std::move(onStatusChange)), m_onError(std::move(onError)),
      m_options(std::move(options)),
      m_folderResolver(std::make_shared<FolderResolver>(m_apiClient)),
      m_state(std::make_shared<LocalStateStore>(m_paths.syncDir(), m_options.clock,
                                                m_options.stateSaveInterval)),
      m_transfers(std::make_shared<Transfers>(m_apiClient, m_folderResolver, m_activityManager,
                                              m_bandwidthThrottler, m_paths, m_state)),
      m_recentDeletions(std::make_shared<RecentDeletions>(m_options.clock)),
      m_lanes(std::make_unique<WorkLanes>(kMaxTransfersInFlight)),
      m_cycle(std::make_unique<StartupCycle>(context(), kMaxTransfersInFlight,
                                             [this] { return m_isRunning.load(); })),
      m_localIntake(std::make_unique<LocalIntake>(context(), m_options, *m_lanes,
                                                  [this] { return m_isRunning.load(); })),
      m_pushIntake(
          std::make_unique<PushIntake>(context(), *m_lanes, [this] { return m_isRunning.load(); }))
{
}

SyncEngine::~SyncEngine() = default;

SyncContext SyncEngine::context()
{
    // A change handled while the engine stops still finishes, but a stopped engine reports
    // nothing more. The parts live no longer than the engine, and their work holds it.
    const auto onStatusChange = [this](SyncStatus status) {
        if (m_isRunning) {
            m_onStatusChange(status);
        }
    };
    const auto onError = [this](const std::string& message) {
        if (m_isRunning) {
            m_onError(message);
        }
    };
    const auto holdEngine = [this] { return std::shared_ptr<const void>(shared_from_this()); };
    return SyncContext{m_apiClient,       m_paths,         m_folderResolver,
                       m_state,           m_transfers,     m_selectiveSyncManager,
                       m_activityManager, m_options.clock, m_recentDeletions,
                       onStatusChange,    onError,         holdEngine};
}

void SyncEngine::start()
{
    MainQueue::assertMainThread("SyncEngine::start");
    if (m_started.exchange(true)) {
        return;
    }
    m_isRunning = true;
    std::error_code ignored;  // a folder that cannot be made shows up as failures later
    std::filesystem::create_directories(m_paths.syncDir(), ignored);
    m_state->load();
    m_startupRunning = true;
    // Cleared however the task ends, also when its last step is work posted to the main thread,
    // so that an owner waiting for it is never left waiting.
    class StartupRun {
    public:
        explicit StartupRun(std::shared_ptr<SyncEngine> engine) : m_engine(std::move(engine)) {}
        ~StartupRun() { m_engine->m_startupRunning = false; }
        StartupRun(const StartupRun&) = delete;
        StartupRun& operator=(const StartupRun&) = delete;
        SyncEngine& engine() const { return *m_engine; }

    private:
        const std::shared_ptr<SyncEngine> m_engine;
    };
    Task::detached([run = std::make_shared<StartupRun>(shared_from_this())] {
        run->engine().runStartup(run);
    });
}

bool SyncEngine::hasBackgroundWork() const
{
    return m_startupRunning || m_lanes->unfinished() > 0;
}

void SyncEngine::stop()
{
    MainQueue::assertMainThread("SyncEngine::stop");
    m_isRunning = false;
    m_localIntake->stopWatching();
    m_pushIntake->closeChannel();
    m_localIntake->cancelTimer();
    m_lanes->cancelPending();
    m_state->save();
}

void SyncEngine::runStartup(const std::shared_ptr<void>& run)
{
    m_onStatusChange(SyncStatus::syncing);
    // What a killed process left half-written. Nothing of this engine writes yet; a stopped
    // engine still finishing a download on this folder loses only that download.
    m_transfers->placement().removeStaleDownloads();
    m_transfers->placement().restoreMovedAside();
    AtomicFile::removeLeftovers(m_state->filePath());
    try {
        const std::vector<std::string> folderIDs = m_folderResolver->load();
        if (!m_isRunning) {
            return;
        }
        // Watched from before the scan: what changes while the cycle runs (an edit made after
        // its file was scanned, the conflict copies the cycle makes) is handled after it.
        m_localIntake->startWatching();
        // Listened to from before the trees are read, for the same reason: what another device
        // changes while the cycle runs is announced now and applied after it.
        if (m_isRunning) {
            m_pushIntake->openChannel();
        }
        m_cycle->run(folderIDs);
    } catch (const std::exception& error) {
        startupFailed(run, error.what());
        return;
    }
    if (!m_isRunning) {
        return;
    }
    m_onStatusChange(SyncStatus::idle);
    // Posted, not waited for: the start-up task never waits for the main thread.
    MainQueue::async([this, run] {
        m_localIntake->release();
        m_pushIntake->release();
    });
}

void SyncEngine::startupFailed(const std::shared_ptr<void>& run, const std::string& message)
{
    // A failed start watches nothing and listens to nothing, and what came in while the cycle
    // ran is dropped: no cycle has made it safe to apply.
    m_localIntake->stopWatching();
    m_pushIntake->closeChannel();
    MainQueue::async([this, run] {
        m_localIntake->drop();
        m_pushIntake->drop();
    });
    if (m_isRunning) {
        m_onError(message);
    }
}

}  // namespace corvane
