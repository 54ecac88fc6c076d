#include "Logging/FileLogger.h"

#include <regex>
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
        total += checkLines(test::readFile(file), next);
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

}  // namespace
}  // namespace corvane
