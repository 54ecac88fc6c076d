#include "Platform/SerialQueue.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <stdexcept>

#include "Platform/CallGuarded.h"
#include "Platform/PostAndWait.h"

namespace corvane {

struct SerialQueue::Core {
    struct Item {
        Clock::TimePoint due;
        std::uint64_t sequence;
        Work work;
        bool operator<(const Item& other) const
        {
            return due != other.due ? due < other.due : sequence < other.sequence;
        }
    };

    Core(std::string label, std::shared_ptr<Clock> clock)
        : label(std::move(label)), clock(std::move(clock))
    {
    }

    void add(Clock::TimePoint when, Work work)
    {
        {
            std::lock_guard lock(mutex);
            items.insert(Item{when, nextSequence++, std::move(work)});
            ++generation;
        }
        wakeUp.notify_one();
    }

    void wake()
    {
        {
            std::lock_guard lock(mutex);
            ++generation;
        }
        wakeUp.notify_all();
    }

    void abandon()
    {
        {
            std::lock_guard lock(mutex);
            abandoned = true;
            ++generation;
        }
        wakeUp.notify_all();
    }

    void run(const std::stop_token& stop)
    {
        std::unique_lock lock(mutex);
        while (!abandoned) {
            const auto now = clock->now();
            if (!items.empty() && items.begin()->due <= now) {
                Work work = std::move(items.extract(items.begin()).value().work);
                lock.unlock();
                // Work items report their own failures; one that escapes must not end the queue.
                callGuarded(workItemName, work);
                work = nullptr;  // release what the item captured before taking the lock again
                lock.lock();
                continue;
            }
            if (stop.stop_requested()) {
                return;  // everything due has run; delayed items are dropped
            }
            // Any new item or clock advance bumps the generation and makes us look again.
            const std::uint64_t seen = generation;
            const auto changed = [&] { return generation != seen; };
            if (items.empty() || clock->isManual()) {
                wakeUp.wait(lock, stop, changed);
            } else {
                wakeUp.wait_until(lock, stop, items.begin()->due, changed);
            }
        }
    }

    const std::string label;
    const std::string workItemName = label + ": work item";
    const std::shared_ptr<Clock> clock;
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::multiset<Item> items;
    std::uint64_t nextSequence = 0;
    std::uint64_t generation = 0;
    bool abandoned = false;
};

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock)
    : m_label(std::move(label)), m_clock(std::move(clock)),
      m_core(std::make_shared<Core>(m_label, m_clock)),
      m_advanceSubscription(m_clock->onAdvance([weak = std::weak_ptr<Core>(m_core)] {
          if (const auto core = weak.lock()) {
              core->wake();
          }
      })),
      m_worker([core = m_core](const std::stop_token& stop) { core->run(stop); })
{
}

SerialQueue::~SerialQueue()
{
    m_advanceSubscription.reset();
    m_worker.request_stop();
    if (isCurrent()) {
        // A thread cannot join itself. The running item may still use what its owner is
        // tearing down, so nothing queued behind it may run; the worker ends after it.
        m_core->abandon();
        m_worker.detach();
        return;
    }
    m_core->wake();
    m_worker.join();
}

void SerialQueue::async(Work work)
{
    asyncAt(m_clock->now(), std::move(work));
}

void SerialQueue::asyncAfter(Clock::Duration delay, Work work)
{
    asyncAt(m_clock->now() + delay, std::move(work));
}

void SerialQueue::asyncAt(Clock::TimePoint when, Work work)
{
    m_core->add(when, std::move(work));
}

void SerialQueue::sync(const Work& work)
{
    if (isCurrent()) {
        throw std::logic_error("SerialQueue::sync called on its own queue \"" + m_label + "\"");
    }
    postAndWait([this](Work item) { async(std::move(item)); }, work);
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == m_worker.get_id();
}

}  // namespace corvane
