#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// The time source of every delay in the system (queues, timers, back-off). Production code uses
// Clock::system(); tests use a ManualClock and advance it instead of sleeping. Thread-safe.
class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;
    // A manual clock only moves when advanced: waiters must wait for an advance notification
    // instead of a real-time deadline.
    virtual bool isManual() const = 0;
    // Registers `wake` to be called after every advance of a manual clock. The registration
    // lasts as long as the returned handle. A real clock never calls it.
    virtual std::shared_ptr<void> onAdvance(std::function<void()> wake) = 0;

    static std::shared_ptr<Clock> system();
};

// A clock that stands still until a test advances it.
class ManualClock final : public Clock {
public:
    TimePoint now() const override;
    bool isManual() const override { return true; }
    std::shared_ptr<void> onAdvance(std::function<void()> wake) override;

    void advance(Duration by);

private:
    struct Listener {
        std::function<void()> wake;
    };

    mutable std::mutex m_mutex;
    TimePoint m_now{};
    std::vector<std::weak_ptr<Listener>> m_listeners;
};

}  // namespace corvane
