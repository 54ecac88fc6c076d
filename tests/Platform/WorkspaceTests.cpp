#include "Platform/XdgOpenWorkspace.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FinderSync/FakeWorkspace.h"
#include "Platform/FakeFileManager.h"
#include "Platform/FileURL.h"
#include "Platform/PrivateBus.h"
#include "Platform/RecorderProgram.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

TEST(FileURLTest, EncodesEveryByteButTheUnreservedOnesAndTheSlash)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"/", "file:///"},
        {"/home/ada/Desktop/corvane-logs-20240501-093000.zip",
         "file:///home/ada/Desktop/corvane-logs-20240501-093000.zip"},
        {"/tmp/a b/#1?%.txt", "file:///tmp/a%20b/%231%3F%25.txt"},
        {"/tmp/caf\xC3\xA9~_-.x", "file:///tmp/caf%C3%A9~_-.x"},
        {"/tmp/x;y=z&w+v:", "file:///tmp/x%3By%3Dz%26w%2Bv%3A"},
    };
    for (const auto& [path, url] : cases) {
        EXPECT_EQ(fileURL(path), url) << path;
    }
}

TEST(WorkspaceTest, AWorkspaceThatCannotSelectOpensTheFilesFolder)
{
    FakeWorkspace workspace;  // keeps the interface's own selection
    EXPECT_TRUE(workspace.selectFile("/home/ada/Desktop/logs.zip"));
    EXPECT_FALSE(workspace.selectFile("Desktop/logs.zip"));
    EXPECT_EQ(workspace.opened, std::vector<std::string>{"file:///home/ada/Desktop"});
}

class XdgOpenWorkspaceTest : public testing::Test {
protected:
    TempDir dir;
    PrivateBus bus;
    const fs::path opener = writeRecorder(dir.path(), "opener");
    const fs::path file = dir.path() / "Desktop" / "corvane logs.zip";
};

TEST_F(XdgOpenWorkspaceTest, TheFileManagerIsAskedToShowTheFileAndNothingElseOpens)
{
    FakeFileManager fileManager(bus.address());
    {
        XdgOpenWorkspace workspace(opener.string(), bus.address());
        EXPECT_TRUE(workspace.selectFile(file));
        ASSERT_TRUE(fileManager.waitForCalls(1));
    }  // waits for the selection to end
    const auto calls = fileManager.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls.front().uris, std::vector<std::string>{fileURL(file)});
    EXPECT_EQ(calls.front().startupId, "");
    EXPECT_FALSE(fs::exists(opener.string() + ".args"));
}

TEST_F(XdgOpenWorkspaceTest, WithoutAFileManagerThatTakesTheRequestTheFoldersOpened)
{
    const auto opensTheFolder = [&](const std::string& address) {
        fs::remove(opener.string() + ".args");
        XdgOpenWorkspace workspace(opener.string(), address);
        EXPECT_TRUE(workspace.selectFile(file));
        EXPECT_EQ(waitForFile(opener.string() + ".args"),
                  "1\n" + fileURL(file.parent_path()) + "\n");
    };
    {
        SCOPED_TRACE("nobody owns the name");
        opensTheFolder(bus.address());
    }
    {
        SCOPED_TRACE("the file manager refuses");
        FakeFileManager refusing(bus.address(), true);
        opensTheFolder(bus.address());
        EXPECT_EQ(refusing.calls().size(), 1u);
    }
    {
        SCOPED_TRACE("no bus");
        opensTheFolder("unix:path=" + (dir.path() / "no-bus").string());
    }
}

TEST_F(XdgOpenWorkspaceTest, ARelativePathIsRefused)
{
    FakeFileManager fileManager(bus.address());
    {
        XdgOpenWorkspace workspace(opener.string(), bus.address());
        EXPECT_FALSE(workspace.selectFile("Desktop/logs.zip"));
        EXPECT_FALSE(workspace.selectFile(""));
    }
    EXPECT_TRUE(fileManager.calls().empty());
    EXPECT_FALSE(fs::exists(opener.string() + ".args"));
}

}  // namespace
}  // namespace corvane::test
