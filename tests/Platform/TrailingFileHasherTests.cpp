#include "Platform/TrailingFileHasher.h"

#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Platform/Error.h"
#include "Platform/Sha256.h"
#include "Platform/UniqueFd.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

std::string patternBytes(std::size_t count)
{
    std::string bytes(count, '\0');
    std::uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

class TrailingFileHasherTest : public ::testing::Test {
protected:
    UniqueFd openFile()
    {
        UniqueFd file(::open(path().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        EXPECT_TRUE(file.valid());
        return file;
    }

    std::filesystem::path path() const { return folder.path() / "content.bin"; }

    test::TempDir folder;
};

struct Case {
    std::size_t size;
    std::size_t hashedBefore;  // by the writer, before the hasher takes over
    std::size_t piece;         // what each write adds
};

TEST_F(TrailingFileHasherTest, GivesTheHashOfTheWholeFileHoweverItIsWritten)
{
    const std::vector<Case> cases = {
        {0, 0, 1},                                      // nothing at all
        {100, 100, 1},                                  // everything hashed before it starts
        {5, 0, 2},                                      // less than one batch, small pieces
        {4 * kMiB, 0, 256 * 1024},                      // whole batches exactly
        {9 * kMiB + 13, 4 * kMiB + 7, 256 * 1024 + 3},  // several batches, a tail, odd pieces
        {3 * kMiB + 1, 1, 3 * kMiB},                    // one write larger than a batch
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("size " + std::to_string(test.size) + ", hashed before " +
                     std::to_string(test.hashedBefore));
        const std::string content = patternBytes(test.size);
        UniqueFd file = openFile();
        ASSERT_TRUE(file.writeAll(std::string_view(content).substr(0, test.hashedBefore)));
        Sha256 digest;
        digest.update(std::string_view(content).substr(0, test.hashedBefore));
        {
            TrailingFileHasher hasher(file.get(), path(), digest, test.hashedBefore);
            for (std::size_t at = test.hashedBefore; at < content.size(); at += test.piece) {
                ASSERT_TRUE(file.writeAll(std::string_view(content).substr(at, test.piece)));
                hasher.written(std::min(content.size(), at + test.piece));
            }
            hasher.finish();
        }
        EXPECT_EQ(digest.finish(), Sha256::of(content));
    }
}

TEST_F(TrailingFileHasherTest, AFileCutShortUnderTheWriterIsAReadError)
{
    UniqueFd file = openFile();
    ASSERT_TRUE(file.writeAll(patternBytes(kMiB)));
    Sha256 digest;
    TrailingFileHasher hasher(file.get(), path(), digest, 0);
    ASSERT_EQ(::ftruncate(file.get(), 10), 0);
    hasher.written(kMiB);
    try {
        hasher.finish();
        FAIL() << "a missing byte was taken as hashed";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("Cannot read"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find(path().string()), std::string::npos);
    }
}

TEST_F(TrailingFileHasherTest, GoesWithoutWaitingForBytesThatWillNeverCome)
{
    UniqueFd file = openFile();
    ASSERT_TRUE(file.writeAll(patternBytes(2 * kMiB)));
    Sha256 digest;
    {
        TrailingFileHasher hasher(file.get(), path(), digest, 0);
        hasher.written(2 * kMiB);
        hasher.written(8 * kMiB);  // promised, never written: a failed download stops here
    }
    SUCCEED();
}

}  // namespace
}  // namespace corvane
