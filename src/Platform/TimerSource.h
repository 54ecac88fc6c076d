#pragma once

#include <functional>
#include <memory>

#include "Platform/Clock.h"
#include "Platform/SerialQueue.h"

namespace corvane {

// A repeating timer on a serial queue, with zero leeway: the handler runs on the queue at
// start + firstDelay, then every `interval` after that scheduled time. Fire times that were
// missed (the queue was busy, the clock jumped) are folded into one run, after which the timer
// keeps to its original grid. The queue must outlive the timer. Thread-safe. Once cancel() (or
// the destructor) returns, the handler is not started again and is not running, unless cancel()
// was called from the handler itself.
class TimerSource {
public:
    // `interval` must be positive.
    TimerSource(SerialQueue& queue, Clock::Duration firstDelay, Clock::Duration interval,
                std::function<void()> handler);
    ~TimerSource();
    TimerSource(const TimerSource&) = delete;
    TimerSource& operator=(const TimerSource&) = delete;

    void cancel();

private:
    struct State;
    static void schedule(SerialQueue& queue, const std::shared_ptr<State>& state,
                         Clock::TimePoint when);

    std::shared_ptr<State> m_state;
};

}  // namespace corvane
