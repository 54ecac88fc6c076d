#include "Platform/UniqueFd.h"

#include <cerrno>
#include <string>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace corvane {
namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

int openNull()
{
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    return fd;
}

TEST(UniqueFdTest, ClosesWhatItHoldsWhenItGoes)
{
    int fd = -1;
    {
        const UniqueFd owned(openNull());
        fd = owned.get();
        EXPECT_TRUE(owned.valid());
        EXPECT_TRUE(isOpen(fd));
    }
    EXPECT_FALSE(isOpen(fd));
}

TEST(UniqueFdTest, AMoveHandsOverOwnership)
{
    UniqueFd first(openNull());
    const int fd = first.get();
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): a moved-from one holds none
    EXPECT_EQ(second.get(), fd);

    UniqueFd third(openNull());
    const int replaced = third.get();
    third = std::move(second);
    EXPECT_EQ(third.get(), fd);
    EXPECT_FALSE(isOpen(replaced));
    EXPECT_TRUE(isOpen(fd));
}

TEST(UniqueFdTest, CloseReportsItsResultAndLeavesNothingHeld)
{
    UniqueFd owned(openNull());
    const int fd = owned.get();
    EXPECT_EQ(owned.close(), 0);
    EXPECT_FALSE(owned);
    EXPECT_FALSE(isOpen(fd));
    EXPECT_EQ(owned.close(), 0);  // nothing held: nothing to report

    UniqueFd invalid(1 << 20);  // far above any open descriptor
    EXPECT_EQ(invalid.close(), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(UniqueFdTest, ReleaseGivesUpWithoutClosingAndResetTakesAnother)
{
    UniqueFd owned(openNull());
    const int fd = owned.release();
    EXPECT_FALSE(owned.valid());
    EXPECT_TRUE(isOpen(fd));

    owned.reset(fd);
    owned.reset(fd);  // the same descriptor again is kept, not closed
    EXPECT_TRUE(isOpen(fd));
    owned.reset();
    EXPECT_FALSE(isOpen(fd));
}

TEST(UniqueFdTest, WriteAllWritesEveryByteOrReportsTheError)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const UniqueFd reader(fds[0]);
    const UniqueFd writer(fds[1]);
    const std::string bytes(10000, 'x');
    ASSERT_TRUE(writer.writeAll(bytes));
    std::string read(bytes.size() + 1, '\0');
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t count = ::read(reader.get(), read.data() + total, read.size() - total);
        ASSERT_GT(count, 0);
        total += static_cast<std::size_t>(count);
    }
    EXPECT_EQ(read.substr(0, total), bytes);

    const UniqueFd readOnly(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    errno = 0;
    EXPECT_FALSE(readOnly.writeAll("x"));
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(readOnly.writeAll(""));  // nothing to write: nothing can fail
}

}  // namespace
}  // namespace corvane
