#include "Platform/UserDefaults.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/UserDefaultsFixture.h"

namespace corvane {
namespace {

class UserDefaultsConcurrencyTest : public test::UserDefaultsFixture {};

TEST_F(UserDefaultsConcurrencyTest, ConcurrentEntryWritesLoseNothing)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 1000;
    UserDefaults defaults(suiteFile());
    std::atomic<bool> stop{false};
    std::jthread reader([&] {
        while (!stop) {
            (void)defaults.stringDictionaryValue("states", "/t0/0");
            (void)defaults.stringDictionary("states");
        }
    });
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    defaults.setStringDictionaryValue(
                        "states", "/t" + std::to_string(t) + "/" + std::to_string(i), "synced");
                }
            });
        }
    }
    stop = true;
    defaults.flush();
    EXPECT_EQ(defaults.stringDictionary("states")->size(), kThreads * kPerThread);
    EXPECT_EQ(UserDefaults(suiteFile()).stringDictionary("states")->size(), kThreads * kPerThread);
}

}  // namespace
}  // namespace corvane
