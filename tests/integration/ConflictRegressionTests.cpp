// Cases the two-device convergence test found, each reduced to the one interleaving that lost
// content or left the devices apart.

#include <ctime>

#include <gtest/gtest.h>

#include "Sync/SyncEngineFixture.h"
#include "support/RawHttp.h"

namespace corvane::test {
namespace {

// The time stamp a conflict copy made at `when` carries, in local time.
std::string conflictStamp(std::time_t when)
{
    std::tm time{};
    localtime_r(&when, &time);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &time);
    return stamp;
}

class ConflictRegressionTest : public testing::Test, public SyncEngineFixture {
protected:
    ConflictRegressionTest() : SyncEngineFixture({}, quick()) {}

    // The server's files whose name marks them as a conflict copy of `path`, with contents.
    std::map<std::string, std::string> serverCopiesOf(const std::string& path)
    {
        return copiesIn(other->contents(), path);
    }

    std::map<std::string, std::string> localCopiesOf(const std::string& path) const
    {
        return copiesIn(localContents(), path);
    }

    static std::map<std::string, std::string>
    copiesIn(const std::map<std::string, std::string>& files, const std::string& path)
    {
        const std::string prefix = conflictCopyPrefix(path);
        std::map<std::string, std::string> copies;
        for (const auto& [file, content] : files) {
            if (file.starts_with(prefix)) {
                copies[file] = content;
            }
        }
        return copies;
    }

