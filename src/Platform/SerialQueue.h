#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Clock.h"

namespace corvane {

// A labelled queue that runs its work items one at a time, in order, on one worker thread.
// Delayed items run once their time has come on the queue's clock. Thread-safe; sync() must not
// be called from the queue itself. Destruction runs the items already due, drops the delayed
// ones and joins the worker. When the last owner lets go of the queue inside one of its own items,
// that item finishes, everything still queued is dropped and the worker ends on its own.
class SerialQueue {
public:
    using Work = std::function<void()>;

    explicit SerialQueue(std::string label, std::shared_ptr<Clock> clock = Clock::system());
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }
    const std::shared_ptr<Clock>& clock() const { return m_clock; }

    void async(Work work);
    void asyncAfter(Clock::Duration delay, Work work);
    void asyncAt(Clock::TimePoint when, Work work);
    // Runs `work` on the queue and waits for it; an exception it throws is rethrown here.
    void sync(const Work& work);
    // True on the queue's worker thread.
    bool isCurrent() const;

private:
    // Shared with the worker thread and the clock's advance notification, so that neither
    // touches a queue that is gone.
    struct Core;

    const std::string m_label;
    const std::shared_ptr<Clock> m_clock;
    const std::shared_ptr<Core> m_core;
    std::shared_ptr<void> m_advanceSubscription;
    std::jthread m_worker;
};

}  // namespace corvane
