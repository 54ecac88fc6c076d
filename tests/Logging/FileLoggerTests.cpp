#include "Logging/FileLogger.h"

#include <csignal>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Logging/LogLine.h"
#include "LoggingTestSupport.h"
#include "support/FileModes.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::fileContents;
using test::kStart;
using test::splitLines;

// A line of exactly `length` bytes, line feed included, as the logger writes it at kStart.
std::string messageForLineOf(std::size_t length)
{
    const std::size_t overhead = LogLine::format(kStart, LogLevel::info, "sync", "").size();
    return std::string(length - overhead, 'x');
}

class FileLoggerTest : public test::LoggerTest {};

TEST_F(FileLoggerTest, WritesOneLinePerEntryAndEchoesIt)
{
    {
        auto logger = makeLogger();
        logger->info("sync", "file uploaded", {{"path", "/a.txt"}, {"size", 12}});
        logger->error("auth", "sign-in failed");
    }
    const std::string expected = "2024-05-01T09:30:00Z [INFO] [sync] file uploaded path=/a.txt "
                                 "size=12\n2024-05-01T09:30:00Z [ERROR] [auth] sign-in failed\n";
    EXPECT_EQ(fileContents(logFile()), expected);
    EXPECT_EQ(echo.text(), expected);
}

TEST_F(FileLoggerTest, CreatesAPrivateFolderAndFile)
{
    auto logger = makeLogger();
    // XDG_STATE_HOME did not exist either: every folder the logger creates is owner-only.
    EXPECT_EQ(test::permissionBits(Paths::logs()), 0700u);
    EXPECT_EQ(test::permissionBits(Paths::logs().parent_path()), 0700u);
    EXPECT_EQ(test::permissionBits(logFile()), 0600u);
    EXPECT_EQ(fileContents(logFile()), "");
}

TEST_F(FileLoggerTest, DropsEntriesBelowTheThreshold)
{
    auto logger = makeLogger();
    EXPECT_EQ(logger->level(), LogLevel::info);
    logger->debug("sync", "not written");
    logger->flush();
    EXPECT_EQ(fileContents(logFile()), "");
    EXPECT_EQ(echo.text(), "");

    logger->setLevel(LogLevel::warn);
    logger->info("sync", "not written either");
    logger->warn("sync", "written");
    logger->setLevel(LogLevel::debug);
    logger->debug("sync", "now written");
    logger->flush();
    EXPECT_EQ(fileContents(logFile()), "2024-05-01T09:30:00Z [WARN] [sync] written\n"
                                       "2024-05-01T09:30:00Z [DEBUG] [sync] now written\n");
}

TEST_F(FileLoggerTest, TextFromOutsideCannotForgeALine)
{
    auto logger = makeLogger();
    const std::string forged = "\n2024-05-01T09:30:00Z [ERROR] [auth] token=abc";
    logger->info("sync" + forged, "file downloaded" + forged, {{"path" + forged, "/x" + forged}});
    logger->flush();
    const auto lines = splitLines(fileContents(logFile()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("2024-05-01T09:30:00Z [INFO] [sync\\n2024", 0), 0u) << lines[0];
    EXPECT_EQ(echo.text(), fileContents(logFile()));
}

TEST_F(FileLoggerTest, AppendsToAnExistingFileAndCountsItsLength)
{
    test::writeFileContents(logFile(), "earlier line\n");
    const std::string line = LogLine::format(kStart, LogLevel::info, "sync", "next");
    {
        // The existing 13 bytes plus this line pass the limit by one.
        auto logger = makeLogger(13 + line.size() - 1);
        logger->info("sync", "next");
    }
    EXPECT_EQ(fileContents(backupAt(kStart)), "earlier line\n");
    EXPECT_EQ(fileContents(logFile()), line);
}

// Lines totalling the limit plus `extra` bytes, with the real limit of 10485760 bytes.
class RotationBoundaryTest : public test::LoggerTest,
                             public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RotationBoundaryTest, RotatesOnlyWhenTheNextLinePassesTheLimit)
{
    const std::size_t extra = GetParam();
    const std::string last = LogLine::format(kStart, LogLevel::info, "sync", "last");
    const std::string firstMessage = messageForLineOf(FileLogger::kMaxSize + extra - last.size());
    {
        test::CapturedEcho discard;
        FileLogger::Options options;
        options.now = clock.function();
        options.echo = discard.file();
        FileLogger logger(std::move(options));
        logger.info("sync", firstMessage);
        logger.info("sync", "last");
    }
    if (extra == 0) {
        EXPECT_EQ(fs::file_size(logFile()), FileLogger::kMaxSize);
        EXPECT_EQ(test::namesIn(Paths::logs()), std::vector<std::string>{"corvane.log"});
    } else {
        EXPECT_EQ(fs::file_size(backupAt(kStart)), FileLogger::kMaxSize + extra - last.size());
        EXPECT_EQ(fileContents(logFile()), last);  // the crossing line opens the new file
    }
}

INSTANTIATE_TEST_SUITE_P(ExactlyAndOneMore, RotationBoundaryTest, ::testing::Values(0u, 1u));

TEST_F(FileLoggerTest, AnOversizedLineRotatesEvenAnEmptyFile)
{
    auto logger = makeLogger(100);
    const std::string big = messageForLineOf(300);
    logger->info("sync", big);
    logger->flush();
    EXPECT_EQ(fileContents(backupAt(kStart)), "");  // the empty file became a backup
    EXPECT_EQ(fileContents(logFile()), LogLine::format(kStart, LogLevel::info, "sync", big));

    clock.advance();
    logger->info("sync", "small");
    logger->flush();
    EXPECT_EQ(fileContents(backupAt(kStart + std::chrono::seconds(1))),
              LogLine::format(kStart, LogLevel::info, "sync", big));
    EXPECT_EQ(splitLines(fileContents(logFile())).size(), 1u);
}

