#include "Platform/UniqueFd.h"

#include <cerrno>
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

}  // namespace
}  // namespace corvane
