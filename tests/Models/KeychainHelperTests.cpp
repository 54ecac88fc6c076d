#include "Models/KeychainHelper.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Platform/SystemLog.h"
#include "Platform/UniqueFd.h"
#include "support/FileContents.h"
#include "support/FileModes.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// The entries the store writes to the system log while it lives.
class LogCapture {
public:
    LogCapture()
        : m_capture([this](const std::string& category, const std::string& message) {
              std::lock_guard lock(m_mutex);
              m_entries.push_back(category + ": " + message);
          })
    {
    }

    std::vector<std::string> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
    SystemLog::Capture m_capture;
};

class KeychainHelperTest : public testing::Test {
protected:
    TempHome home;
    LogCapture log;
};

TEST_F(KeychainHelperTest, KeepsTheValueByteForByteInAHiddenOwnerOnlyFile)
{
    for (const std::string value : {"first", "", " token with blanks \n", "second"}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(KeychainHelper::save("auth_token", value));
        EXPECT_EQ(KeychainHelper::load("auth_token"), value);
        EXPECT_EQ(fileContents(home.path() / ".local/share/Corvane/.auth_token"), value);
        EXPECT_EQ(permissionBits(KeychainHelper::fileURL("auth_token")), 0600u);
    }
    // Only the key's file: no temporary is left behind.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(KeychainHelper::storageDir())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{".auth_token"});
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(KeychainHelperTest, MissingAndDeletedKeysLoadAsNothingWithoutALogEntry)
{
    EXPECT_EQ(KeychainHelper::load("auth_token"), std::nullopt);
    EXPECT_TRUE(KeychainHelper::deleteKey("auth_token"));
    ASSERT_TRUE(KeychainHelper::save("auth_token", "secret"));
    EXPECT_TRUE(KeychainHelper::deleteKey("auth_token"));
    EXPECT_EQ(KeychainHelper::load("auth_token"), std::nullopt);
    EXPECT_FALSE(fs::exists(KeychainHelper::fileURL("auth_token")));
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(KeychainHelperTest, AValueThatIsNotUtf8LoadsAsNothing)
{
    ASSERT_TRUE(KeychainHelper::save("auth_token", std::string("bad \xff\xfe byte")));
    EXPECT_EQ(KeychainHelper::load("auth_token"), std::nullopt);
}

TEST_F(KeychainHelperTest, TheFileIsOwnerOnlyWhateverTheUmask)
{
    for (const mode_t mask : {mode_t{0000}, mode_t{0277}, mode_t{0022}}) {
        SCOPED_TRACE(mask);
        fs::remove_all(KeychainHelper::storageDir());
        const ScopedUmask scoped(mask);
        ASSERT_TRUE(KeychainHelper::save("auth_token", "secret"));
        EXPECT_EQ(permissionBits(KeychainHelper::fileURL("auth_token")), 0600u);
        EXPECT_EQ(permissionBits(KeychainHelper::storageDir()), 0700u & ~mask);
        EXPECT_EQ(KeychainHelper::load("auth_token"), "secret");
    }
}

TEST_F(KeychainHelperTest, AFileInThePlaceOfTheFolderFailsTheSaveWithOneLogEntry)
{
    fs::create_directories(KeychainHelper::storageDir().parent_path());
    std::ofstream(KeychainHelper::storageDir()) << "in the way";
    EXPECT_FALSE(KeychainHelper::save("auth_token", "secret"));
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.front().rfind("Storage: Save failed for key auth_token: ", 0), 0u)
        << entries.front();
    EXPECT_NE(entries.front().find("Not a directory"), std::string::npos) << entries.front();
    EXPECT_EQ(fileContents(KeychainHelper::storageDir()), "in the way");
}

TEST_F(KeychainHelperTest, AFailedReplacementKeepsTheOldValueAndLeavesNoTemporary)
{
    ASSERT_TRUE(KeychainHelper::save("auth_token", "old"));
    // A folder at the key's name: the rename over it fails.
    const auto file = KeychainHelper::fileURL("auth_token");
    fs::remove(file);
    fs::create_directories(file / "occupied");
    EXPECT_FALSE(KeychainHelper::save("auth_token", "new"));
    EXPECT_EQ(log.entries().size(), 1u);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         fs::directory_iterator(KeychainHelper::storageDir())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);  // the folder in the way, and no temporary beside it
}

// Whatever moment another process looks, the token is never readable by others: every file
// that appears in the folder is looked at as soon as it appears and each time it changes.
TEST_F(KeychainHelperTest, NoFileInTheFolderIsEverReadableByOthers)
{
    const ScopedUmask open(0000);
    ASSERT_TRUE(KeychainHelper::save("auth_token", "first"));
    const fs::path dir = KeychainHelper::storageDir();
    const UniqueFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    ASSERT_TRUE(watch);
    ASSERT_GE(::inotify_add_watch(watch.get(), dir.c_str(),
                                  IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO),
              0);

    std::atomic<bool> saving{true};
    std::atomic<int> looked{0};
    std::atomic<mode_t> widest{0};
    std::thread watcher([&] {
        alignas(inotify_event) char buffer[4096];
        while (true) {
            pollfd entry{watch.get(), POLLIN, 0};
            if (::poll(&entry, 1, 10) <= 0) {
                if (!saving) {
                    return;
                }
                continue;
            }
            const ssize_t count = ::read(watch.get(), buffer, sizeof buffer);
            for (ssize_t at = 0; at < count;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                struct stat info {};
                if (event->len > 0 && ::stat((dir / event->name).c_str(), &info) == 0) {
                    ++looked;
                    widest = widest | (info.st_mode & 0077);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    });
    // Large values: the write takes long enough for the watcher to look while it goes on.
    const std::string value(8 * 1024 * 1024, 'x');
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(KeychainHelper::save("auth_token", value + std::to_string(round)));
    }
    saving = false;
    watcher.join();
    EXPECT_GT(looked.load(), 0);
    EXPECT_EQ(widest.load(), 0u);
}

}  // namespace
}  // namespace corvane::test
