#include "Platform/Clock.h"

namespace corvane {
namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isManual() const override { return false; }
    std::shared_ptr<void> onAdvance(std::function<void()>) override { return nullptr; }
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
    for (const auto& listener : toWake) {
        listener->wake();
    }
}

}  // namespace corvane
