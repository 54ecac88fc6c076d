#include "Platform/BackgroundFileWriter.h"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Platform/Error.h"
#include "Platform/UniqueFd.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

constexpr std::size_t kBlock = BackgroundFileWriter::kBlockSize;

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
    std::size_t piece;  // bytes per append()
};

class BackgroundFileWriterTest : public testing::TestWithParam<Feeding> {};

// Little content is written by finish() itself, more in blocks beside the feeder; the file must
// hold the bytes as fed, wherever the pieces and blocks break.
TEST_P(BackgroundFileWriterTest, TheFileHoldsAllItWasFed)
{
    const auto [size, piece] = GetParam();
    const std::string content = contentOf(size);
    test::TempDir dir;
    const std::filesystem::path file = dir.path() / "written";
    const UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd);
    BackgroundFileWriter writer(fd.get(), file.string());
    for (std::size_t at = 0; at < size; at += piece) {
        writer.append(std::string_view(content).substr(at, piece));
    }
    writer.finish();
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == content);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BackgroundFileWriterTest,
                         testing::Values(Feeding{0, 1}, Feeding{3, 1}, Feeding{kBlock - 1, 16384},
                                         Feeding{kBlock, 16384}, Feeding{kBlock + 1, 16384},
                                         Feeding{kBlock, kBlock}, Feeding{9 * kBlock + 17, 16384},
                                         Feeding{9 * kBlock + 17, 3 * kBlock + 5}));

// A disk that refuses the bytes stops the stream: the feeder learns of it while it still feeds
// (or at the latest from finish()), with the system's error, whatever the content's size.
TEST(BackgroundFileWriterFailureTest, AWriteTheDiskRefusesStopsTheStream)
{
    for (const std::size_t size : {std::size_t{10}, 64 * kBlock}) {
        SCOPED_TRACE(size);
        const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(full);
        const std::string piece = contentOf(16384);
        BackgroundFileWriter writer(full.get(), "/dev/full");
        try {
            for (std::size_t fed = 0; fed < size; fed += piece.size()) {
                writer.append(std::string_view(piece).substr(0, size - fed));
            }
            writer.finish();
            ADD_FAILURE() << "no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.errorNumber(), ENOSPC);
        }
    }
}

TEST(BackgroundFileWriterLifetimeTest, AWriterLeftUnfinishedEndsItsWorker)
{
    test::TempDir dir;
    const std::filesystem::path file = dir.path() / "dropped";
    const UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd);
    BackgroundFileWriter writer(fd.get(), file.string());
    writer.append(contentOf(8 * kBlock));  // blocks waiting for the worker when it goes
}

}  // namespace
}  // namespace corvane
