#include "Platform/TimerSource.h"

#include <atomic>

namespace corvane {

struct TimerSource::State {
    State(Clock::Duration interval, std::function<void()> handler)
        : interval(interval), handler(std::move(handler))
    {
    }
    const Clock::Duration interval;
    const std::function<void()> handler;
    std::atomic<bool> cancelled{false};
};

TimerSource::TimerSource(SerialQueue& queue, Clock::Duration firstDelay, Clock::Duration interval,
                         std::function<void()> handler)
    : m_state(std::make_shared<State>(interval, std::move(handler)))
{
    schedule(queue, m_state, queue.clock()->now() + firstDelay);
}

TimerSource::~TimerSource()
{
    cancel();
}

void TimerSource::cancel()
{
    m_state->cancelled = true;
}

void TimerSource::schedule(SerialQueue& queue, const std::shared_ptr<State>& state,
                           Clock::TimePoint when)
{
    queue.asyncAt(when, [&queue, state, when] {
        if (state->cancelled) {
            return;
        }
        state->handler();
        if (!state->cancelled) {
            schedule(queue, state, when + state->interval);
        }
    });
}

}  // namespace corvane
