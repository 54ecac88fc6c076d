#include "Platform/MainQueue.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/CallGuarded.h"
#include "Platform/PostAndWait.h"

namespace corvane {
namespace {

struct Binding {
    std::mutex mutex;
    std::shared_ptr<MainQueue::Executor> executor;
    std::thread::id mainThread;
    std::vector<MainQueue::Work> waiting;  // posted before any executor was bound
};

Binding& binding()
{
    static Binding instance;
    return instance;
}

}  // namespace

void MainQueue::async(Work work)
{
    std::shared_ptr<Executor> executor;
    {
        std::lock_guard lock(binding().mutex);
        executor = binding().executor;
        if (!executor) {
            binding().waiting.push_back(std::move(work));
            return;
        }
    }
    executor->post(std::move(work));
}

void MainQueue::sync(const Work& work)
{
    if (isMainThread()) {
        work();
        return;
    }
    postAndWait([](Work item) { async(std::move(item)); }, work);
}

bool MainQueue::isMainThread()
{
    std::lock_guard lock(binding().mutex);
    return binding().executor && binding().mainThread == std::this_thread::get_id();
}

void MainQueue::assertMainThread(const char* where)
{
    if (!isMainThread()) {
        std::fprintf(stderr, "%s must be called on the main thread\n", where);
        std::abort();
    }
}

void MainQueue::install(std::shared_ptr<Executor> executor)
{
    std::unique_lock lock(binding().mutex);
    binding().mainThread = std::this_thread::get_id();
    // The executor is bound only once nothing waits any more: until then async() keeps adding
    // behind the waiting work, so that nothing posted later overtakes it.
    while (!binding().waiting.empty()) {
        std::vector<Work> waiting;
        waiting.swap(binding().waiting);
        lock.unlock();
        for (auto& work : waiting) {
            executor->post(std::move(work));
        }
        lock.lock();
    }
    binding().executor = std::move(executor);
}

void MainQueue::uninstall(const std::shared_ptr<Executor>& executor)
{
    std::lock_guard lock(binding().mutex);
    if (binding().executor == executor) {
        binding().executor.reset();
        binding().mainThread = {};
    }
}

class RunLoop::Queue final : public MainQueue::Executor {
public:
    void post(MainQueue::Work work) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(work));
        }
        m_posted.notify_one();
    }

    // Runs one item, waiting for one until `deadline`; false when none came.
    bool runOne(std::chrono::steady_clock::time_point deadline)
    {
        MainQueue::Work work;
        {
            std::unique_lock lock(m_mutex);
            if (!m_posted.wait_until(lock, deadline, [&] { return !m_items.empty(); })) {
                return false;
            }
            work = std::move(m_items.front());
            m_items.pop_front();
        }
        // Main-thread work reports its own failures; one that escapes must not end the loop.
        callGuarded("main queue: work item", work);
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<MainQueue::Work> m_items;
};

RunLoop::RunLoop() : m_queue(std::make_shared<Queue>())
{
    MainQueue::install(m_queue);
}

RunLoop::~RunLoop()
{
    MainQueue::uninstall(m_queue);
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return predicate();
        }
        // Wake up now and then to look at the predicate, which may depend on other threads.
        const auto slice =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        m_queue->runOne(slice);
    }
    return true;
}

void RunLoop::runPending()
{
    while (m_queue->runOne(std::chrono::steady_clock::now())) {
    }
}

}  // namespace corvane
