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
    const Clock::TimePoint now = m_clock->now();
    const Clock::TimePoint due = soon || !m_lastRun ? now : std::max(now, *m_lastRun + m_interval);
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
    }
    runAsked();
}

void PacedWork::runNow()
{
    m_queue.sync([this] {
        {
            std::lock_guard lock(m_mutex);
            m_asked = false;
        }
        runAsked();
    });
}

void PacedWork::runAsked()
{
    m_work();
    std::lock_guard lock(m_mutex);
    m_lastRun = m_clock->now();
}

}  // namespace corvane
