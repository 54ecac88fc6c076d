#include "Sync/SelectiveSyncManager.h"

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

TEST(SelectiveSyncConcurrencyTest, ChangesFromSeveralThreadsLoseNoPath)
{
    test::TempHome home;
    UserDefaults::resetShared();
    {
        SelectiveSyncManager manager;
        manager.exclude("/Kept");
        constexpr int kThreads = 8;
        constexpr int kPaths = 25;
        std::atomic<bool> wrongAnswer{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPaths; ++i) {
                    const std::string path = "/T" + std::to_string(t) + "/" + std::to_string(i);
                    manager.exclude(path);
                    manager.exclude(path + "/temporary");
                    manager.include(path + "/temporary");
                    // Readers on other threads see every path that is stored for good.
                    if (!manager.isExcluded("/Kept/file") || !manager.isExcluded(path + "/f")) {
                        wrongAnswer = true;
                    }
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_FALSE(wrongAnswer);
        const std::set<std::string> paths = manager.excludedPaths();
        EXPECT_EQ(paths.size(), 1u + kThreads * kPaths);
        EXPECT_TRUE(paths.contains("/T3/7"));
        EXPECT_FALSE(paths.contains("/T3/7/temporary"));
    }
    UserDefaults::resetShared();
}

}  // namespace
}  // namespace corvane
