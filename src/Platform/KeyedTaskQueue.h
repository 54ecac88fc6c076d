#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Task.h"

namespace corvane {

// Background work in lanes: items submitted under one key run one at a time, in submission
// order; items of different keys run side by side, at most `maxInFlight` at once, the lanes
// taking turns. The sync engine keys its work by file path so that two changes of one file never
// overlap, while a burst of changes to many files does not start a thread per file.
//
// Work runs on Task's pool; the queue owns no thread, so it may be released from inside one of
// its own items. Thread-safe.
class KeyedTaskQueue {
public:
    explicit KeyedTaskQueue(std::size_t maxInFlight);
    ~KeyedTaskQueue();
    KeyedTaskQueue(const KeyedTaskQueue&) = delete;
    KeyedTaskQueue& operator=(const KeyedTaskQueue&) = delete;

    void submit(const std::string& key, Task::Work work);
    // Drops every item that has not started; items under way finish.
    void cancelPending();
    // Items submitted and not yet finished (running or waiting).
    std::size_t unfinished() const;
    // The keys beginning with `prefix` that have an item running or waiting.
    std::vector<std::string> busyKeys(const std::string& prefix) const;
    // Whether `key` has an item running or waiting.
    bool isBusy(const std::string& key) const;

private:
    struct State;
    static void drain(const std::shared_ptr<State>& state, std::string key);

    std::shared_ptr<State> m_state;
};

}  // namespace corvane
