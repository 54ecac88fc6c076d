#include "Platform/KeyedTaskQueue.h"
#include "Platform/MainQueue.h"
#include "Platform/MainQueueBatch.h"
#include "Platform/SerialQueue.h"
#include "Platform/Task.h"
#include "Platform/TimerSource.h"
#include "support/PollUntil.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    EXPECT_TRUE(test::pollUntil([&] { return fired.load(); }));
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
    for (int expected = 1; expected <= 4; ++expected) {
        clock->advance(expected == 1 ? 1s : 25s);
        queue.sync([] {});
        EXPECT_EQ(ticks, expected);
    }
    timer.cancel();
    clock->advance(100s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 4);
}

TEST(TimerSourceTest, MissedFireTimesFoldIntoOneAndKeepTheGrid)
{
    // Repeated many times: the outcome must not depend on how the worker and the test interleave.
    for (int round = 0; round < 50; ++round) {
        auto clock = std::make_shared<ManualClock>();
        SerialQueue queue("com.corvane.test", clock);
        std::atomic<int> ticks{0};
        TimerSource timer(queue, 25s, 25s, [&] { ++ticks; });
        clock->advance(110s);  // fire times 25, 50, 75 and 100 have all passed
        queue.sync([] {});
        ASSERT_EQ(ticks, 1);
        clock->advance(14s);  // 124 s: still before the next grid time, 125 s
        queue.sync([] {});
        ASSERT_EQ(ticks, 1);
        clock->advance(1s);
        queue.sync([] {});
        ASSERT_EQ(ticks, 2);
    }
}

TEST(TimerSourceTest, DestructionWaitsForARunningHandler)
{
    SerialQueue queue("com.corvane.test");
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    std::atomic<bool> handlerDone{false};
    std::atomic<int> runs{0};
    auto timer = std::make_unique<TimerSource>(queue, 0s, 1ms, [&] {
        if (++runs > 1) {
            return;
        }
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        handlerDone = true;
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return entered; }));
    }
    std::thread releaser([&] {
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex);
        release = true;
        changed.notify_all();
    });
    timer.reset();  // must not return while the handler still runs
    EXPECT_TRUE(handlerDone);
    releaser.join();
    const int runsAtCancel = runs;
    queue.asyncAfter(20ms, [] {});
    std::this_thread::sleep_for(30ms);
    queue.sync([] {});
    EXPECT_EQ(runs, runsAtCancel);
}

TEST(TimerSourceTest, HandlerMayCancelItsOwnTimer)
{
    auto clock = std::make_shared<ManualClock>();
    SerialQueue queue("com.corvane.test", clock);
    std::atomic<int> ticks{0};
    std::unique_ptr<TimerSource> timer;
    timer = std::make_unique<TimerSource>(queue, 1s, 1s, [&] {
        ++ticks;
        timer.reset();  // from the handler: must not wait for itself
    });
    clock->advance(1s);
    queue.sync([] {});
    clock->advance(5s);
    queue.sync([] {});
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(timer, nullptr);
}

