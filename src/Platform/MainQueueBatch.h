#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Platform/MainQueue.h"

namespace corvane {

// Work for the main thread, run there in the order it was added, handed over in batches: the
// first item of a batch posts one run of the batch to the main queue, and items added until that
// run starts join it, so that a burst from many threads wakes the main thread once rather than
// once per item. Items never run on the adding thread. Thread-safe; owned by a std::shared_ptr
// (a posted run holds it).
class MainQueueBatch : public std::enable_shared_from_this<MainQueueBatch> {
public:
    static std::shared_ptr<MainQueueBatch> create();

    void add(MainQueue::Work work);

private:
    MainQueueBatch() = default;
    void runBatch();  // main thread

    std::mutex m_mutex;
    std::vector<MainQueue::Work> m_items;  // guarded by m_mutex
    bool m_posted = false;                 // a run is on the main queue; guarded by m_mutex
};

}  // namespace corvane
