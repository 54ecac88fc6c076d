#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace corvane {

// Background work. Task::detached runs `work` on a shared pool that grows with demand, so a
// blocking task never waits for a free thread (up to a generous cap). An exception that escapes
// the work is reported on standard error and goes no further. Thread-safe.
class Task {
public:
    using Work = std::function<void()>;

    static void detached(Work work);
    // Runs `work` and reports an exception that escapes it on standard error: the last boundary
    // before a pool thread.
    static void runGuarded(const Work& work);
};

// Runs a list of work items with at most `maxInFlight` running at once, starting them in list
// order, and waits until every started item has finished. Once `shouldContinue` answers false no
// further item starts; items already running are not interrupted. Thread-safe.
class BoundedTaskGroup {
public:
    explicit BoundedTaskGroup(std::size_t maxInFlight);

    void run(std::vector<Task::Work> items, std::function<bool()> shouldContinue = {}) const;

private:
    std::size_t m_maxInFlight;
};

}  // namespace corvane
