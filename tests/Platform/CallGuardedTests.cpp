#include "Platform/CallGuarded.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"

namespace corvane {
namespace {

TEST(CallGuardedTest, PassesTheResultThrough)
{
    int calls = 0;
    EXPECT_EQ(callGuarded("test", [&] { return ++calls; }), 1);
    callGuarded("test", [&] { ++calls; });
    EXPECT_EQ(calls, 2);
}

TEST(CallGuardedTest, AnEscapingExceptionGivesTheEmptyResultInstead)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(callGuarded("menu", []() -> const char* { throw std::runtime_error("no link"); }),
              nullptr);
    EXPECT_EQ(callGuarded("count", []() -> int { throw 7; }), 0);
    callGuarded("void", [] { throw std::logic_error("broken"); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "menu failed: no link\ncount failed\nvoid failed: broken\n");
}

TEST(CallGuardedTest, QueuesReportAnEscapingExceptionUnderTheirNameAndGoOn)
{
    testing::internal::CaptureStderr();
    {
        SerialQueue queue("com.corvane.test");
        queue.async([] { throw std::runtime_error("boom"); });
        bool ran = false;
        queue.sync([&] { ran = true; });
        EXPECT_TRUE(ran);
    }
    {
        RunLoop loop;
        bool ran = false;
        MainQueue::async([] { throw std::runtime_error("bang"); });
        MainQueue::async([&] { ran = true; });
        EXPECT_TRUE(loop.runUntil([&] { return ran; }));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "com.corvane.test: work item failed: boom\nmain queue: work item failed: bang\n");
}

}  // namespace
}  // namespace corvane
