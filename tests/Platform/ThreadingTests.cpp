#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/Task.h"
#include "Platform/TimerSource.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsItemsInOrderOnOneThread)
{
    SerialQueue queue("com.corvane.test");
    std::vector<int> order;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            EXPECT_TRUE(queue.isCurrent());
            order.push_back(i);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, SyncRethrowsAndRefusesItsOwnQueue)
{
    SerialQueue queue("com.corvane.test");
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    bool refused = false;
    queue.sync([&] {
        try {
            queue.sync([] {});
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
}

TEST(SerialQueueTest, DelayedItemsWaitForTheManualClock)
{
    auto clock = std::make_shared<ManualClock>();
    SerialQueue queue("com.corvane.test", clock);
    std::atomic<int> fired{0};
    queue.asyncAfter(2s, [&] { fired = 2; });
    queue.asyncAfter(1s, [&] { fired = 1; });
    queue.sync([] {});
    EXPECT_EQ(fired, 0);
    clock->advance(1s);
    queue.sync([] {});
    EXPECT_EQ(fired, 1);
    clock->advance(1s);
    queue.sync([] {});
    EXPECT_EQ(fired, 2);
}

TEST(SerialQueueTest, RealDelaysElapse)
{
    SerialQueue queue("com.corvane.test");
    std::atomic<bool> fired{false};
    const auto start = std::chrono::steady_clock::now();
    queue.asyncAfter(20ms, [&] { fired = true; });
    while (!fired && std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(fired);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

TEST(TimerSourceTest, FiresAtFixedIntervalsUntilCancelled)
{
    auto clock = std::make_shared<ManualClock>();
    SerialQueue queue("com.corvane.test", clock);
    std::atomic<int> ticks{0};
    TimerSource timer(queue, 25s, 25s, [&] { ++ticks; });
    clock->advance(24s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 0);
    clock->advance(1s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 1);
    clock->advance(50s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 3);
    timer.cancel();
    clock->advance(100s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 3);
}

TEST(MainQueueTest, AsyncRunsOnTheMainThreadInOrder)
{
    RunLoop loop;
    EXPECT_TRUE(MainQueue::isMainThread());
    std::vector<int> order;
    std::atomic<bool> offMain{true};
    Task::detached([&] {
        offMain = !MainQueue::isMainThread();
        for (int i = 0; i < 10; ++i) {
            MainQueue::async([&, i] {
                EXPECT_TRUE(MainQueue::isMainThread());
                order.push_back(i);
            });
        }
    });
    ASSERT_TRUE(loop.runUntil([&] { return order.size() == 10; }));
    EXPECT_TRUE(offMain);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST(MainQueueTest, SyncFromBackgroundWaitsForTheMainThread)
{
    RunLoop loop;
    std::atomic<bool> done{false};
    int value = 0;
    Task::detached([&] {
        MainQueue::sync([&] { value = 42; });
        done = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return done.load(); }));
    EXPECT_EQ(value, 42);
    MainQueue::sync([&] { value = 7; });  // inline on the main thread
    EXPECT_EQ(value, 7);
}

TEST(TaskTest, BlockingTasksDoNotStarveEachOther)
{
    // Every task waits for all others to start: only a pool that grows can finish this.
    constexpr int kTasks = 32;
    std::mutex mutex;
    std::condition_variable allStarted;
    int started = 0;
    std::atomic<int> finished{0};
    for (int i = 0; i < kTasks; ++i) {
        Task::detached([&] {
            std::unique_lock lock(mutex);
            ++started;
            allStarted.notify_all();
            allStarted.wait_for(lock, 10s, [&] { return started == kTasks; });
            ++finished;
        });
    }
    const auto start = std::chrono::steady_clock::now();
    while (finished < kTasks && std::chrono::steady_clock::now() - start < 10s) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(finished, kTasks);
}

TEST(BoundedTaskGroupTest, StartsInListOrderWithAtMostFourInFlight)
{
    std::mutex mutex;
    std::vector<int> startOrder;
    std::atomic<int> inFlight{0};
    std::atomic<int> peak{0};
    std::vector<Task::Work> items;
    for (int i = 0; i < 40; ++i) {
        items.push_back([&, i] {
            {
                std::lock_guard lock(mutex);
                startOrder.push_back(i);
            }
            const int now = ++inFlight;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(1ms);
            --inFlight;
        });
    }
    BoundedTaskGroup(4).run(std::move(items));
    ASSERT_EQ(startOrder.size(), 40u);
    EXPECT_LE(peak, 4);
    EXPECT_GE(peak, 2);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(startOrder[i], i);
    }
}

TEST(BoundedTaskGroupTest, StopEndsTheHandOut)
{
    std::atomic<bool> keepGoing{true};
    std::atomic<int> ran{0};
    std::vector<Task::Work> items;
    for (int i = 0; i < 100; ++i) {
        items.push_back([&, i] {
            ++ran;
            if (i == 9) {
                keepGoing = false;
            }
        });
    }
    BoundedTaskGroup(1).run(std::move(items), [&] { return keepGoing.load(); });
    EXPECT_EQ(ran, 10);
}

}  // namespace
}  // namespace corvane
