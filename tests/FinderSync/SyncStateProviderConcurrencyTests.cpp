#include "FinderSync/FinderSyncProtocol.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

TEST(SyncStateProviderConcurrencyTest, BadgesSetFromSeveralThreadsAreAllKept)
{
    test::TempHome home;
    UserDefaults::resetShared();
    constexpr int kThreads = 8;
    constexpr int kPerThread = 300;
    SyncStateProvider& provider = SyncStateProvider::shared();
    std::atomic<int> misread{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string path =
                    "/home/u/Corvane/t" + std::to_string(t) + "/" + std::to_string(i) + ".txt";
                provider.setBadge(path, SyncBadge::syncing);
                provider.setBadge(path, i % 2 == 0 ? SyncBadge::synced : SyncBadge::error);
                if (provider.getBadge(path) == SyncBadge::syncing) {
                    ++misread;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(misread, 0);
    provider.flush();

    // Read back from the file, as another process would.
    UserDefaults reader(UserDefaults::suite(SyncStateProvider::kSuiteName)->file());
    const auto stored = reader.stringDictionary(SyncStateProvider::kStateKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPerThread; ++i) {
            const std::string path =
                "/home/u/Corvane/t" + std::to_string(t) + "/" + std::to_string(i) + ".txt";
            const auto found = stored->find(path);
            ASSERT_NE(found, stored->end()) << path;
            EXPECT_EQ(found->second, i % 2 == 0 ? "synced" : "error") << path;
        }
    }
    UserDefaults::resetShared();
}

}  // namespace
}  // namespace corvane
