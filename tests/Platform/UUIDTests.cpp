#include "Platform/UUID.h"

#include <regex>
#include <set>

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(UUIDTest, IsUpperCaseVersionFourText)
{
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    for (int i = 0; i < 100; ++i) {
        const std::string uuid = UUID::make();
        EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
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
