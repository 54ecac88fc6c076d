#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Platform/Clock.h"

namespace corvane {

// A labelled queue that runs its work items one at a time, in order, on one worker thread.
// Delayed items run once their time has come on the queue's clock. Thread-safe; sync() must not
// be called from the queue itself. Destruction runs the items already due, drops the delayed
// ones and joins the worker.
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
    struct Item {
        Clock::TimePoint due;
        std::uint64_t sequence;
        Work work;
        bool operator<(const Item& other) const
        {
            return due != other.due ? due < other.due : sequence < other.sequence;
        }
    };

    void run(std::stop_token stop);
    void wake();

    const std::string m_label;
    const std::shared_ptr<Clock> m_clock;
    std::mutex m_mutex;
    std::condition_variable_any m_wakeUp;
    std::multiset<Item> m_items;
    std::uint64_t m_nextSequence = 0;
    std::uint64_t m_generation = 0;
    std::shared_ptr<void> m_advanceSubscription;
    std::jthread m_worker;
};

}  // namespace corvane
