#include "Platform/DetachedProcess.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "Platform/CommandLinePasteboard.h"
#include "Platform/RecorderProgram.h"
#include "Platform/XdgOpenWorkspace.h"
#include "support/ScopedEnv.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::waitForFile;
using test::writeRecorder;

bool hasChildren()
{
    int status = 0;
    return !(::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD);
}

class DetachedProcessTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(DetachedProcessTest, FindExecutableSearchesThePathForExecutableFilesOnly)
{
    const fs::path bin = m_dir.path() / "bin";
    const fs::path other = m_dir.path() / "other";
    fs::create_directories(bin);
    fs::create_directories(other);
    writeRecorder(other, "tool");
    writeRecorder(bin, "tool");
    std::ofstream(bin / "plain") << "not executable\n";
    fs::create_directories(bin / "folder");
    fs::permissions(bin / "folder", fs::perms::owner_all);

    const test::ScopedEnv path("PATH", ":" + bin.string() + ":" + other.string());
    EXPECT_EQ(DetachedProcess::findExecutable("tool"), (bin / "tool").string());
    EXPECT_EQ(DetachedProcess::findExecutable((other / "tool").string()),
              (other / "tool").string());
    EXPECT_EQ(DetachedProcess::findExecutable("plain"), std::nullopt);
    EXPECT_EQ(DetachedProcess::findExecutable("folder"), std::nullopt);
    EXPECT_EQ(DetachedProcess::findExecutable("missing"), std::nullopt);
    EXPECT_EQ(DetachedProcess::findExecutable(""), std::nullopt);
    EXPECT_EQ(DetachedProcess::findExecutable((bin / "plain").string()), std::nullopt);
}

TEST_F(DetachedProcessTest, LaunchHandsArgumentsAndInputOverUntouchedAndLeavesNoChild)
{
    const fs::path recorder = writeRecorder(m_dir.path(), "recorder");
    const std::vector<std::string> arguments{recorder.string(),  "a b", "'; touch x #",
                                             "$(id) `id` $HOME", "",    "caf\xC3\xA9\n2"};
    const std::string input = "line 1\nr\xC3\xA9sum\xC3\xA9\n";
    ASSERT_TRUE(DetachedProcess::launch(arguments, input));
    EXPECT_FALSE(hasChildren());

    const auto recorded = waitForFile(recorder.string() + ".args");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(*recorded, "5\na b\n'; touch x #\n$(id) `id` $HOME\n\ncaf\xC3\xA9\n2\n");
    EXPECT_EQ(waitForFile(recorder.string() + ".input"), input);
}

TEST_F(DetachedProcessTest, WithoutInputTheProgramReadsNothing)
{
    const fs::path recorder = writeRecorder(m_dir.path(), "recorder");
    ASSERT_TRUE(DetachedProcess::launch({recorder.string()}));
    EXPECT_EQ(waitForFile(recorder.string() + ".args"), "0\n");
    EXPECT_EQ(waitForFile(recorder.string() + ".input"), "");
}

TEST_F(DetachedProcessTest, LaunchFailsForAMissingProgram)
{
    EXPECT_FALSE(DetachedProcess::launch({}));
    EXPECT_FALSE(DetachedProcess::launch({(m_dir.path() / "missing").string()}, "x"));
    EXPECT_FALSE(hasChildren());
}

TEST_F(DetachedProcessTest, WorkspaceOpensTheURLAsTheOpenersOneArgument)
{
    const fs::path opener = writeRecorder(m_dir.path(), "opener");
    XdgOpenWorkspace workspace(opener.string());
    const std::string url = "corvane://share?path=/home/u/a%20b&x=$(id);y";
    ASSERT_TRUE(workspace.openURL(url));
    EXPECT_EQ(waitForFile(opener.string() + ".args"), "1\n" + url + "\n");

    EXPECT_FALSE(workspace.openURL(""));
    EXPECT_FALSE(workspace.openURL("--help"));
    EXPECT_FALSE(XdgOpenWorkspace((m_dir.path() / "missing").string()).openURL(url));
}

TEST_F(DetachedProcessTest, PasteboardUsesTheFirstToolWhoseDisplayIsSetAndWhichIsInstalled)
{
    const fs::path first = writeRecorder(m_dir.path(), "first");
    const fs::path chosen = writeRecorder(m_dir.path(), "chosen");
    const fs::path last = writeRecorder(m_dir.path(), "last");
    const test::ScopedEnv unset("CORVANE_TEST_NO_DISPLAY", std::nullopt);
    const test::ScopedEnv empty("CORVANE_TEST_EMPTY_DISPLAY", "");
    const test::ScopedEnv set("CORVANE_TEST_DISPLAY", ":1");
    CommandLinePasteboard pasteboard({
        {"CORVANE_TEST_NO_DISPLAY", {first.string()}},
        {"CORVANE_TEST_EMPTY_DISPLAY", {first.string()}},
        {"CORVANE_TEST_DISPLAY", {(m_dir.path() / "missing").string()}},
        {"CORVANE_TEST_DISPLAY", {chosen.string(), "-selection", "clipboard"}},
        {"CORVANE_TEST_DISPLAY", {last.string()}},
    });
    pasteboard.clearContents();
    const std::string link = "http://localhost:8080/files/Caf\xC3\xA9 1.txt";
    pasteboard.setString(link);

    EXPECT_EQ(waitForFile(chosen.string() + ".args"), "2\n-selection\nclipboard\n");
    EXPECT_EQ(waitForFile(chosen.string() + ".input"), link);
    EXPECT_FALSE(fs::exists(first.string() + ".args"));
    EXPECT_FALSE(fs::exists(last.string() + ".args"));
}

TEST_F(DetachedProcessTest, PasteboardWithoutAToolCopiesNothing)
{
    const fs::path recorder = writeRecorder(m_dir.path(), "recorder");
    const test::ScopedEnv unset("CORVANE_TEST_NO_DISPLAY", std::nullopt);
    CommandLinePasteboard({{"CORVANE_TEST_NO_DISPLAY", {recorder.string()}}}).setString("x");
    CommandLinePasteboard(std::vector<CommandLinePasteboard::Tool>{}).setString("x");
    EXPECT_FALSE(hasChildren());
    EXPECT_FALSE(fs::exists(recorder.string() + ".args"));
}

}  // namespace
}  // namespace corvane
