#include "FinderSync/BadgeStore.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/SettingsFile.h"
#include "Platform/UserDefaults.h"
#include "Platform/UserDefaultsFixture.h"

namespace corvane {
namespace {

class BadgeStoreConcurrencyTest : public test::UserDefaultsFixture {};

TEST_F(BadgeStoreConcurrencyTest, ConcurrentEntryWritesLoseNothing)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 1000;
    const auto file = std::make_shared<SettingsFile>(suiteFile());
    BadgeStore badges(file);
    UserDefaults defaults(file);
    std::atomic<bool> stop{false};
    std::jthread reader([&] {
        while (!stop) {
            (void)badges.badge("/t0/0");
            (void)defaults.stringDictionary(SyncStateProvider::kStateKey);
        }
    });
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    badges.setBadge("/t" + std::to_string(t) + "/" + std::to_string(i),
                                    SyncBadge::synced);
                }
            });
        }
    }
    stop = true;
    badges.flush();
    EXPECT_EQ(defaults.stringDictionary(SyncStateProvider::kStateKey)->size(),
              kThreads * kPerThread);
    EXPECT_EQ(UserDefaults(suiteFile()).stringDictionary(SyncStateProvider::kStateKey)->size(),
              kThreads * kPerThread);
}

}  // namespace
}  // namespace corvane
