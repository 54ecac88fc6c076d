#include "Platform/SerialQueue.h"

#include <cstdio>
#include <exception>
#include <future>
#include <stdexcept>

namespace corvane {

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock)
    : m_label(std::move(label)), m_clock(std::move(clock))
{
    m_advanceSubscription = m_clock->onAdvance([this] { wake(); });
    m_worker = std::jthread([this](std::stop_token stop) { run(stop); });
}

SerialQueue::~SerialQueue()
{
    m_advanceSubscription.reset();
    m_worker.request_stop();
    wake();
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
    {
        std::lock_guard lock(m_mutex);
        m_items.insert(Item{when, m_nextSequence++, std::move(work)});
        ++m_generation;
    }
    m_wakeUp.notify_one();
}

void SerialQueue::sync(const Work& work)
{
    if (isCurrent()) {
        throw std::logic_error("SerialQueue::sync called on its own queue \"" + m_label + "\"");
    }
    std::promise<void> done;
    async([&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == m_worker.get_id();
}

void SerialQueue::wake()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
    }
    m_wakeUp.notify_all();
}

void SerialQueue::run(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (true) {
        const auto now = m_clock->now();
        if (!m_items.empty() && m_items.begin()->due <= now) {
            Work work = std::move(m_items.extract(m_items.begin()).value().work);
            lock.unlock();
            try {
                work();
            } catch (const std::exception& error) {
                // Work items report their own failures; one that escapes must not end the queue.
                std::fprintf(stderr, "%s: work item failed: %s\n", m_label.c_str(), error.what());
            } catch (...) {
                std::fprintf(stderr, "%s: work item failed\n", m_label.c_str());
            }
            lock.lock();
            continue;
        }
        if (stop.stop_requested()) {
            return;  // everything due has run; delayed items are dropped
        }
        // Any new item or clock advance bumps the generation and makes us look again.
        const std::uint64_t seen = m_generation;
        const auto changed = [&] { return m_generation != seen; };
        if (m_items.empty() || m_clock->isManual()) {
            m_wakeUp.wait(lock, stop, changed);
        } else {
            m_wakeUp.wait_until(lock, stop, m_items.begin()->due, changed);
        }
    }
}

}  // namespace corvane
