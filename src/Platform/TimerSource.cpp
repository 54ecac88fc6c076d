#include "Platform/TimerSource.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "Platform/CallGuarded.h"

namespace corvane {

struct TimerSource::State {
    State(Clock::Duration interval, std::function<void()> handler, std::string handlerName)
        : interval(interval), handler(std::move(handler)), handlerName(std::move(handlerName))
    {
    }

    // Marks the start of one run; false once cancelled.
    bool begin()
    {
        std::lock_guard lock(mutex);
        if (cancelled) {
            return false;
        }
        runner = std::this_thread::get_id();
        return true;
    }

    // Marks the end of one run; false once cancelled.
    bool end()
    {
        {
            std::lock_guard lock(mutex);
            runner = {};
        }
        finished.notify_all();
        std::lock_guard lock(mutex);
        return !cancelled;
    }

    void cancel()
    {
        std::unique_lock lock(mutex);
        cancelled = true;
        if (runner == std::this_thread::get_id()) {
            return;  // cancelled from the handler: it is about to return
        }
        finished.wait(lock, [&] { return runner == std::thread::id{}; });
    }

    const Clock::Duration interval;
    const std::function<void()> handler;
    const std::string handlerName;  // "<queue label>: timer handler", for failure reports
    std::mutex mutex;
    std::condition_variable finished;
    bool cancelled = false;
    std::thread::id runner;  // the queue's thread while the handler runs
};

TimerSource::TimerSource(SerialQueue& queue, Clock::Duration firstDelay, Clock::Duration interval,
                         std::function<void()> handler)
    : m_state(
          std::make_shared<State>(interval, std::move(handler), queue.label() + ": timer handler"))
{
    if (interval <= Clock::Duration::zero()) {
        throw std::invalid_argument("TimerSource needs a positive interval");
    }
    schedule(queue, m_state, queue.clock()->now() + firstDelay);
}

TimerSource::~TimerSource()
{
    cancel();
}

void TimerSource::cancel()
{
    m_state->cancel();
}

void TimerSource::schedule(SerialQueue& queue, const std::shared_ptr<State>& state,
                           Clock::TimePoint when)
{
    queue.asyncAt(when, [&queue, state, when] {
        if (!state->begin()) {
            return;
        }
        // The handler reports its own failures; one that escapes must not stop the timer.
        callGuarded(state->handlerName, state->handler);
        if (!state->end()) {
            return;
        }
        // The next fire time on the grid that still lies ahead.
        const auto now = queue.clock()->now();
        auto next = when + state->interval;
        if (next <= now) {
            next += ((now - next) / state->interval + 1) * state->interval;
        }
        schedule(queue, state, next);
    });
}

}  // namespace corvane
