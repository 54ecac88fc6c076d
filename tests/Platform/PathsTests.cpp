#include "Platform/Paths.h"

#include <cstdlib>
#include <fstream>

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace corvane {
namespace {

TEST(PathsTest, FollowsTheXdgFolders)
{
    test::TempHome home;
    EXPECT_EQ(Paths::home(), home.path());
    EXPECT_EQ(Paths::applicationSupport(), home.path() / ".local/share/Corvane");
    EXPECT_EQ(Paths::logs(), home.path() / ".local/state/Corvane");
    EXPECT_EQ(Paths::config(), home.path() / ".config/Corvane");
}

TEST(PathsTest, WithoutHomeTheAccountsHomeFolderIsUsed)
{
    test::TempHome home;  // restores HOME afterwards
    unsetenv("HOME");
    const passwd* account = getpwuid(getuid());
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(Paths::home(), account->pw_dir);
}

TEST(PathsTest, RelativeXdgValuesAreIgnored)
{
    test::TempHome home;
    setenv("XDG_STATE_HOME", "relative/state", 1);
    EXPECT_EQ(Paths::logs(), home.path() / ".local/state/Corvane");
}

TEST(PathsTest, DesktopComesFromUserDirsElseHome)
{
    test::TempHome home;
    EXPECT_EQ(Paths::desktop(), home.path() / "Desktop");

    std::filesystem::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config/user-dirs.dirs")
        << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    EXPECT_EQ(Paths::desktop(), home.path() / "Schreibtisch");
}

}  // namespace
}  // namespace corvane
