#include "Platform/XdgOpenWorkspace.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/FakeFileManager.h"
#include "Platform/FileURL.h"
#include "Platform/PrivateBus.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// An opener that writes its arguments, one a line, to "<its path>.args" (whole, with a rename).
fs::path writeOpener(const fs::path& folder)
{
    const fs::path path = folder / "opener";
    std::ofstream(path) << "#!/bin/sh\n"
                           "printf '%s\\n' \"$@\" > \"$0.args.tmp\"\n"
                           "mv \"$0.args.tmp\" \"$0.args\"\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

std::optional<std::string> waitForFile(const fs::path& path)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path)) {
            std::ostringstream content;
            content << std::ifstream(path).rdbuf();
            return content.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

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

// Records the URLs it is asked to open and keeps the interface's own selection.
class OpeningOnlyWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override
    {
        opened.push_back(url);
        return true;
    }

    std::vector<std::string> opened;
};

TEST(WorkspaceTest, AWorkspaceThatCannotSelectOpensTheFilesFolder)
{
    OpeningOnlyWorkspace workspace;
    EXPECT_TRUE(workspace.selectFile("/home/ada/Desktop/logs.zip"));
    EXPECT_FALSE(workspace.selectFile("Desktop/logs.zip"));
    EXPECT_EQ(workspace.opened, std::vector<std::string>{"file:///home/ada/Desktop"});
}

class XdgOpenWorkspaceTest : public testing::Test {
protected:
    TempDir dir;
    PrivateBus bus;
    const fs::path opener = writeOpener(dir.path());
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
        EXPECT_EQ(waitForFile(opener.string() + ".args"), fileURL(file.parent_path()) + "\n");
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
