#include "Nautilus/GLibMainQueueExecutor.h"

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <glib.h>

#include <gtest/gtest.h>

#include "Nautilus/IterateUntil.h"

namespace corvane {
namespace {

using test::iterateUntil;

class GLibMainQueueExecutorTest : public ::testing::Test {
protected:
    void SetUp() override { g_main_context_push_thread_default(m_context); }
    void TearDown() override
    {
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    GMainContext* m_context = g_main_context_new();
};

TEST_F(GLibMainQueueExecutorTest, RunsWorkFromOtherThreadsInOrderOnTheIteratingThread)
{
    GLibMainQueueExecutor executor(m_context);
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            executor.post([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
        }
    });
    poster.join();
    ASSERT_TRUE(iterateUntil(m_context, [&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    for (const auto& thread : threads) {
        EXPECT_EQ(thread, std::this_thread::get_id());
    }
}

TEST_F(GLibMainQueueExecutorTest, AFailingItemDoesNotStopTheNext)
{
    GLibMainQueueExecutor executor(m_context);
    bool ran = false;
    executor.post([] { throw std::runtime_error("boom"); });
    executor.post([&] { ran = true; });
    EXPECT_TRUE(iterateUntil(m_context, [&] { return ran; }));
}

TEST_F(GLibMainQueueExecutorTest, ItemsOutliveTheExecutorAndAreFreedWithTheirSource)
{
    auto token = std::make_shared<int>(0);
    bool ran = false;
    {
        GLibMainQueueExecutor executor(m_context);
        executor.post([&ran, token] { ran = true; });
    }
    EXPECT_EQ(token.use_count(), 2);
    ASSERT_TRUE(iterateUntil(m_context, [&] { return ran; }));
    EXPECT_EQ(token.use_count(), 1);
}

TEST_F(GLibMainQueueExecutorTest, CarriesTheMainQueue)
{
    const auto executor = std::make_shared<GLibMainQueueExecutor>(m_context);
    MainQueue::install(executor);
    bool onMain = false;
    std::thread([&] { MainQueue::async([&] { onMain = MainQueue::isMainThread(); }); }).join();
    EXPECT_TRUE(iterateUntil(m_context, [&] { return onMain; }));
    MainQueue::uninstall(executor);
}

}  // namespace
}  // namespace corvane
