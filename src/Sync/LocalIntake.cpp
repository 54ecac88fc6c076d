#include "Sync/LocalIntake.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "Logging/FileLogger.h"
#include "Platform/FileEventStream.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Sync/LocalChangeHandler.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/SyncEngine.h"
#include "Sync/WorkLanes.h"

namespace corvane {
namespace {

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

LocalIntake::LocalIntake(SyncContext context, const SyncEngineOptions& options, WorkLanes& lanes,
                         std::function<bool()> isRunning)
    : m_context(std::move(context)), m_clock(options.clock), m_eventLatency(options.eventLatency),
      m_debounce(options.debounce), m_prepareStream(options.prepareStream), m_lanes(lanes),
      m_isRunning(std::move(isRunning)), m_handler(std::make_unique<LocalChangeHandler>(m_context))
{
}

LocalIntake::~LocalIntake() = default;

void LocalIntake::startWatching()
{
    const std::weak_ptr<const void> engine = m_context.holdEngine();
    auto stream = std::make_unique<FileEventStream>(
        m_context.paths.syncDir(), m_eventLatency,
        [this, engine](const std::vector<std::string>& paths) {
            if (const auto held = engine.lock()) {
                for (const std::string& path : paths) {
                    handleFSEvent(path);
                }
            }
        },
        [](const std::string& warning) { FileLogger::shared().warn("sync", warning); }, m_clock);
    // Nothing in a hidden folder is synced: watching one (.git, .corvane) only spends watches.
    stream->setSkipsHiddenFolders(true);
    if (m_prepareStream) {
        m_prepareStream(*stream);
    }
    // Made before the stream starts, so that its first event finds it.
    auto debounceQueue = std::make_unique<SerialQueue>("com.corvane.sync.debounce", m_clock);
    if (!stream->start()) {
        // No watcher: local changes wait for the next full cycle. The stream stays until the
        // main queue has run what its start posted: the watch-limit warning, when that was why.
        MainQueue::async([failed = std::shared_ptr<FileEventStream>(std::move(stream))] {});
        return;
    }
    {
        std::lock_guard lock(m_watchMutex);
        if (m_isRunning()) {
            m_stream = std::move(stream);
            m_debounceQueue = std::move(debounceQueue);
            return;
        }
    }
    stream->stop();  // stop() came while the folder was being watched
}

void LocalIntake::stopWatching()
{
    std::unique_ptr<FileEventStream> stream;
    {
        std::lock_guard lock(m_watchMutex);
        stream = std::move(m_stream);
    }
    if (stream) {
        stream->stop();
    }
}

SerialQueue* LocalIntake::debounceQueue()
{
    std::lock_guard lock(m_watchMutex);
    return m_debounceQueue.get();
}

void LocalIntake::handleFSEvent(const std::string& path)
{
    MainQueue::assertMainThread("LocalIntake::handleFSEvent");
    const auto relative = m_context.paths.relativePath(path);
    if (relative) {
        const std::string key = "/" + *relative;
        if (ignores(key)) {
            return;
        }
        m_pending.insert(key);
    }
    // Any event, even one outside the sync folder, puts the batch off. One timer stands for
    // all of them: a burst of events costs no timer each.
    m_debounceDeadline = m_clock->now() + m_debounce;
    if (!debounceQueue() || std::exchange(m_debounceArmed, true)) {
        return;
    }
    armDebounce(m_debounce);
}

void LocalIntake::release()
{
    m_released = true;
    if (m_isRunning()) {
        submitPending();
    }
}

void LocalIntake::drop()
{
    m_pending.clear();
}

void LocalIntake::cancelTimer()
{
    ++m_debounceGeneration;
}

void LocalIntake::armDebounce(Clock::Duration delay)
{
    const std::weak_ptr<const void> engine = m_context.holdEngine();
    debounceQueue()->asyncAfter(delay, [this, engine, generation = m_debounceGeneration] {
        MainQueue::async([this, engine, generation] {
            const auto held = engine.lock();
            if (held && m_debounceGeneration == generation) {
                debounceFired();
            }
        });
    });
}

void LocalIntake::debounceFired()
{
    const Clock::TimePoint now = m_clock->now();
    if (now < m_debounceDeadline) {
        armDebounce(m_debounceDeadline - now);  // events came meanwhile
        return;
    }
    m_debounceArmed = false;
    // Changes seen during the start-up cycle wait for its end.
    if (m_released) {
        submitPending();
    }
}

void LocalIntake::submitPending()
{
    const auto pending = std::exchange(m_pending, {});
    for (const std::string& key : pending) {
        submit(key);
    }
}

bool LocalIntake::ignores(const std::string& key) const
{
    // Only what lies below the sync folder counts: the folder itself may live in a hidden
    // folder such as ~/.local/share.
    return hasHiddenComponent(key) || m_context.selectiveSyncManager->isExcluded(key);
}

void LocalIntake::submit(const std::string& key)
{
    // Asked again for the paths a folder's handling hands back: a folder moved in, moved away
    // or rescanned may hold excluded ones.
    if (ignores(key)) {
        return;
    }
    m_lanes.afterFolderLookups([this, engine = m_context.holdEngine(), key] {
        m_lanes.submit(key, [this, engine, key] {
            // Asked once more when its turn comes: the path may have been excluded while it
            // waited behind earlier work.
            if (ignores(key)) {
                return;
            }
            // Busy paths are taken before the stored ones: an upload that ends in between has
            // stored its state by the time the stored paths are read.
            std::vector<std::string> busy = m_lanes.busyBelow(key);
            const auto outcome = m_handler->handle(key);
            for (const std::string& below : outcome.below) {
                submit(below);
            }
            if (outcome.gone) {
                for (const std::string& path : busy) {
                    submit(path);
                }
            }
        });
    });
}

}  // namespace corvane
