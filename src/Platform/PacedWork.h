#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Clock.h"
#include "Platform/SerialQueue.h"

namespace corvane {

// Work that many callers ask for and that runs on a queue of its own, folded together: asks
// that come while a run waits join it, one run at a time, and at most one run per interval
// (measured on the given clock from the start of the previous run). The work itself reads what it
// needs when it runs, so a run always takes the newest state. Thread-safe; runNow() not from the
// work itself.
class PacedWork {
public:
    PacedWork(std::string label, std::function<void()> work, std::shared_ptr<Clock> clock,
              Clock::Duration interval);
    // Runs a run that was asked for and has not happened yet, then stops the queue.
    ~PacedWork();
    PacedWork(const PacedWork&) = delete;
    PacedWork& operator=(const PacedWork&) = delete;

    // Asks for a run: at once when the interval since the previous one is over, else when it
    // is. Returns at once.
    void request();
    // Asks for a run without waiting for the interval (still after a run under way).
    void requestSoon();
    // Runs the work now, after a run under way, and returns when it is done; what was asked for
    // until then counts as done.
    void runNow();

private:
    void ask(bool soon);
    void scheduleBy(Clock::TimePoint due);  // under m_mutex
    void schedule(Clock::TimePoint when);   // under m_mutex
    void fire(std::uint64_t slot);
    void runAsked();  // on the queue

    const std::function<void()> m_work;
    const std::shared_ptr<Clock> m_clock;
    const Clock::Duration m_interval;

    std::mutex m_mutex;  // guards the members up to m_slot
    bool m_asked = false;
    bool m_running = false;  // a run is under way; asks meanwhile wait for its end
    bool m_soon = false;     // one of them asked for no interval
    std::optional<Clock::TimePoint> m_lastRun;  // when the latest run started
    std::optional<Clock::TimePoint> m_due;      // when the queued run that counts is due
    std::uint64_t m_slot = 0;                   // which queued run counts; older ones do nothing

    SerialQueue m_queue;  // last: stopped before the members above go
};

}  // namespace corvane