TEST(SerialQueueTest, DestructionDropsDelayedItemsWithoutWaitingForThem)
{
    auto captured = std::make_shared<int>(0);
    std::atomic<bool> dueRan{false};
    std::atomic<bool> delayedRan{false};
    const auto start = std::chrono::steady_clock::now();
    {
        SerialQueue queue("com.corvane.test");
        queue.asyncAfter(1h, [&, captured] { delayedRan = true; });
        queue.async([&] { dueRan = true; });
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(dueRan);
    EXPECT_FALSE(delayedRan);
    EXPECT_EQ(captured.use_count(), 1);  // the dropped item let go of what it held
}

TEST(SerialQueueTest, OwnerReleasedInsideItsOwnItem)
{
    // The last owner of an object that owns a queue can be a work item of that queue (a weak
    // reference locked for the item's duration). Destruction must not join the worker from
    // itself, and what was queued behind the item must not run against the dead owner.
    struct Owner {
        Owner() : queue("com.corvane.test") {}
        SerialQueue queue;
    };
    std::atomic<bool> ranAfter{false};
    std::atomic<bool> finished{false};
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> weak = owner;
    std::promise<void> holding;
    std::promise<void> released;
    owner->queue.async([&, weak] {
        auto strong = weak.lock();
        holding.set_value();
        released.get_future().wait();
        strong.reset();  // the last reference: the queue is destroyed here, on its own worker
        finished = true;
    });
    owner->queue.async([&] { ranAfter = true; });
    holding.get_future().wait();
    owner.reset();
    released.set_value();
    EXPECT_TRUE(test::pollUntil([&] { return finished.load(); }, 10s));
    std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(ranAfter);
}

TEST(ManualClockTest, OneAdvanceWakesEveryQueue)
{
    auto clock = std::make_shared<ManualClock>();
    std::vector<std::unique_ptr<SerialQueue>> queues;
    std::atomic<int> fired{0};
    for (int i = 0; i < 4; ++i) {
        queues.push_back(std::make_unique<SerialQueue>("com.corvane.test", clock));
        queues.back()->asyncAfter(std::chrono::seconds(i + 1), [&] { ++fired; });
    }
    clock->advance(2s);
    for (auto& queue : queues) {
        queue->sync([] {});
    }
    EXPECT_EQ(fired, 2);
    clock->advance(2s);
    for (auto& queue : queues) {
        queue->sync([] {});
    }
    EXPECT_EQ(fired, 4);
}

TEST(ManualClockTest, AdvancingWhileQueuesComeAndGo)
{
    // An advance may reach a queue that is being destroyed; neither may touch freed memory.
    auto clock = std::make_shared<ManualClock>();
    std::atomic<bool> stop{false};
    std::thread advancer([&] {
        while (!stop) {
            clock->advance(1ms);
        }
    });
    for (int i = 0; i < 200; ++i) {
        SerialQueue queue("com.corvane.test", clock);
        queue.asyncAfter(1ms, [] {});
        queue.async([] {});
    }
    stop = true;
    advancer.join();
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

TEST(MainQueueTest, WorkPostedBeforeTheLoopStillRunsFirst)
{
    // Items posted while no loop is bound wait; a loop bound while more arrive must not let a
    // newer item overtake the waiting ones.
    constexpr int kItems = 20000;
    std::vector<int> order;
    std::atomic<int> posted{0};
    std::jthread poster([&] {
        for (int i = 0; i < kItems; ++i) {
            MainQueue::async([&, i] { order.push_back(i); });
            ++posted;
        }
    });
    while (posted < kItems / 4) {
        std::this_thread::yield();
    }
    {
        RunLoop loop;
        ASSERT_TRUE(loop.runUntil([&] { return order.size() == kItems; }));
    }
    poster.join();
    for (int i = 0; i < kItems; ++i) {
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
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

TEST(MainQueueBatchTest, ItemsFromManyThreadsRunOnTheMainThreadInTheirOrder)
{
    RunLoop loop;
    const auto batch = MainQueueBatch::create();
    constexpr int kThreads = 4;
    constexpr int kItems = 500;
    std::map<int, std::vector<int>> seen;  // main thread only
    std::atomic<int> offMain{0};
    {
        std::vector<std::jthread> producers;
        for (int t = 0; t < kThreads; ++t) {
            producers.emplace_back([&, t] {
                offMain += MainQueue::isMainThread() ? 0 : 1;
                for (int i = 0; i < kItems; ++i) {
                    batch->add([&, t, i] {
                        EXPECT_TRUE(MainQueue::isMainThread());
                        seen[t].push_back(i);
                    });
                }
            });
        }
    }
    loop.runPending();
    EXPECT_EQ(offMain.load(), kThreads);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kItems)) << t;
        for (int i = 0; i < kItems; ++i) {
            ASSERT_EQ(seen[t][static_cast<std::size_t>(i)], i) << t;
        }
    }

    // A later item gets a run of its own, after what the main queue held before it.
    std::vector<std::string> order;
    MainQueue::async([&] { order.push_back("before"); });
    batch->add([&] { order.push_back("batched"); });
    loop.runPending();
    EXPECT_EQ(order, (std::vector<std::string>{"before", "batched"}));
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
            {
                std::unique_lock lock(mutex);
                ++started;
                allStarted.notify_all();
                allStarted.wait_for(lock, 10s, [&] { return started == kTasks; });
            }
            // Last, with the lock released: the test may return, and its mutex go, as soon as
            // it sees the count.
            ++finished;
        });
    }
    test::pollUntil([&] { return finished == kTasks; }, 10s);
    EXPECT_EQ(finished, kTasks);
}

