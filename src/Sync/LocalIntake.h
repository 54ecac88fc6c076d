#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "Platform/Clock.h"
#include "Sync/SyncContext.h"

namespace corvane {

class FileEventStream;
class LocalChangeHandler;
class SerialQueue;
class WorkLanes;
struct SyncEngineOptions;

// The intake of local changes: the file event stream, the pending paths with their debounce
// timer, and the hand-over of each debounced path to its lane, where LocalChangeHandler works
// on it. Hidden and excluded paths go nowhere. Paths seen before the start-up cycle is done are
// only gathered until release().
//
// Threads: startWatching() and stopWatching() from any thread, one at a time (the start-up task,
// stop()); handleFSEvent(), release(), drop() and cancelTimer() main thread only. Work handed to
// the lanes holds the engine; the stream's and the timer's callbacks hold it weakly.
class LocalIntake {
public:
    LocalIntake(SyncContext context, const SyncEngineOptions& options, WorkLanes& lanes,
                std::function<bool()> isRunning);
    ~LocalIntake();
    LocalIntake(const LocalIntake&) = delete;
    LocalIntake& operator=(const LocalIntake&) = delete;

    // Starts the file event stream; nothing happens when it cannot watch, or when the engine has
    // stopped meanwhile.
    void startWatching();
    void stopWatching();

    // One changed path from the file event stream: gathered unless hidden or excluded.
    void handleFSEvent(const std::string& path);
    // The start-up cycle is done: from now on debounced paths go to their lanes, those gathered
    // so far at once.
    void release();
    // The start failed: what was gathered is dropped.
    void drop();
    // A timer that fires from now on finds nothing to do.
    void cancelTimer();

private:
    // Set once the stream runs; it stays until the intake goes.
    SerialQueue* debounceQueue();
    void armDebounce(Clock::Duration delay);
    void debounceFired();
    void submitPending();
    // Hidden and excluded paths go nowhere from this side (any thread).
    bool ignores(const std::string& key) const;
    void submit(const std::string& key);

    const SyncContext m_context;
    const std::shared_ptr<Clock> m_clock;
    const Clock::Duration m_eventLatency;
    const Clock::Duration m_debounce;
    const std::function<void(FileEventStream&)> m_prepareStream;
    WorkLanes& m_lanes;
    const std::function<bool()> m_isRunning;
    const std::unique_ptr<LocalChangeHandler> m_handler;

    std::mutex m_watchMutex;  // guards m_stream and m_debounceQueue
    std::unique_ptr<FileEventStream> m_stream;
    std::unique_ptr<SerialQueue> m_debounceQueue;

    // Main thread only.
    std::set<std::string> m_pending;         // sync-relative paths changed since the last batch
    std::uint64_t m_debounceGeneration = 0;  // a fired timer of an older generation does nothing
    Clock::TimePoint m_debounceDeadline{};   // when the pending paths are due, the latest event's
    bool m_debounceArmed = false;            // a timer is on its way for them
    bool m_released = false;                 // until then local changes are only gathered
};

}  // namespace corvane
