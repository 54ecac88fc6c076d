#include "Platform/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(ClockSleepTest, TheSystemClockSleepsForReal)
{
    const auto clock = Clock::system();
    const auto start = std::chrono::steady_clock::now();
    clock->sleepFor(20ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);

    // Nothing to wait for: no sleep at all (a generous bound, well below the 1 s asked for).
    const auto before = std::chrono::steady_clock::now();
    clock->sleepFor(0ms);
    clock->sleepFor(-1s);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST(ClockSleepTest, AManualSleeperWakesOnlyOnceTheClockReachesItsDeadline)
{
    ManualClock clock;
    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        clock.sleepFor(50ms);
        woke = true;
    });
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(30ms);
    EXPECT_EQ(clock.sleepers(), 1u);
    // Still asleep: only the clock wakes it, and the clock has not reached the deadline.
    EXPECT_FALSE(clock.waitForSleepers(2, 20ms));
    EXPECT_FALSE(woke);

    clock.advance(20ms);
    // Due at once, before its thread has even run: a driver waiting for the next sleep must
    // not mistake this one for it.
    EXPECT_EQ(clock.sleepers(), 0u);
    sleeper.join();
    EXPECT_TRUE(woke);
}

TEST(ClockSleepTest, OneAdvanceWakesEverySleeperWhoseDeadlineItPasses)
{
    ManualClock clock;
    std::atomic<int> woke{0};
    std::vector<std::thread> sleepers;
    for (const auto duration : {10ms, 20ms, 30ms}) {
        sleepers.emplace_back([&clock, &woke, duration] {
            clock.sleepFor(duration);
            ++woke;
        });
    }
    ASSERT_TRUE(clock.waitForSleepers(3));
    clock.advance(25ms);
    EXPECT_EQ(clock.sleepers(), 1u);
    clock.advance(5ms);
    for (auto& thread : sleepers) {
        thread.join();
    }
    EXPECT_EQ(woke, 3);
}

TEST(ClockSleepTest, AManualClockDoesNotBlockForNothing)
{
    ManualClock clock;
    clock.sleepFor(0ms);
    clock.sleepFor(-5s);
    EXPECT_EQ(clock.sleepers(), 0u);
    EXPECT_FALSE(clock.waitForSleepers(1, 1ms));
}

TEST(ClockSleepTest, AStepBackMovesTheDeadlineAway)
{
    ManualClock clock;
    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        clock.sleepFor(50ms);
        woke = true;
    });
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(-1s);
    clock.advance(1s);
    EXPECT_EQ(clock.sleepers(), 1u);
    EXPECT_FALSE(woke);
    clock.advance(50ms);
    sleeper.join();
    EXPECT_TRUE(woke);
}

}  // namespace
}  // namespace corvane
