// The Account tab's measure of the sync folder, on real files in a temporary folder.
#include "MenuBar/AccountTabUsage.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

class LocalFolderUsageTest : public testing::Test {
protected:
    void write(const std::string& relative, const std::string& content)
    {
        const fs::path path = root() / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    void folder(const std::string& relative) { fs::create_directories(root() / relative); }

    // The size of the entry itself, a link not followed.
    std::int64_t ownSize(const std::string& relative) const
    {
        struct stat info {};
        EXPECT_EQ(::lstat((root() / relative).c_str(), &info), 0) << relative;
        return info.st_size;
    }

    std::int64_t ownSizes(std::initializer_list<const char*> entries) const
    {
        std::int64_t total = 0;
        for (const char* entry : entries) {
            total += ownSize(entry);
        }
        return total;
    }

    fs::path root() const { return m_dir.path() / "Corvane"; }

    std::optional<LocalFolderUsage> measure() const { return measureLocalFolder(root()); }

private:
    TempDir m_dir;
};

TEST_F(LocalFolderUsageTest, CountsFilesOutsideHiddenPathsAndAddsTheSizesOfFoldersToo)
{
    write("a.txt", "alpha");
    write(".hidden", "secret");
    write("docs/b.txt", std::string(1234, 'b'));
    write("docs/.git/config", "[core]");
    write("pkg.app/Contents/x", std::string(70000, 'x'));
    write(".corvane/sync_state.json", std::string(5000, '{'));

    const auto usage = measure();
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->fileCount, 3);
    EXPECT_EQ(usage->totalBytes, ownSizes({"a.txt", "docs", "docs/b.txt", "pkg.app",
                                           "pkg.app/Contents", "pkg.app/Contents/x"}));
    EXPECT_EQ(localFileCountText(usage), "3 files");
}

TEST_F(LocalFolderUsageTest, LinksCountByWhatTheyPointToAndAddTheirOwnSize)
{
    write("docs/b.txt", "bravo");
    write("c.txt", "charlie");
    fs::create_directory_symlink("docs", root() / "to-docs");
    fs::create_symlink("c.txt", root() / "to-c");
    fs::create_symlink("nowhere", root() / "broken");

    const auto usage = measure();
    ASSERT_TRUE(usage);
    // b.txt once (the link to its folder is not walked into), c.txt, the link to it, the
    // broken link.
    EXPECT_EQ(usage->fileCount, 4) << *usage;
    EXPECT_EQ(usage->totalBytes,
              ownSizes({"docs", "docs/b.txt", "c.txt", "to-docs", "to-c", "broken"}));
}

TEST_F(LocalFolderUsageTest, ASyncFolderReachedThroughALinkIsWalked)
{
    write("a.txt", "alpha");
    const fs::path link = root().parent_path() / "link";
    fs::create_directory_symlink(root(), link);
    EXPECT_EQ(measureLocalFolder(link), measure());
}

TEST_F(LocalFolderUsageTest, EmptyMissingAndSingleFileFolders)
{
    EXPECT_EQ(measure(), std::nullopt);
    EXPECT_EQ(localFileCountText(measure()), "0 files");
    EXPECT_EQ(localFolderSizeText(measure()), "0 B");

    folder("");
    EXPECT_EQ(measure(), (LocalFolderUsage{0, 0}));
    EXPECT_EQ(localFileCountText(measure()), "0 files");
    EXPECT_EQ(localFolderSizeText(measure()), "0 bytes");

    write("one.txt", std::string(2500, '1'));
    EXPECT_EQ(measure(), (LocalFolderUsage{1, 2500}));
    EXPECT_EQ(localFileCountText(measure()), "1 files");
    EXPECT_EQ(localFolderSizeText(measure()), "2.5 KB");
}

TEST_F(LocalFolderUsageTest, AFileInPlaceOfTheFolderIsNotAFolder)
{
    fs::create_directories(root().parent_path());
    std::ofstream(root()) << "not a folder";
    EXPECT_EQ(measure(), std::nullopt);
}

TEST_F(LocalFolderUsageTest, AStopRequestEndsTheWalk)
{
    write("a.txt", "alpha");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(measureLocalFolder(root(), stop.get_token()), (LocalFolderUsage{0, 0}));
}

// Runs the walk in a child process that cannot read what its owner cannot, even when the
// tests run as root.
std::optional<LocalFolderUsage> measureUnprivileged(const fs::path& folder)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe";
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        const auto usage = measureLocalFolder(folder);
        const std::int64_t answer[3] = {usage ? 1 : 0, usage ? usage->fileCount : 0,
                                        usage ? usage->totalBytes : 0};
        const bool written = ::write(pipeEnds[1], answer, sizeof answer) == sizeof answer;
        ::_exit(written ? 0 : 3);
    }
    ::close(pipeEnds[1]);
    std::int64_t answer[3] = {};
    const auto got = ::read(pipeEnds[0], answer, sizeof answer);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(got, static_cast<ssize_t>(sizeof answer));
    if (answer[0] == 0) {
        return std::nullopt;
    }
    return LocalFolderUsage{answer[1], answer[2]};
}

TEST_F(LocalFolderUsageTest, AnUnreadableSubfolderAddsItselfButNoneOfItsContents)
{
    write("a.txt", "alpha");
    write("locked/inside.txt", "never seen");
    write("locked/deeper/more.txt", "never seen either");
    // The child reading as another user must reach the folder.
    for (fs::path path = root(); path != root().parent_path().parent_path();
         path = path.parent_path()) {
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    const std::int64_t expected = ownSizes({"a.txt", "locked"});
    fs::permissions(root() / "locked", fs::perms::none);

    const auto usage = measureUnprivileged(root());
    fs::permissions(root() / "locked", fs::perms::owner_all);
    EXPECT_EQ(usage, (LocalFolderUsage{1, expected}));
}

}  // namespace
}  // namespace corvane::test
