#include "Platform/PacedWork.h"

#include <algorithm>
#include <utility>

namespace corvane {

PacedWork::PacedWork(std::string label, std::function<void()> work, std::shared_ptr<Clock> clock,
                     Clock::Duration interval)
    : m_work(std::move(work)), m_clock(clock), m_interval(interval),
      m_queue(std::move(label), std::move(clock))
{
}

PacedWork::~PacedWork()
{
    // What was asked for still happens; queued runs that come due later find nothing to do.
    m_queue.sync([this] {
        {
            std::lock_guard lock(m_mutex);
            if (!std::exchange(m_asked, false)) {
                return;
            }
        }
        m_work();
    });
}

void PacedWork::request()
{
    ask(false);
}

void PacedWork::requestSoon()
{
    ask(true);
}

void PacedWork::ask(bool soon)
{
    std::lock_guard lock(m_mutex);
    m_asked = true;
    if (m_running) {
        m_soon = m_soon || soon;
        return;  // the run under way may have read too early: its end asks again
    }
    const Clock::TimePoint now = m_clock->now();
    scheduleBy(soon || !m_lastRun ? now : std::max(now, *m_lastRun + m_interval));
}

void PacedWork::scheduleBy(Clock::TimePoint due)
{
    if (!m_due || due < *m_due) {
        schedule(due);
    }
}

void PacedWork::schedule(Clock::TimePoint when)
{
    m_due = when;
    m_queue.asyncAt(when, [this, slot = ++m_slot] { fire(slot); });
}

void PacedWork::fire(std::uint64_t slot)
{
    {
        std::lock_guard lock(m_mutex);
        if (slot != m_slot) {
            return;  // an earlier run was queued in its place
        }
        m_due.reset();
        if (!std::exchange(m_asked, false)) {
            return;
        }
        m_running = true;
        m_soon = false;
        m_lastRun = m_clock->now();
    }
    runAsked();
}

void PacedWork::runNow()
{
    m_queue.sync([this] {
        {
            std::lock_guard lock(m_mutex);
            m_asked = false;
            m_running = true;
            m_soon = false;
            m_lastRun = m_clock->now();
        }
        runAsked();
    });
}

void PacedWork::runAsked()
{
    const auto ended = [this] {
        std::lock_guard lock(m_mutex);
        const Clock::TimePoint now = m_clock->now();
        m_running = false;
        if (m_asked) {
            // What was asked for during the run.
            scheduleBy(m_soon ? now : std::max(now, *m_lastRun + m_interval));
        }
    };
    try {
        m_work();
    } catch (...) {
        ended();
        throw;
    }
    ended();
}

}  // namespace corvane
