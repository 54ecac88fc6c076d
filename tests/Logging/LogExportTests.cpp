#include "Logging/FileLogger.h"

#include <future>
#include <regex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "LoggingTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using test::fileContents;
using test::kStart;
using test::ZipEntry;

class LogExportTest : public test::LoggerTest {
protected:
    fs::path syncDir() const { return home.path() / "Corvane"; }
    fs::path stateFile() const { return syncDir() / ".corvane/sync_state.json"; }
    fs::path expectedZip()
    {
        return Paths::desktop() / ("corvane-logs-" + test::localStampOf(clock.now()) + ".zip");
    }
    // Leaves the current file and three backups, one per second.
    std::unique_ptr<FileLogger> loggerWithThreeBackups()
    {
        auto logger = makeLogger(100);
        for (int i = 0; i < 4; ++i) {
            logger->info("sync", std::string(50, static_cast<char>('a' + i)), {{"n", i}});
            logger->flush();  // rotations take their stamp when the queue gets to them
            clock.advance();
        }
        return logger;
    }
    // The log entries expected in the zip: newest backup first, the current file last.
    std::vector<ZipEntry> logEntries() const
    {
        std::vector<ZipEntry> entries{{"logs/", ""}};
        for (int i = 3; i >= 1; --i) {
            const fs::path backup = backupAt(kStart + seconds(i));
            entries.push_back({"logs/" + backup.filename().string(), fileContents(backup)});
        }
        entries.push_back({"logs/corvane.log", fileContents(logFile())});
        return entries;
    }
};

TEST_F(LogExportTest, ListsTheCurrentFileLastAndTheNewestBackupFirst)
{
    auto logger = loggerWithThreeBackups();
    logger->flush();
    EXPECT_EQ(logger->allLogFiles(),
              (std::vector<fs::path>{backupAt(kStart + seconds(3)), backupAt(kStart + seconds(2)),
                                     backupAt(kStart + seconds(1)), logFile()}));
}

struct ExportCase {
    bool withStateFile;
    bool trailingSlash;
};

class LogExportLayoutTest : public LogExportTest,
                            public ::testing::WithParamInterface<ExportCase> {};

TEST_P(LogExportLayoutTest, HoldsEveryLogFileAndTheStateFileWhenPresent)
{
    const auto [withStateFile, trailingSlash] = GetParam();
    const std::string state = R"({"/a.txt":{"hash":"00","version":1,"mtime":"x"}})";
    if (withStateFile) {
        test::writeFileContents(stateFile(), state);
    }
    auto logger = loggerWithThreeBackups();
    const fs::path dir = trailingSlash ? fs::path(syncDir().string() + "/") : syncDir();

    const auto zip = logger->exportLogs(dir);

    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(*zip, expectedZip());
    EXPECT_TRUE(
        std::regex_match(zip->filename().string(), std::regex(R"(corvane-logs-\d{8}-\d{6}\.zip)")));
    auto expected = logEntries();
    if (withStateFile) {
        expected.push_back({"sync_state.json", state});
    }
    EXPECT_EQ(test::readZip(*zip), expected);
    EXPECT_EQ(test::namesIn(Paths::desktop()), std::vector<std::string>{zip->filename().string()});
}

INSTANTIATE_TEST_SUITE_P(Cases, LogExportLayoutTest,
                         ::testing::Values(ExportCase{true, false}, ExportCase{true, true},
                                           ExportCase{false, false}));

TEST_F(LogExportTest, BeforeAnythingIsLoggedHoldsTheEmptyCurrentFile)
{
    auto logger = makeLogger();
    const auto zip = logger->exportLogs(syncDir());
    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(test::readZip(*zip),
              (std::vector<ZipEntry>{{"logs/", ""}, {"logs/corvane.log", ""}}));
}

TEST_F(LogExportTest, HoldsLinesLoggedJustBefore)
{
    auto logger = makeLogger();
    for (int i = 0; i < 1000; ++i) {
        logger->info("sync", "line", {{"n", i}});
    }
    const auto zip = logger->exportLogs(syncDir());
    ASSERT_TRUE(zip.has_value());
    const auto entries = test::readZip(*zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(test::splitLines(entries[1].bytes).size(), 1000u);
}

TEST_F(LogExportTest, UsesTheUsersDesktopFolder)
{
    test::writeFileContents(home.path() / ".config/user-dirs.dirs",
                            "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    auto logger = makeLogger();
    const auto zip = logger->exportLogs(syncDir());
    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(zip->parent_path(), home.path() / "Schreibtisch");
    EXPECT_TRUE(fs::is_regular_file(*zip));
}

// A zip that cannot be written completely is not reported, and nothing of it stays behind.
TEST_F(LogExportTest, AFailedExportReturnsNoPathAndLeavesNoFile)
{
    auto logger = makeLogger();
    logger->info("sync", "something");

    // The Desktop's place is taken by a plain file.
    test::writeFileContents(Paths::desktop(), "not a folder");
    EXPECT_EQ(logger->exportLogs(syncDir()), std::nullopt);
    EXPECT_EQ(fileContents(Paths::desktop()), "not a folder");
    fs::remove(Paths::desktop());

    // The zip's own name is taken by a folder: the finished archive cannot be moved there.
    fs::create_directories(expectedZip());
    EXPECT_EQ(logger->exportLogs(syncDir()), std::nullopt);
    EXPECT_EQ(test::namesIn(Paths::desktop()),
              std::vector<std::string>{expectedZip().filename().string()});
    EXPECT_TRUE(fs::is_empty(expectedZip()));
}

TEST_F(LogExportTest, WithNothingToPackReturnsNoPathAndMakesNoFolder)
{
    // The log folder's place is taken by a plain file, and there is no state file.
    test::writeFileContents(Paths::logs(), "not a folder");
    auto logger = makeLogger();
    EXPECT_EQ(logger->exportLogs(syncDir()), std::nullopt);
    EXPECT_FALSE(fs::exists(Paths::desktop()));
}

// A FIFO under a log file's name or the state file's is left out at once: opening one to read
// would wait for a writer that never comes, stalling the export and, for a log file, every
// logging thread behind the logger's queue.
TEST_F(LogExportTest, LeavesOutWhatIsNoRegularFileWithoutWaitingForIt)
{
    auto logger = makeLogger();
    logger->info("sync", "something");
    const fs::path fifos[] = {Paths::logs() / "corvane.log.fifo", stateFile()};
    fs::create_directories(stateFile().parent_path());
    for (const fs::path& fifo : fifos) {
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << fifo;
    }

    auto exported = std::async(std::launch::async, [&] { return logger->exportLogs(syncDir()); });
    const bool waited = exported.wait_for(seconds(10)) != std::future_status::ready;
    // Should it wait after all, a writer coming and going ends each wait, so the test can end.
    while (exported.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        for (const fs::path& fifo : fifos) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    ASSERT_FALSE(waited) << "the export waited for a FIFO";
    const auto zip = exported.get();
    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(
        test::readZip(*zip),
        (std::vector<ZipEntry>{{"logs/", ""}, {"logs/corvane.log", fileContents(logFile())}}));
}

}  // namespace
}  // namespace corvane
