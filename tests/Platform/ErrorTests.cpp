#include "Platform/Error.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ErrorTest, FileErrorsCarryTheActionThePathAndTheSystemsText)
{
    const FileError error("Cannot open", "/home/u/a.txt", ENOENT);
    EXPECT_EQ(error.localizedDescription(),
              "Cannot open \"/home/u/a.txt\": No such file or directory");
    EXPECT_EQ(error.errorNumber(), ENOENT);
    EXPECT_EQ(systemErrorText(EACCES), "Permission denied");
    EXPECT_EQ(systemErrorText(99999), "Unknown error 99999");
}

}  // namespace
}  // namespace corvane