TEST(BoundedTaskGroupTest, StartsInListOrderWithAtMostFourInFlight)
{
    std::mutex mutex;
    std::vector<int> startOrder;
    std::vector<int> outOfOrder;
    std::atomic<int> inFlight{0};
    std::atomic<int> peak{0};
    std::vector<Task::Work> items;
    for (int i = 0; i < 40; ++i) {
        items.push_back([&, i] {
            const int now = ++inFlight;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            {
                // Items are handed out in list order. Those handed out but not yet here are in
                // flight, so at most three earlier items can still be missing.
                std::lock_guard lock(mutex);
                const auto earlier = std::count_if(startOrder.begin(), startOrder.end(),
                                                   [i](int started) { return started < i; });
                if (earlier < i - 3) {
                    outOfOrder.push_back(i);
                }
                startOrder.push_back(i);
            }
            std::this_thread::sleep_for(1ms);
            --inFlight;
        });
    }
    BoundedTaskGroup(4).run(std::move(items));
    ASSERT_EQ(startOrder.size(), 40u);
    EXPECT_LE(peak, 4);
    EXPECT_TRUE(outOfOrder.empty()) << ::testing::PrintToString(outOfOrder);
    std::sort(startOrder.begin(), startOrder.end());
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

namespace corvane {
namespace {

TEST(KeyedTaskQueueTest, OneKeyRunsInOrderAndKeysRunSideBySideUpToTheLimit)
{
    KeyedTaskQueue queue(3);
    std::mutex mutex;
    std::map<std::string, std::vector<int>> order;
    std::map<std::string, int> runningPerKey;
    int running = 0;
    int peak = 0;
    bool overlapped = false;
    for (int i = 0; i < 20; ++i) {
        for (const std::string key : {"/a", "/b", "/c", "/d", "/e"}) {
            queue.submit(key, [&, key, i] {
                {
                    std::lock_guard lock(mutex);
                    overlapped |= ++runningPerKey[key] > 1;
                    peak = std::max(peak, ++running);
                    order[key].push_back(i);
                }
                std::this_thread::sleep_for(200us);
                std::lock_guard lock(mutex);
                --runningPerKey[key];
                --running;
            });
        }
    }
    ASSERT_TRUE(test::pollUntil([&] { return queue.unfinished() == 0; }));
    std::lock_guard lock(mutex);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(peak, 3);
    for (const auto& [key, indices] : order) {
        EXPECT_TRUE(std::is_sorted(indices.begin(), indices.end())) << key;
        EXPECT_EQ(indices.size(), 20u) << key;
    }
}

TEST(KeyedTaskQueueTest, CancelDropsWaitingItemsAndLetsRunningOnesFinish)
{
    KeyedTaskQueue queue(1);
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::atomic<int> ran{0};
    const auto owner = std::make_shared<int>(0);
    queue.submit("/a", [&] {
        started = true;
        while (!release) {
            std::this_thread::sleep_for(100us);
        }
        ++ran;
    });
    queue.submit("/a", [&, owner] { ++ran; });
    queue.submit("/b", [&, owner] { ++ran; });
    EXPECT_EQ(queue.unfinished(), 3u);
    ASSERT_TRUE(test::pollUntil([&] { return started.load(); }));
    queue.cancelPending();
    EXPECT_EQ(owner.use_count(), 1);  // what the dropped items held is released
    EXPECT_EQ(queue.unfinished(), 1u);
    release = true;
    ASSERT_TRUE(test::pollUntil([&] { return queue.unfinished() == 0; }));
    EXPECT_EQ(ran, 1);
    queue.submit("/b", [&] { ++ran; });  // the queue goes on after a cancel
    ASSERT_TRUE(test::pollUntil([&] { return ran == 2; }));
}

TEST(KeyedTaskQueueTest, OwnerReleasedInsideItsOwnItem)
{
    struct Owner {
        KeyedTaskQueue queue{2};
    };
    auto owner = std::make_shared<Owner>();
    std::atomic<bool> done{false};
    owner->queue.submit("/a", [&done, held = owner]() mutable {
        held.reset();  // the last reference: the queue goes while its item runs
        done = true;
    });
    owner.reset();
    ASSERT_TRUE(test::pollUntil([&] { return done.load(); }));
}

}  // namespace
}  // namespace corvane
