#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
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
    // Blocks the calling thread until `duration` has passed on this clock; returns at once for
    // a duration of zero or less. Not from the main thread.
    virtual void sleepFor(Duration duration) = 0;

    static std::shared_ptr<Clock> system();
};

// A clock that stands still until a test advances it. A sleeper wakes once an advance has
// carried the clock to its deadline; tests wait for sleepers before advancing, so that every
// step of a polling loop is taken under their control.
class ManualClock final : public Clock {
public:
    TimePoint now() const override;
    bool isManual() const override { return true; }
    std::shared_ptr<void> onAdvance(std::function<void()> wake) override;
    void sleepFor(Duration duration) override;

    // A negative step plays a clock that was set back.
    void advance(Duration by);
    // Threads in sleepFor() whose deadline the clock has not reached yet.
    std::size_t sleepers() const;
    // Blocks, in real time, until at least `count` threads sleep on this clock; false when
    // `timeout` passed first.
    bool waitForSleepers(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    struct Listener {
        std::function<void()> wake;
    };

    std::size_t sleepersLocked() const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // an advance, or a new sleeper
    TimePoint m_now{};
    std::multiset<TimePoint> m_deadlines;  // one per sleeping thread
    std::vector<std::weak_ptr<Listener>> m_listeners;
};

}  // namespace corvane
