#include "Logging/FileLogger.h"

#include <latch>
#include <regex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "LoggingTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 8;
const std::regex kLine(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \[INFO\] \[t(\d)\] line (\d+) pad=x+)");

// Every file's lines must be whole; per thread, the numbers must rise by one from 0.
// Returns the number of lines seen.
int checkLines(const std::string& text, std::vector<int>& nextPerThread)
{
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "torn last line";
    int count = 0;
    for (const std::string& line : test::splitLines(text)) {
        std::smatch match;
        if (!std::regex_match(line, match, kLine)) {
            ADD_FAILURE() << "torn line: " << line;
            continue;
        }
        const int thread = std::stoi(match[1]);
        const int number = std::stoi(match[2]);
        EXPECT_EQ(number, nextPerThread.at(static_cast<std::size_t>(thread))) << line;
        nextPerThread[static_cast<std::size_t>(thread)] = number + 1;
        ++count;
    }
    return count;
}

void logFromThreads(FileLogger& logger, int linesPerThread)
{
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&logger, t, linesPerThread] {
            const std::string module = "t" + std::to_string(t);
            for (int i = 0; i < linesPerThread; ++i) {
                logger.info(module, "line " + std::to_string(i), {{"pad", std::string(20, 'x')}});
            }
        });
    }
}

class FileLoggerConcurrencyTest : public test::LoggerTest {
protected:
    // Every reading is a new second: no backup name clashes.
    FileLoggerConcurrencyTest() : LoggerTest(true) {}
};

TEST_F(FileLoggerConcurrencyTest, ManyThreadsWhileRotatingLoseAndTearNoLine)
{
    constexpr int kLinesPerThread = 1500;
    auto logger = makeLogger(256 * 1024);
    logFromThreads(*logger, kLinesPerThread);
    logger->flush();

    auto files = logger->allLogFiles();  // newest backup first, current file last
    ASSERT_GE(files.size(), 3u) << "expected some rotations";
    ASSERT_LE(files.size(), 1 + FileLogger::kMaxBackups) << "lines would have been dropped";
    std::reverse(files.begin(), files.end() - 1);  // oldest backup first
    std::vector<int> next(kThreads, 0);
    int total = 0;
    for (const fs::path& file : files) {
        EXPECT_LE(fs::file_size(file), 256u * 1024u) << file;
        total += checkLines(test::fileContents(file), next);
    }
    EXPECT_EQ(total, kThreads * kLinesPerThread);
    std::vector<int> echoed(kThreads, 0);
    EXPECT_EQ(checkLines(echo.text(), echoed), kThreads * kLinesPerThread);
}

TEST_F(FileLoggerConcurrencyTest, ExportsDuringRotationsHoldWholeLines)
{
    auto logger = makeLogger(4096);
    // Stopped and joined however the test ends, before the logger goes.
    const std::jthread writers([&](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            logFromThreads(*logger, 50);
        }
    });
    for (int i = 0; i < 20; ++i) {
        const auto zip = logger->exportLogs(home.path() / "Corvane");
        ASSERT_TRUE(zip.has_value());
        for (const auto& entry : test::readZip(*zip)) {
            if (entry.name == "logs/") {
                continue;
            }
            // Numbers restart with each batch of threads, so only wholeness is checked here.
            EXPECT_TRUE(entry.bytes.empty() || entry.bytes.back() == '\n') << entry.name;
            for (const std::string& line : test::splitLines(entry.bytes)) {
                EXPECT_TRUE(std::regex_match(line, kLine)) << entry.name << ": " << line;
            }
        }
    }
}

// Two exports at once, from two threads. In different seconds both write their own zip; in the
// same second they share the zip's name, and the one that comes second neither replaces the
// first one's zip nor reports it as its own. Either way no temporary file stays behind.
class ConcurrentExportTest : public test::LoggerTest, public ::testing::WithParamInterface<bool> {
protected:
    // GetParam(): every reading of the clock is a new second.
    ConcurrentExportTest() : LoggerTest(GetParam()) {}
};

TEST_P(ConcurrentExportTest, EachZipIsWholeAndNoneReplacesAnother)
{
    const bool ownSeconds = GetParam();
    constexpr int kRounds = 20;
    auto logger = makeLogger();
    for (int i = 0; i < 200; ++i) {
        logger->info("t0", "line " + std::to_string(i), {{"pad", std::string(20, 'x')}});
    }
    logger->flush();
    const std::string logged = test::fileContents(logFile());

    std::set<fs::path> zips;
    for (int round = 0; round < kRounds; ++round) {
        std::optional<fs::path> results[2];
        std::latch start(2);
        {
            std::vector<std::jthread> exporters;
            for (auto& result : results) {
                exporters.emplace_back([&] {
                    start.arrive_and_wait();
                    result = logger->exportLogs(home.path() / "Corvane");
                });
            }
        }
        const int written = (results[0] ? 1 : 0) + (results[1] ? 1 : 0);
        EXPECT_EQ(written, ownSeconds ? 2 : 1) << "round " << round;
        for (const auto& result : results) {
            if (result) {
                EXPECT_TRUE(zips.insert(*result).second) << *result << " reported twice";
                EXPECT_EQ(
                    test::readZip(*result),
                    (std::vector<test::ZipEntry>{{"logs/", ""}, {"logs/corvane.log", logged}}));
            }
        }
        clock.advance();
    }
    std::vector<std::string> expected;
    for (const fs::path& zip : zips) {
        expected.push_back(zip.filename().string());
    }
    EXPECT_EQ(test::namesIn(Paths::desktop()), expected);
}

INSTANTIATE_TEST_SUITE_P(SameOrOwnSecond, ConcurrentExportTest, ::testing::Bool());

}  // namespace
}  // namespace corvane
