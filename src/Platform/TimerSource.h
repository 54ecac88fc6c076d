#pragma once

#include <functional>
#include <memory>

#include "Platform/Clock.h"
#include "Platform/SerialQueue.h"

namespace corvane {

// A repeating timer on a serial queue, with zero leeway: the handler runs on the queue at
// start + firstDelay, then every `interval` after that scheduled time. The queue must outlive
// the timer. Thread-safe; after cancel() returns the handler is not started again.
class TimerSource {
public:
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
