#include "Platform/Clock.h"

#include <iterator>
#include <thread>

namespace corvane {
namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isManual() const override { return false; }
    std::shared_ptr<void> onAdvance(std::function<void()>) override { return nullptr; }
    void sleepFor(Duration duration) override
    {
        if (duration > Duration::zero()) {
            std::this_thread::sleep_for(duration);
        }
    }
};

}  // namespace

std::shared_ptr<Clock> Clock::system()
{
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

Clock::TimePoint ManualClock::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

std::shared_ptr<void> ManualClock::onAdvance(std::function<void()> wake)
{
    auto listener = std::make_shared<Listener>(Listener{std::move(wake)});
    std::lock_guard lock(m_mutex);
    std::erase_if(m_listeners, [](const auto& weak) { return weak.expired(); });
    m_listeners.push_back(listener);
    return listener;
}

void ManualClock::sleepFor(Duration duration)
{
    if (duration <= Duration::zero()) {
        return;
    }
    std::unique_lock lock(m_mutex);
    const TimePoint deadline = m_now + duration;
    const auto entry = m_deadlines.insert(deadline);
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_now >= deadline; });
    m_deadlines.erase(entry);
}

std::size_t ManualClock::sleepers() const
{
    std::lock_guard lock(m_mutex);
    return sleepersLocked();
}

bool ManualClock::waitForSleepers(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return sleepersLocked() >= count; });
}

std::size_t ManualClock::sleepersLocked() const
{
    // A sleeper whose deadline has come no longer counts, even before its thread has run: the
    // next waitForSleepers() then waits for its next sleep instead of seeing this one again.
    return static_cast<std::size_t>(
        std::distance(m_deadlines.upper_bound(m_now), m_deadlines.end()));
}

void ManualClock::advance(Duration by)
{
    std::vector<std::shared_ptr<Listener>> toWake;
    {
        std::lock_guard lock(m_mutex);
        m_now += by;
        for (const auto& weak : m_listeners) {
            if (auto listener = weak.lock()) {
                toWake.push_back(std::move(listener));
            }
        }
    }
    m_changed.notify_all();
    for (const auto& listener : toWake) {
        listener->wake();
    }
}

}  // namespace corvane
