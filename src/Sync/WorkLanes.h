#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Task.h"

namespace corvane {

class KeyedTaskQueue;

// The engine's background work on files, one lane per sync-relative path: work on one file runs
// in arrival order, whether it comes from the file event stream or from the push channel, and
// at most `maxInFlight` files are worked on at once. One more lane, not a file's, holds what must
// run before later work can find its lane: push events whose folder is being looked up and the
// change-log reads after a reconnection. Thread-safe.
class WorkLanes {
public:
    explicit WorkLanes(std::size_t maxInFlight);
    ~WorkLanes();
    WorkLanes(const WorkLanes&) = delete;
    WorkLanes& operator=(const WorkLanes&) = delete;

    // Work on the file at the sync-relative `path`.
    void submit(const std::string& path, Task::Work work);
    // Work in the folder-lookup lane.
    void submitLookup(Task::Work work);
    // Runs `submit` now, or after the work waiting in the folder-lookup lane has gone on to its
    // paths' lanes, so that work of one path keeps its order of arrival.
    void afterFolderLookups(Task::Work submit);

    // The paths below the folder `path` that have work running or waiting.
    std::vector<std::string> busyBelow(const std::string& path) const;
    // Drops every item that has not started; items under way finish.
    void cancelPending();
    // Items submitted and not yet finished.
    std::size_t unfinished() const;

private:
    const std::unique_ptr<KeyedTaskQueue> m_queue;
};

}  // namespace corvane
