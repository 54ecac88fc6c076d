#include "Platform/BackgroundSha256.h"

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "Platform/Sha256.h"

namespace corvane {
namespace {

constexpr std::size_t kBlock = 1024 * 1024;

std::string contentOf(std::size_t size)
{
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    return content;
}

struct Feeding {
    std::size_t size;
    std::size_t piece;  // bytes per update()
};

class BackgroundSha256Test : public testing::TestWithParam<Feeding> {};

// Small content is hashed without a thread, large content in blocks beside the feeder; both must
// give the hash of the bytes as one piece, wherever the pieces and blocks break.
TEST_P(BackgroundSha256Test, GivesTheHashOfAllItWasFed)
{
    const auto [size, piece] = GetParam();
    const std::string content = contentOf(size);
    BackgroundSha256 hash;
    for (std::size_t at = 0; at < size; at += piece) {
        hash.update(std::string_view(content).substr(at, piece));
    }
    EXPECT_EQ(hash.finish(), Sha256::of(content));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BackgroundSha256Test,
                         testing::Values(Feeding{0, 1}, Feeding{3, 1}, Feeding{kBlock - 1, 16384},
                                         Feeding{kBlock, 16384}, Feeding{kBlock + 1, 16384},
                                         Feeding{kBlock, kBlock}, Feeding{9 * kBlock + 17, 16384},
                                         Feeding{9 * kBlock + 17, 3 * kBlock + 5}));

TEST(BackgroundSha256LifetimeTest, AHashLeftUnfinishedEndsItsWorker)
{
    const std::string content = contentOf(8 * kBlock);
    BackgroundSha256 hash;
    hash.update(content);  // blocks waiting in the worker's queue when it goes
}

}  // namespace
}  // namespace corvane
