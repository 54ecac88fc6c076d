#include "Platform/Task.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/CallGuarded.h"

namespace corvane {
namespace {

// Threads are added whenever work arrives and none is idle; idle threads wait for more work.
class ThreadPool {
public:
    static ThreadPool& shared()
    {
        static ThreadPool pool;
        return pool;
    }

    ~ThreadPool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_workArrived.notify_all();
        m_threads.clear();  // joins
    }

    void post(Task::Work work)
    {
        {
            std::lock_guard lock(m_mutex);
            m_work.push_back(std::move(work));
            if (m_work.size() > m_idle && m_threads.size() < kMaxThreads) {
                m_threads.emplace_back([this] { serve(); });
                return;
            }
        }
        m_workArrived.notify_one();
    }

private:
    static constexpr std::size_t kMaxThreads = 512;

    void serve()
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            ++m_idle;
            m_workArrived.wait(lock, [&] { return m_stopping || !m_work.empty(); });
            --m_idle;
            if (m_work.empty()) {
                return;  // stopping
            }
            Task::Work work = std::move(m_work.front());
            m_work.pop_front();
            lock.unlock();
            Task::runGuarded(work);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_workArrived;
    std::deque<Task::Work> m_work;
    std::size_t m_idle = 0;
    bool m_stopping = false;
    std::vector<std::jthread> m_threads;
};

}  // namespace

void Task::runGuarded(const Work& work)
{
    // Tasks report their own failures; this is the last boundary before the thread.
    callGuarded("background task", work);
}

void Task::detached(Work work)
{
    ThreadPool::shared().post(std::move(work));
}

BoundedTaskGroup::BoundedTaskGroup(std::size_t maxInFlight)
    : m_maxInFlight(std::max<std::size_t>(1, maxInFlight))
{
}

void BoundedTaskGroup::run(std::vector<Task::Work> items,
                           std::function<bool()> shouldContinue) const
{
    struct Shared {
        std::vector<Task::Work> items;
        std::function<bool()> shouldContinue;
        std::mutex mutex;
        std::condition_variable finished;
        std::size_t next = 0;
        std::size_t runnersLeft = 0;
    };
    auto shared = std::make_shared<Shared>();
    shared->items = std::move(items);
    shared->shouldContinue = std::move(shouldContinue);
    const std::size_t runners = std::min(m_maxInFlight, shared->items.size());
    shared->runnersLeft = runners;

    // Each runner takes the next item in list order until the list is done or the group stops.
    const auto runner = [shared] {
        while (true) {
            if (shared->shouldContinue && !shared->shouldContinue()) {
                break;
            }
            std::size_t index = 0;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->next >= shared->items.size()) {
                    break;
                }
                index = shared->next++;
            }
            Task::runGuarded(shared->items[index]);
        }
        std::lock_guard lock(shared->mutex);
        if (--shared->runnersLeft == 0) {
            shared->finished.notify_all();
        }
    };
    for (std::size_t i = 0; i < runners; ++i) {
        Task::detached(runner);
    }
    std::unique_lock lock(shared->mutex);
    shared->finished.wait(lock, [&] { return shared->runnersLeft == 0; });
}

}  // namespace corvane