    // The engine's temporary download files anywhere in the sync folder.
    std::vector<std::string> temporaries() const
    {
        std::vector<std::string> found;
        std::error_code error;  // the engine may move things while this looks
        for (auto it = fs::recursive_directory_iterator(syncDir, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (it->path().filename().string().starts_with(".corvane-download-")) {
                found.push_back(it->path().lexically_relative(syncDir).string());
            }
        }
        return found;
    }

    static std::size_t holding(const std::map<std::string, std::string>& files,
                               const std::string& content)
    {
        return std::count_if(files.begin(), files.end(),
                             [&](const auto& file) { return file.second == content; });
    }
};

// Seeds 2 and 3: a conflict copy made by the start-up cycle stayed on its device, since the
// watcher starts only after the cycle.
TEST_F(ConflictRegressionTest, TheCycleSendsTheConflictCopiesItMakes)
{
    writeFile(local("/both.txt"), "v1");
    runCycle();
    other->upload("/both.txt", "server");
    writeFile(local("/both.txt"), "local");

    runCycle();
    EXPECT_TRUE(serverHas("/both.txt", "local"));
    const auto copies = serverCopiesOf("/both.txt");
    ASSERT_EQ(copies.size(), 1u) << serverPaths();
    EXPECT_EQ(copies.begin()->second, "server");
    EXPECT_EQ(localCopiesOf("/both.txt"), copies);
}

// Seed 222: the cycle named its conflict copy after a name free here but taken on the server by
// another device's copy from the same second, then downloaded that copy over its own.
TEST_F(ConflictRegressionTest, TheCycleNamesItsConflictCopiesClearOfTheServersFiles)
{
    writeFile(local("/b.txt"), "v1");
    runCycle();
    other->upload("/b.txt", "server");
    writeFile(local("/b.txt"), "local");
    // Copies of another device under every name the cycle's copy can take: one for each second
    // from now until the cycle would have run out of time (runCycle waits 30 s), so that the
    // copy meets one of them however slowly the machine runs. They stay off this device: had the
    // cycle downloaded them first, their names would be taken here too, and the server's list
    // would not be what keeps the copy clear of them.
    constexpr std::time_t kCycleSeconds = 30;
    std::map<std::string, std::string> theirs;
    for (std::time_t when = std::time(nullptr); when <= std::time(nullptr) + kCycleSeconds + 1;
         ++when) {
        const std::string path = std::string("/b") + kConflictMark + conflictStamp(when) + ").txt";
        theirs[path] = "their copy " + std::to_string(theirs.size());
        other->upload(path, theirs[path]);
        selective->exclude(path);
    }

    runCycle();
    auto server = other->contents();
    for (const auto& [path, content] : theirs) {
        EXPECT_EQ(server.at(path), content);
        server.erase(path);
    }
    EXPECT_EQ(localContents(), server);
    std::vector<std::string> mine;
    for (const auto& [path, content] : serverCopiesOf("/b.txt")) {
        if (content == "server") {
            mine.push_back(path);
        }
    }
    ASSERT_EQ(mine.size(), 1u) << serverPaths();
    // The cycle's copy met one of theirs and took the next number: "<their name> 2.txt".
    const std::size_t number = mine[0].rfind(") ");
    ASSERT_NE(number, std::string::npos) << mine[0];
    EXPECT_TRUE(theirs.contains(mine[0].substr(0, number + 1) + ".txt")) << mine[0];
}

// Seed 2: a push met a local edit not yet sent; the engine kept the server's version beside
// it, then sent the edit naming its old base, and the server kept the same version a second
// time.
TEST_F(ConflictRegressionTest, AnEditMetByAPushIsSentOnTopOfTheVersionKeptBesideIt)
{
    startLive();
    writeFile(local("/doc.txt"), "base");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/doc.txt", "base"); }));

    // The edit waits out the debounce while the other device's version is announced.
    writeFile(local("/doc.txt"), "local edit");
    other->upload("/doc.txt", "remote edit");

    ASSERT_TRUE(waitUntil([&] {
        return serverHas("/doc.txt", "local edit") &&
               holding(serverCopiesOf("/doc.txt"), "remote edit") > 0;
    })) << serverPaths();
    loop.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(holding(serverCopiesOf("/doc.txt"), "remote edit"), 1u) << serverPaths();
    EXPECT_EQ(holding(localCopiesOf("/doc.txt"), "remote edit"), 1u);
    EXPECT_EQ(readFile(local("/doc.txt")), "local edit");
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

// Seeds 105 and 127: a device deleted a file whose newer version, from the other device, it
// had not received; the deletion names no version and removed that version everywhere.
TEST_F(ConflictRegressionTest, ADeletionNeverDestroysAVersionTheDeviceHasNotSeen)
{
    startLive();
    writeFile(local("/shared.txt"), "old");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/shared.txt", "old"); }));

    // The newer version's announcement is lost with the push channel.
    ASSERT_EQ(httpRequest("POST", server.baseURL() + "/__test/ws/drop").status, 200);
    other->upload("/shared.txt", "newer");
    fs::remove(local("/shared.txt"));

    EXPECT_TRUE(waitUntil([&] {
        return readFile(local("/shared.txt")) == "newer" &&
               storedState("/shared.txt").value_or(FileState{}).hash == sha256("newer");
    }));
    EXPECT_TRUE(serverHas("/shared.txt", "newer"));
}

// Seed 305: the look before a deletion found the version this device knew, but the deletion,
// slowed on its way, arrived after the other device had stored a newer one.
TEST_F(ConflictRegressionTest, AVersionStoredWhileADeletionWasOnItsWayIsPutBack)
{
    startLive();
    writeFile(local("/raced.txt"), "old");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/raced.txt", "old"); }));
    server.injectFault({{"path_prefix", "/api/sync/delete"}, {"delay_ms", 600}});
    fs::remove(local("/raced.txt"));
    ASSERT_TRUE(
        waitUntil([&] { return server.lastRequest().value("target", "") == "/api/sync/delete"; }));
    other->upload("/raced.txt", "newer");

    EXPECT_TRUE(waitUntil([&] {
        return serverHas("/raced.txt", "newer") && readFile(local("/raced.txt")) == "newer";
    })) << serverPaths();
    loop.runUntil([] { return false; }, 300ms);
    EXPECT_TRUE(serverHas("/raced.txt", "newer"));
    EXPECT_EQ(readFile(local("/raced.txt")), "newer");
}

// Seed 117: a folder moved while a file in it downloaded took the temporary file along, and
// the engine, looking for it under the old name, left it there for good.
TEST_F(ConflictRegressionTest, ATemporaryFileMovedWithItsFolderIsRemoved)
{
    startLive();
    other->upload("/Work/x.txt", "one");
    ASSERT_TRUE(waitUntil([&] { return readFile(local("/Work/x.txt")) == "one"; }));
    server.injectFault({{"path_prefix", "/api/sync/download/"}, {"delay_ms", 400}});
    other->upload("/Work/x.txt", "two");
    ASSERT_TRUE(waitUntil([&] { return !temporaries().empty(); }));
    fs::rename(local("/Work"), local("/Misc"));

    EXPECT_TRUE(waitUntil([&] { return temporaries().empty(); }, 5s))
        << testing::PrintToString(temporaries());
}

// Seed 130: the download of an announced version replaced a file written at its path while the
// bytes were on their way.
TEST_F(ConflictRegressionTest, AFileWrittenWhileItsNewVersionDownloadsStays)
{
    startLive();
    server.injectFault({{"path_prefix", "/api/sync/download/"}, {"delay_ms", 400}});
    other->upload("/late.txt", "remote");
    // The engine's temporary file shows that the download is under way.
    ASSERT_TRUE(waitUntil([&] { return !temporaries().empty(); }));
    writeFile(local("/late.txt"), "mine");

    EXPECT_TRUE(waitUntil([&] {
        return serverHas("/late.txt", "mine") &&
               holding(serverCopiesOf("/late.txt"), "remote") == 1;
    })) << serverPaths();
    EXPECT_EQ(readFile(local("/late.txt")), "mine");
    EXPECT_EQ(holding(localCopiesOf("/late.txt"), "remote"), 1u);
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

}  // namespace
}  // namespace corvane::test