TEST_F(FileLoggerTest, TwoRotationsInOneSecondKeepTheFirstBackup)
{
    auto logger = makeLogger(100);
    const std::string message = messageForLineOf(60);
    const auto lineOf = [&](char tag) {
        std::string text = message;
        text.back() = tag;
        return text;
    };
    logger->info("sync", lineOf('1'));
    logger->info("sync", lineOf('2'));  // rotates: the backup of this second holds line 1
    logger->info("sync", lineOf('3'));  // the name is taken: the current file goes on
    logger->info("sync", lineOf('4'));
    logger->flush();
    const auto format = [&](char tag) {
        return LogLine::format(kStart, LogLevel::info, "sync", lineOf(tag));
    };
    EXPECT_EQ(fileContents(backupAt(kStart)), format('1'));
    EXPECT_EQ(fileContents(logFile()), format('2') + format('3') + format('4'));

    clock.advance();
    logger->info("sync", lineOf('5'));  // a new second gives a free name
    logger->flush();
    EXPECT_EQ(fileContents(backupAt(kStart)), format('1'));
    EXPECT_EQ(fileContents(backupAt(kStart + std::chrono::seconds(1))),
              format('2') + format('3') + format('4'));
    EXPECT_EQ(fileContents(logFile()),
              LogLine::format(clock.now(), LogLevel::info, "sync", lineOf('5')));
}

TEST_F(FileLoggerTest, SevenRotationsLeaveTheFiveNewestBackups)
{
    auto logger = makeLogger(100);
    const std::string message = messageForLineOf(60);
    logger->info("sync", message);
    for (int i = 1; i <= 7; ++i) {
        logger->flush();  // rotations take their stamp when the queue gets to them
        clock.advance();
        logger->info("sync", message);
    }
    logger->flush();
    std::vector<std::string> expected;
    for (int i = 3; i <= 7; ++i) {
        expected.push_back(backupAt(kStart + std::chrono::seconds(i)).filename().string());
    }
    expected.push_back("corvane.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::namesIn(Paths::logs()), expected);
}

TEST_F(FileLoggerTest, SurplusBackupsStayUntilTheNextRotation)
{
    const std::vector<std::string> old{"corvane.log.20200101-000001",
                                       "corvane.log.20200101-000002",
                                       "corvane.log.20200101-000003",
                                       "corvane.log.20200101-000004",
                                       "corvane.log.20200101-000005",
                                       "corvane.log.20200101-000006",
                                       "corvane.log.stray"};
    for (const auto& name : old) {
        test::writeFileContents(Paths::logs() / name, name + "\n");
    }
    test::writeFileContents(Paths::logs() / "corvane.logs-other", "");  // no dot: never a backup
    auto logger = makeLogger(100);
    logger->info("sync", "short");
    logger->flush();
    EXPECT_EQ(test::namesIn(Paths::logs()).size(), old.size() + 2);

    logger->info("sync", messageForLineOf(90));
    logger->flush();
    // Text order puts the stray file after every stamped backup, so it survives the cleanup.
    EXPECT_EQ(test::namesIn(Paths::logs()),
              (std::vector<std::string>{
                  "corvane.log", "corvane.log.20200101-000004", "corvane.log.20200101-000005",
                  "corvane.log.20200101-000006", backupAt(kStart).filename().string(),
                  "corvane.log.stray", "corvane.logs-other"}));
}

TEST_F(FileLoggerTest, WithoutAFileLinesStillEchoAndOpeningIsRetriedAtTheLimit)
{
    // The log folder's place is taken by a plain file: no folder, no log file.
    test::writeFileContents(Paths::logs(), "not a folder");
    auto logger = makeLogger(100);
    logger->info("sync", "first");
    logger->info("sync", "second");
    logger->flush();
    EXPECT_EQ(echo.text(), LogLine::format(kStart, LogLevel::info, "sync", "first") +
                               LogLine::format(kStart, LogLevel::info, "sync", "second"));

    // The lines were counted: once they pass the limit, the rotation opens the file again.
    fs::remove(Paths::logs());
    logger->info("sync", "third");
    logger->flush();
    EXPECT_EQ(fileContents(logFile()), LogLine::format(kStart, LogLevel::info, "sync", "third"));
    EXPECT_EQ(splitLines(echo.text()).size(), 3u);
}

// The shared logger in a child process whose standard output is a pipe nobody reads any more:
// the echo fails (on a write while logging and on the flush at exit), yet every line reaches the
// file and the child ends normally. No test of this program may have touched the shared logger
// before: the child would inherit it without its queue's thread.
TEST(SharedFileLoggerTest, AClosedStandardOutputNeitherEndsTheProcessNorLosesLines)
{
    constexpr int kLines = 300;  // several times the pipe's stdio buffer
    test::TempHome home;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[1]);
        for (int i = 0; i < kLines; ++i) {
            FileLogger::shared().info("sync", "line", {{"n", i}});
        }
        std::exit(0);  // the exit handler writes the lines still queued
    }
    ::close(pipeEnds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                : "exit status " + std::to_string(WEXITSTATUS(status)));
    const auto lines = splitLines(fileContents(Paths::logs() / "corvane.log"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kLines));
    EXPECT_TRUE(lines.back().ends_with(" [INFO] [sync] line n=" + std::to_string(kLines - 1)))
        << lines.back();
}

}  // namespace
}  // namespace corvane
