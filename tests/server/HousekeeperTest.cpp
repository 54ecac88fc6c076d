#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "BlobStore.h"
#include "Housekeeper.h"
#include "Outbox.h"
#include "ServerClock.h"
#include "Store.h"
#include "support/PollUntil.h"
#include "support/TempHome.h"

namespace corvane::server {
namespace {

namespace fs = std::filesystem;

// A blob file that the store does not know of.
fs::path writeOrphan(const BlobStore& blobs, char digit)
{
    const std::string hash(64, digit);
    const fs::path path = blobs.blobPath(hash);
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "orphan";
    return path;
}

class HousekeeperTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    BlobStore m_blobs{m_dir.path()};
    Store m_store{m_dir.path()};
    ServerClock m_clock;
};

TEST_F(HousekeeperTest, ARoundRunsAtOnceAndThenAtTheInterval)
{
    const fs::path before = writeOrphan(m_blobs, 'a');
    const Housekeeper housekeeper(m_store, m_blobs, m_clock, std::chrono::milliseconds(10));
    EXPECT_FALSE(fs::exists(before));

    const fs::path after = writeOrphan(m_blobs, 'b');
    test::pollUntil([&] { return !fs::exists(after); });
    EXPECT_FALSE(fs::exists(after));
}

TEST_F(HousekeeperTest, StopsAtOnceWhateverTheInterval)
{
    const auto start = std::chrono::steady_clock::now();
    {
        const Housekeeper housekeeper(m_store, m_blobs, m_clock, std::chrono::hours(1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Outbox, StaysBoundedWithOneBackupAndTheNewestCodeInTheFile)
{
    const test::TempDir dir;
    const fs::path file = dir.path() / "outbox.log";
    Outbox outbox(file, 100);
    const std::string line = "u@example.com 123456\n";  // 21 bytes
    for (int i = 0; i < 12; ++i) {
        outbox.sendCode("u@example.com", std::to_string(100000 + i));
        EXPECT_LE(fs::file_size(file), 100u);
    }
    std::ifstream current(file);
    std::string last;
    for (std::string read; std::getline(current, read);) {
        last = read;
    }
    EXPECT_EQ(last, "u@example.com 100011");
    EXPECT_EQ(fs::file_size(dir.path() / "outbox.log.1"), 4 * line.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace corvane::server
