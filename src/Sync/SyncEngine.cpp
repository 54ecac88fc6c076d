#include "Sync/SyncEngine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "API/APIClient.h"
#include "API/WebSocketClient.h"
#include "Logging/FileLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/Error.h"
#include "Platform/FileEventStream.h"
#include "Platform/KeyedTaskQueue.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/Task.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalChangeHandler.h"
#include "Sync/PushEventHandler.h"
#include "Sync/RecentDeletions.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/Transfers.h"

namespace corvane {
namespace {

// Not a sync-relative path, so no file's lane.
constexpr const char* kFolderLookupLane = "folder lookup";

// True when a component of `relative` (a path below the sync folder) begins with ".".
bool hasHiddenComponent(std::string_view relative)
{
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        if (end > start && relative[start] == '.') {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

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
      m_scanner(m_paths), m_recentDeletions(std::make_shared<RecentDeletions>(m_options.clock)),
      m_localChanges(std::make_unique<LocalChangeHandler>(context())),
      m_pushEvents(std::make_unique<PushEventHandler>(context())),
      m_work(std::make_unique<KeyedTaskQueue>(kMaxTransfersInFlight))
{
}

SyncEngine::~SyncEngine() = default;

SyncContext SyncEngine::context() const
{
    // A change handled while the engine stops still finishes, but a stopped engine reports
    // nothing more. The handlers live no longer than the engine.
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
    return SyncContext{m_apiClient,       m_paths,         m_folderResolver,
                       m_state,           m_transfers,     m_selectiveSyncManager,
                       m_activityManager, m_options.clock, m_recentDeletions,
                       onStatusChange,    onError};
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
    return m_startupRunning || m_work->unfinished() > 0;
}

void SyncEngine::stop()
{
    MainQueue::assertMainThread("SyncEngine::stop");
    m_isRunning = false;
    stopFSEvents();
    closeChannel();
    ++m_debounceGeneration;  // a timer that fires now finds nothing to do
    m_work->cancelPending();
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
        m_folderIDs = m_folderResolver->load();
        if (!m_isRunning) {
            return;
        }
        // Watched from before the scan: what changes while the cycle runs (an edit made after
        // its file was scanned, the conflict copies the cycle makes) is handled after it.
        startFSEvents();
        // Listened to from before the trees are read, for the same reason: what another device
        // changes while the cycle runs is announced now and applied after it.
        if (m_isRunning) {
            startWebSocket();
        }
        initialSync();
    } catch (const std::exception& error) {
        // A failed start watches nothing and listens to nothing, and what came in while the
        // cycle ran is dropped: no cycle has made it safe to apply.
        stopFSEvents();
        closeChannel();
        MainQueue::async([this, run] {
            m_startFailed = true;
            m_pendingChanges.clear();
            m_heldMessages.clear();
        });
        if (m_isRunning) {
            m_onError(error.what());
        }
        return;
    }
    if (!m_isRunning) {
        return;
    }
    m_onStatusChange(SyncStatus::idle);
    // Posted, not waited for: the start-up task never waits for the main thread.
    MainQueue::async([this, run] {
        m_cycleDone = true;
        if (m_isRunning) {
            processPendingChanges();
            for (const WSMessage& message : std::exchange(m_heldMessages, {})) {
                applyWSMessage(message);
            }
        }
    });
}

SyncEngine::RemoteFiles SyncEngine::fetchRemoteFiles()
{
    std::vector<FileInfo> remoteFiles;
    const auto refused = [this](const std::string& path, const std::string& reason) {
        logRefusedPath(path, reason);
    };
    for (const std::string& folderId : m_folderIDs) {
        const FolderTree tree = m_apiClient->getFolderTree(folderId);
        // A tree that failed to load at start still teaches the resolver its folders.
        m_folderResolver->indexTree(tree);
        std::vector<FileInfo> files = LocalScanner::collectFiles(tree);
        remoteFiles.insert(remoteFiles.end(), std::make_move_iterator(files.begin()),
                           std::make_move_iterator(files.end()));
        m_scanner.createLocalFolders(tree, m_folderResolver->isRootFolder(folderId), refused);
    }
    RemoteFiles accepted;
    accepted.total = remoteFiles.size();
    for (FileInfo& file : m_folderResolver->normalizeFilePaths(std::move(remoteFiles))) {
        auto checked = m_paths.checkRemotePath(file.path);
        if (!checked.path) {
            logRefusedPath(file.path, checked.refusal);
            accepted.unknownFolders.insert(folderOfRefused(file));
            continue;
        }
        file.path = std::move(*checked.path);
        accepted.files.push_back(std::move(file));
    }
    return accepted;
}

std::string SyncEngine::folderOfRefused(const FileInfo& file) const
{
    // The record's folder bounds the file it stands for. Without a folder of its own (the root,
    // or one not known) it may stand for any file.
    const auto folder = m_folderResolver->getFolderByID(file.folderId);
    if (m_folderResolver->isRootFolder(file.folderId) || !folder) {
        return "/";
    }
    const auto checked = m_paths.checkRemotePath(folder->path);
    return checked.path ? *checked.path : "/";
}

void SyncEngine::initialSync()
{
    const auto started = std::chrono::steady_clock::now();
    FileLogger::shared().info("sync", "sync cycle started");

    const RemoteFiles remote = fetchRemoteFiles();
    const std::vector<FileInfo>& remoteFiles = remote.files;
    const auto localFiles =
        m_scanner.scanLocalFiles([](const std::string& path, const std::string& reason) {
            FileLogger::shared().warn("sync", "file skipped", {{"path", path}, {"reason", reason}});
        });
    FileLogger::shared().debug(
        "sync", "trees scanned",
        {{"remote_files", remote.total}, {"local_files", localFiles.size()}});

    const auto diff = computeDiff(localFiles, remoteFiles,
                                  [this](const std::string& path) { return m_state->get(path); });
    std::size_t counts[4] = {};
    for (const DiffEntry& entry : diff) {
        ++counts[static_cast<int>(entry.action)];
    }
    FileLogger::shared().info("sync", "diff computed",
                              {{"uploads", counts[static_cast<int>(DiffAction::upload)]},
                               {"downloads", counts[static_cast<int>(DiffAction::download)]},
                               {"deletes", counts[static_cast<int>(DiffAction::deleteLocal)]},
                               {"conflicts", counts[static_cast<int>(DiffAction::conflict)]}});

    for (const FileInfo& file : remoteFiles) {
        m_remotePaths.insert(file.path);
    }
    recordAgreement(localFiles, remoteFiles);
    std::vector<DiffEntry> entries = dropExcluded(diff);
    // The file a refused record stands for is not known: that the server seems to lack a file in
    // the record's folder is then no ground for deleting the local copy.
    const auto removed = std::erase_if(entries, [&](const DiffEntry& entry) {
        return entry.action == DiffAction::deleteLocal &&
               std::any_of(remote.unknownFolders.begin(), remote.unknownFolders.end(),
                           [&](const std::string& folder) {
                               return folder == "/" || entry.path.starts_with(folder + "/");
                           });
    });
    if (removed > 0) {
        FileLogger::shared().warn("sync", "local deletions skipped", {{"count", removed}});
    }
    executeEntries(std::move(entries));
    m_state->save();

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    FileLogger::shared().info("sync", "sync cycle complete", {{"duration_ms", elapsed.count()}});
}

void SyncEngine::recordAgreement(const std::map<std::string, std::string>& localFiles,
                                 const std::vector<FileInfo>& remoteFiles)
{
    // Files that agree on both sides are remembered, so that a later deletion on either side
    // is taken for a deletion and not for a new file.
    for (const FileInfo& remote : remoteFiles) {
        const auto local = localFiles.find(remote.path);
        if (local == localFiles.end() || local->second != remote.hash) {
            continue;
        }
        const auto stored = m_state->get(remote.path);
        if (!stored || stored->hash != remote.hash || stored->version != remote.version) {
            m_state->set(remote.path, FileState{remote.hash, remote.version, currentStateTime()});
        }
    }
}

std::vector<DiffEntry> SyncEngine::dropExcluded(std::vector<DiffEntry> entries)
{
    std::vector<DiffEntry> kept;
    for (DiffEntry& entry : entries) {
        if (m_selectiveSyncManager->isExcluded(entry.path)) {
            m_transfers->updateBadge(entry.path, SyncBadge::ignored);
        } else {
            kept.push_back(std::move(entry));
        }
    }
    return kept;
}

void SyncEngine::executeEntries(std::vector<DiffEntry> entries)
{
    std::vector<Task::Work> work;
    work.reserve(entries.size());
    const std::weak_ptr<SyncEngine> weakSelf = weak_from_this();
    for (DiffEntry& entry : entries) {
        work.push_back([weakSelf, entry = std::move(entry)] {
            const auto self = weakSelf.lock();
            if (!self) {
                return;
            }
            try {
                self->executeDiff(entry);
            } catch (const std::exception& error) {
                logSyncError(entry.path, error.what());
            }
        });
    }
    BoundedTaskGroup(kMaxTransfersInFlight).run(std::move(work), [this] {
        return m_isRunning.load();
    });
}

void SyncEngine::executeDiff(const DiffEntry& entry)
{
    switch (entry.action) {
    case DiffAction::upload:
        m_transfers->uploadFile(entry.path, *entry.localHash, entry.remoteFile);
        break;
    case DiffAction::download:
        m_transfers->downloadFile(*entry.remoteFile, false);
        break;
    case DiffAction::conflict: {
        // Named clear of the server's files too: another device's copy made in the same
        // second may not be here yet, and the cycle would later download it over this one.
        const std::string copy =
            m_transfers->downloadFile(*entry.remoteFile, true, [this](const std::string& path) {
                return m_remotePaths.count(path) > 0;
            });
        m_transfers->uploadFile(entry.path, *entry.localHash, entry.remoteFile);
        // Sent now rather than after the cycle, when the watcher's events are handled: the
        // other devices get it sooner, and the server holds its content already. A file of its
        // own: its failure leaves the local version's upload standing.
        try {
            m_transfers->uploadFile(copy, entry.remoteFile->hash, std::nullopt);
        } catch (const std::exception& error) {
            logSyncError(copy, error.what());
        }
        break;
    }
    case DiffAction::deleteLocal:
        deleteIfUnchanged(entry);
        break;
    }
}

void SyncEngine::deleteIfUnchanged(const DiffEntry& entry)
{
    // Looked at again just before removing: an edit made since the scan is uploaded instead.
    std::string currentHash;
    try {
        currentHash = hashFile(m_paths.localPath(entry.path));
    } catch (const FileError& error) {
        if (error.errorNumber() != ENOENT && error.errorNumber() != ENOTDIR) {
            throw;  // not known to be unchanged, nor gone: it stays
        }
        m_transfers->forgetLocalFile(entry.path);  // already gone
        return;
    }
    const auto stored = m_state->get(entry.path);
    if (stored && stored->hash == currentHash) {
        // Refused when edited just now: the edit's own file event uploads it after the cycle.
        m_transfers->deleteLocalFileIfUnchanged(entry.path, stored->hash);
    } else {
        m_transfers->uploadFile(entry.path, currentHash, std::nullopt);
    }
}

void SyncEngine::logRefusedPath(const std::string& path, const std::string& reason) const
{
    logSyncError(path, "refused server path: " + reason);
}

void SyncEngine::logSyncError(const std::string& path, const std::string& error)
{
    FileLogger::shared().error("sync", "sync error", {{"path", path}, {"error", error}});
}

void SyncEngine::startFSEvents()
{
    const std::weak_ptr<SyncEngine> weakSelf = weak_from_this();
    auto stream = std::make_unique<FileEventStream>(
        m_paths.syncDir(), m_options.eventLatency,
        [weakSelf](const std::vector<std::string>& paths) {
            if (const auto self = weakSelf.lock()) {
                for (const std::string& path : paths) {
                    self->handleFSEvent(path);
                }
            }
        },
        [](const std::string& warning) { FileLogger::shared().warn("sync", warning); },
        m_options.clock);
    // Nothing in a hidden folder is synced: watching one (.git, .corvane) only spends watches.
    stream->setSkipsHiddenFolders(true);
    if (m_options.prepareStream) {
        m_options.prepareStream(*stream);
    }
    // Made before the stream starts, so that its first event finds it.
    auto debounceQueue =
        std::make_unique<SerialQueue>("com.corvane.sync.debounce", m_options.clock);
    if (!stream->start()) {
        // No watcher: local changes wait for the next full cycle. The stream stays until the
        // main queue has run what its start posted: the watch-limit warning, when that was why.
        MainQueue::async([failed = std::shared_ptr<FileEventStream>(std::move(stream))] {});
        return;
    }
    {
        std::lock_guard lock(m_watchMutex);
        if (m_isRunning) {
            m_fsEventStream = std::move(stream);
            m_debounceQueue = std::move(debounceQueue);
            return;
        }
    }
    stream->stop();  // stop() came while the folder was being watched
}

void SyncEngine::stopFSEvents()
{
    std::unique_ptr<FileEventStream> stream;
    {
        std::lock_guard lock(m_watchMutex);
        stream = std::move(m_fsEventStream);
    }
    if (stream) {
        stream->stop();
    }
}

SerialQueue* SyncEngine::debounceQueue()
{
    std::lock_guard lock(m_watchMutex);
    return m_debounceQueue.get();
}

void SyncEngine::handleFSEvent(const std::string& path)
{
    MainQueue::assertMainThread("SyncEngine::handleFSEvent");
    const auto relative = m_paths.relativePath(path);
    if (relative) {
        const std::string key = "/" + *relative;
        if (ignoresLocalChange(key)) {
            return;
        }
        m_pendingChanges.insert(key);
    }
    // Any event, even one outside the sync folder, puts the batch off. One timer stands for
    // all of them: a burst of events costs no timer each.
    m_debounceDeadline = m_options.clock->now() + m_options.debounce;
    if (!debounceQueue() || std::exchange(m_debounceArmed, true)) {
        return;
    }
    armDebounce(m_options.debounce);
}

void SyncEngine::armDebounce(Clock::Duration delay)
{
    const std::weak_ptr<SyncEngine> weakSelf = weak_from_this();
    debounceQueue()->asyncAfter(delay, [weakSelf, generation = m_debounceGeneration] {
        MainQueue::async([weakSelf, generation] {
            const auto self = weakSelf.lock();
            if (self && self->m_debounceGeneration == generation) {
                self->debounceFired();
            }
        });
    });
}

void SyncEngine::debounceFired()
{
    const Clock::TimePoint now = m_options.clock->now();
    if (now < m_debounceDeadline) {
        armDebounce(m_debounceDeadline - now);  // events came meanwhile
        return;
    }
    m_debounceArmed = false;
    // Changes seen during the start-up cycle wait for its end.
    if (m_cycleDone) {
        processPendingChanges();
    }
}

void SyncEngine::processPendingChanges()
{
    const auto pending = std::exchange(m_pendingChanges, {});
    for (const std::string& key : pending) {
        submitLocalChange(key);
    }
}

bool SyncEngine::ignoresLocalChange(const std::string& key) const
{
    // Only what lies below the sync folder counts: the folder itself may live in a hidden
    // folder such as ~/.local/share.
    return hasHiddenComponent(key) || m_selectiveSyncManager->isExcluded(key);
}

void SyncEngine::submitLocalChange(const std::string& key)
{
    // Asked again for the paths a folder's handling hands back: a folder moved in, moved away
    // or rescanned may hold excluded ones.
    if (ignoresLocalChange(key)) {
        return;
    }
    afterFolderLookups([self = shared_from_this(), key] {
        self->m_work->submit(key, [self, key] {
            // Asked once more when its turn comes: the path may have been excluded while it
            // waited behind earlier work.
            if (self->ignoresLocalChange(key)) {
                return;
            }
            // Busy paths are taken before the stored ones: an upload that ends in between has
            // stored its state by the time the stored paths are read.
            std::vector<std::string> busy = self->m_work->busyKeys(key + "/");
            const auto outcome = self->m_localChanges->handle(key);
            for (const std::string& below : outcome.below) {
                self->submitLocalChange(below);
            }
            if (outcome.gone) {
                for (const std::string& path : busy) {
                    self->submitLocalChange(path);
                }
            }
        });
    });
}

void SyncEngine::afterFolderLookups(Task::Work submit)
{
    // A push event waiting there for its folder may be of the same path as what comes now: that
    // must not take the path's lane ahead of it.
    if (m_work->isBusy(kFolderLookupLane)) {
        m_work->submit(kFolderLookupLane, std::move(submit));
    } else {
        submit();
    }
}

void SyncEngine::startWebSocket()
{
    const auto token = m_apiClient->token();
    if (!token) {
        return;  // signed out: no push channel
    }
    auto channel = std::make_shared<WebSocketClient>(m_apiClient->baseURL(), *token);
    {
        std::lock_guard lock(m_channelMutex);
        if (!m_isRunning) {
            return;
        }
        m_wsClient = channel;
    }
    const std::weak_ptr<SyncEngine> weakSelf = weak_from_this();
    channel->connect(
        [weakSelf](const WSMessage& message) {
            if (const auto self = weakSelf.lock()) {
                self->handleWSMessage(message);
            }
        },
        [] {},
        [weakSelf] {
            if (const auto self = weakSelf.lock()) {
                self->catchUpAfterReconnect();
            }
        });
    // stop() may have come while connecting and found the channel not yet open.
    if (!m_isRunning) {
        channel->disconnect();
    }
}

void SyncEngine::closeChannel()
{
    std::shared_ptr<WebSocketClient> channel;
    {
        std::lock_guard lock(m_channelMutex);
        channel = std::exchange(m_wsClient, nullptr);
    }
    if (channel) {
        channel->disconnect();
    }
}

void SyncEngine::catchUpAfterReconnect()
{
    if (!std::exchange(m_connectedBefore, true)) {
        return;  // the first connection: the start-up cycle reads what came before it
    }
    const auto since = m_recentDeletions->lastAnnouncement();
    if (!since) {
        return;  // nothing was heard yet, so nothing tells where the gap began
    }
    // What the server announced while the socket was down, from its change log, in order and
    // ahead of what the new socket brings, which waits until then; each is handled as if it had
    // been pushed.
    ++m_catchUpsInFlight;
    m_work->submit(kFolderLookupLane, [self = shared_from_this(), since] {
        std::vector<SyncEvent> missed;
        try {
            missed = self->m_apiClient->listEvents(since, {});
        } catch (const std::exception& error) {
            // The next reconnection tries again; until then the gap waits for the next start.
            FileLogger::shared().warn("sync", "changes missed while offline not read",
                                      {{"error", error.what()}});
        }
        MainQueue::async([self, missed = std::move(missed)] { self->finishCatchUp(missed); });
    });
}

void SyncEngine::finishCatchUp(const std::vector<SyncEvent>& missed)
{
    for (const SyncEvent& entry : missed) {
        applyWSMessage(WSMessage{"file_changed", PushEventHandler::eventOf(entry)});
    }
    if (--m_catchUpsInFlight == 0) {
        for (const WSMessage& message : std::exchange(m_afterCatchUp, {})) {
            applyWSMessage(message);
        }
    }
}

void SyncEngine::handleWSMessage(const WSMessage& message)
{
    if (m_catchUpsInFlight > 0) {
        m_afterCatchUp.push_back(message);  // newer than what the change log is read for
        return;
    }
    applyWSMessage(message);
}

void SyncEngine::applyWSMessage(const WSMessage& message)
{
    // A message the socket received before a failed start closed it is dropped too.
    if (message.type != "file_changed" || !message.event || m_startFailed) {
        return;
    }
    if (!m_cycleDone) {
        m_heldMessages.push_back(message);  // applied once the cycle has done its work
        return;
    }
    const FileChangedEvent& event = *message.event;
    m_recentDeletions->noteAnnouncement(event.id);
    if (m_pushEvents->needsFolderLookup(event)) {
        // Looked up off the main thread, in arrival order, then handled in the file's lane.
        m_work->submit(kFolderLookupLane, [self = shared_from_this(), event] {
            try {
                self->m_pushEvents->lookUpFolder(event);
            } catch (const std::exception&) {
                // The event's own handling tries again and reports the failure.
            }
            self->submitPushEvent(event);
        });
        return;
    }
    afterFolderLookups([self = shared_from_this(), event] { self->submitPushEvent(event); });
}

void SyncEngine::submitPushEvent(const FileChangedEvent& event)
{
    // Events of one path take the lane of its local changes, so that they apply in order.
    const std::string joined = m_pushEvents->joinedPath(event).value_or("");
    const std::string lane = joined.starts_with('/') ? joined : "/" + joined;
    m_work->submit(lane, [self = shared_from_this(), event] { self->m_pushEvents->handle(event); });
}

}  // namespace corvane
