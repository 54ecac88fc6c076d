#include "Platform/UUID.h"

#include <set>

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(UUIDTest, IsUpperCaseVersionFourText)
{
    const auto isUpperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    for (int i = 0; i < 100; ++i) {
        const std::string uuid = UUID::make();
        ASSERT_EQ(uuid.size(), 36u) << uuid;
        for (std::size_t k = 0; k < uuid.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23) {
                EXPECT_EQ(uuid[k], '-') << uuid;
            } else {
                EXPECT_TRUE(isUpperHex(uuid[k])) << uuid;
            }
        }
        EXPECT_EQ(uuid[14], '4') << uuid;                                          // version 4
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;  // variant
    }
}

TEST(UUIDTest, NeverRepeats)
{
    std::set<std::string> seen;
    for (int i = 0; i < 10000; ++i) {
        EXPECT_TRUE(seen.insert(UUID::make()).second);
    }
}

}  // namespace
}  // namespace corvane
