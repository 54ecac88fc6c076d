// The layers of the desktop session that need no bus: the autostart entry, the instance lock
// and the termination signals.
#include <cerrno>
#include <filesystem>
#include <fstream>

#include <signal.h>

#include <gtest/gtest.h>

#include "Platform/Error.h"
#include "Platform/InstanceLock.h"
#include "Platform/TerminationSignals.h"
#include "Platform/XdgAutostartLoginItem.h"
#include "support/FileContents.h"
#include "support/ScopedEnv.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// The Exec line a program path gives: quoted, reserved characters escaped for the desktop entry
// format and then for its string values.
struct ExecCase {
    const char* path;
    const char* exec;
};

class AutostartExecTest : public testing::TestWithParam<ExecCase> {};

INSTANTIATE_TEST_SUITE_P(
    Paths, AutostartExecTest,
    testing::Values(ExecCase{"/usr/bin/corvane", R"(Exec="/usr/bin/corvane")"},
                    ExecCase{"/opt/My Apps/corvane", R"(Exec="/opt/My Apps/corvane")"},
                    ExecCase{"/opt/a\"b`c$d/corvane", R"(Exec="/opt/a\\"b\\`c\\$d/corvane")"},
                    ExecCase{"/opt/back\\slash/corvane", R"(Exec="/opt/back\\\\slash/corvane")"},
                    ExecCase{"/opt/100%/corvane", R"(Exec="/opt/100%%/corvane")"}));

TEST_P(AutostartExecTest, TheEntryStartsTheProgramByItsAbsolutePath)
{
    const std::string text = XdgAutostartLoginItem::entryText(GetParam().path);
    EXPECT_NE(text.find(std::string("\n") + GetParam().exec + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
}

class AutostartTest : public testing::Test {
protected:
    TempHome home;
    XdgAutostartLoginItem item{"/usr/bin/corvane"};
    fs::path entry = home.path() / ".config" / "autostart" / "corvane.desktop";
};

TEST_F(AutostartTest, TheEntryIsReadAfreshOnEveryQuestion)
{
    EXPECT_EQ(XdgAutostartLoginItem::entryPath(), entry);
    EXPECT_FALSE(item.isRegistered());
    item.registerItem();
    EXPECT_TRUE(item.isRegistered());
    EXPECT_EQ(fileContents(entry), XdgAutostartLoginItem::entryText("/usr/bin/corvane"));

    // Changes made by the user or another program count at once.
    fs::remove(entry);
    EXPECT_FALSE(item.isRegistered());
    std::ofstream(entry) << "[Desktop Entry]\nType=Application\nExec=corvane\n";
    EXPECT_TRUE(item.isRegistered());
    std::ofstream(entry) << "[Desktop Entry]\nExec=corvane\nHidden=true\n";
    EXPECT_FALSE(item.isRegistered());
    std::ofstream(entry) << "[Desktop Entry]\nExec=corvane\nX-GNOME-Autostart-enabled = false\n";
    EXPECT_FALSE(item.isRegistered());
    std::ofstream(entry) << "[Other Group]\nHidden=true\n[Desktop Entry]\nExec=corvane\n";
    EXPECT_TRUE(item.isRegistered());

    item.unregisterItem();
    EXPECT_FALSE(fs::exists(entry));
    item.unregisterItem();  // nothing to remove is no failure
}

TEST_F(AutostartTest, ChangesThatCannotBeMadeThrowTheReason)
{
    fs::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config" / "autostart") << "in the way";
    EXPECT_THROW(item.registerItem(), Error);
    EXPECT_FALSE(item.isRegistered());

    fs::remove(home.path() / ".config" / "autostart");
    fs::create_directories(entry / "occupied");
    EXPECT_THROW(item.unregisterItem(), FileError);
    EXPECT_THROW(XdgAutostartLoginItem("relative/corvane").registerItem(), Error);
}

TEST(InstanceLockTest, OneHolderAtATimeUntilItGoes)
{
    TempDir runtime;
    const ScopedEnv variable("XDG_RUNTIME_DIR", runtime.path().string());
    EXPECT_EQ(InstanceLock::lockPath(), runtime.path() / "corvane.lock");
    {
        auto first = InstanceLock::acquire();
        ASSERT_TRUE(first);
        EXPECT_FALSE(InstanceLock::acquire());
    }
    EXPECT_TRUE(InstanceLock::acquire());
}

TEST(InstanceLockTest, WithoutARuntimeFolderTheStateFolderHoldsTheLock)
{
    TempHome home;
    const ScopedEnv variable("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(InstanceLock::lockPath(), home.path() / ".local/state/Corvane/corvane.lock");
    const auto lock = InstanceLock::acquire();
    EXPECT_TRUE(lock);
    EXPECT_TRUE(fs::exists(InstanceLock::lockPath()));
}

TEST(TerminationSignalsTest, SignalsArriveAsReadableEvents)
{
    TerminationSignals signals;
    EXPECT_EQ(signals.take(), std::nullopt);
    ::raise(SIGTERM);
    EXPECT_EQ(signals.take(), SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(signals.take(), SIGINT);
    EXPECT_EQ(signals.take(), std::nullopt);
}

}  // namespace
}  // namespace corvane::test
