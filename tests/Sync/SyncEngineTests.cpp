#include "Sync/SyncEngine.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/UserDefaults.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalScanner.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SelectiveSyncManager.h"
#include "support/ServerProcess.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string sha256(const std::string& content)
{
    Sha256 hash;
    hash.update(content);
    return hash.finish();
}

// Another device on the same account: uploads and reads the server's files directly.
class OtherDevice {
public:
    OtherDevice(const std::string& baseURL, const std::string& token)
        : m_client(std::make_shared<APIClient>(baseURL))
    {
        m_client->setToken(token);
    }

    void upload(const std::string& path, const std::string& content)
    {
        FolderResolver resolver(m_client);
        resolver.load();
        const std::string folderId = resolver.resolve(path);
        const auto existing = files();
        std::int64_t version = 0;
        for (const auto& file : existing) {
            if (file.path == path) {
                version = file.version;
            }
        }
        const auto answer = m_client->uploadInit(UploadInitRequest{
            resolver.stripFolderPrefix(path, folderId), folderId, sha256(content),
            static_cast<std::int64_t>(content.size()), version});
        if (answer.uploadId) {
            m_client->uploadChunk(*answer.uploadId, content);
        }
    }

    void remove(const std::string& path)
    {
        FolderResolver resolver(m_client);
        resolver.load();
        const std::string folderId = resolver.resolve(path);
        m_client->deleteFile(resolver.stripFolderPrefix(path, folderId), folderId);
    }

    // Every file of the account with its sync-relative path.
    std::vector<FileInfo> files()
    {
        FolderResolver resolver(m_client);
        std::vector<FileInfo> all;
        for (const std::string& id : resolver.load()) {
            auto tree = m_client->getFolderTree(id);
            auto collected = LocalScanner::collectFiles(tree);
            all.insert(all.end(), collected.begin(), collected.end());
        }
        return resolver.normalizeFilePaths(all);
    }

    std::map<std::string, std::string> contents()
    {
        std::map<std::string, std::string> result;
        for (const auto& file : files()) {
            result[file.path] = m_client->download(file.hash);
        }
        return result;
    }

    APIClient& client() { return *m_client; }

private:
    std::shared_ptr<APIClient> m_client;
};

class SyncEngineTest : public testing::Test {
protected:
    SyncEngineTest()
    {
        // The shared settings suites follow the temporary home from here on.
        UserDefaults::resetShared();
        activity = std::make_shared<ActivityManager>();
        selective = std::make_shared<SelectiveSyncManager>();
        throttler = std::make_shared<BandwidthThrottler>();
        const std::string token = server.signIn("ada@example.com");
        client = std::make_shared<APIClient>(server.baseURL());
        client->setToken(token);
        other = std::make_unique<OtherDevice>(server.baseURL(), token);
        syncDir = home.path() / "Corvane";
    }

    ~SyncEngineTest() override
    {
        for (const auto& engine : engines) {
            engine->stop();
        }
        // Let background tasks that still report reach the main queue before it goes.
        loop.runUntil([] { return false; }, 50ms);
        UserDefaults::resetShared();
    }

    std::shared_ptr<SyncEngine> makeEngine()
    {
        auto engine = SyncEngine::create(
            client, syncDir, activity, selective, throttler,
            [this](SyncStatus status) {
                std::lock_guard lock(mutex);
                statuses.push_back(status);
            },
            [this](const std::string& message) {
                std::lock_guard lock(mutex);
                errors.push_back(message);
            });
        engines.push_back(engine);
        return engine;
    }

    // Starts a new engine and waits for the end of its start-up cycle.
    void runCycle()
    {
        {
            std::lock_guard lock(mutex);
            statuses.clear();
        }
        makeEngine()->start();
        ASSERT_TRUE(loop.runUntil(
            [&] {
                std::lock_guard lock(mutex);
                return !errors.empty() ||
                       std::find(statuses.begin(), statuses.end(), SyncStatus::idle) !=
                           statuses.end();
            },
            30s));
        engines.back()->stop();
        std::lock_guard lock(mutex);
        ASSERT_TRUE(errors.empty()) << errors.front();
    }

    fs::path local(const std::string& path) const { return syncDir / path.substr(1); }

    std::map<std::string, std::string> localContents() const
    {
        std::map<std::string, std::string> result;
        for (const auto& entry : fs::recursive_directory_iterator(syncDir)) {
            const std::string relative = "/" + fs::relative(entry.path(), syncDir).string();
            if (entry.is_regular_file() && relative.find("/.") == std::string::npos) {
                result[relative] = readFile(entry.path());
            }
        }
        return result;
    }

    std::optional<FileState> storedState(const std::string& path) const
    {
        LocalStateStore store(syncDir);
        store.load();
        return store.get(path);
    }

    std::vector<std::string> conflictCopies(const std::string& folder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(local(folder))) {
            const std::string name = entry.path().filename().string();
            if (name.find(" (conflict - remote - ") != std::string::npos) {
                names.push_back(name);
            }
        }
        return names;
    }

    test::TempHome home;
    test::ServerProcess server;
    RunLoop loop;
    std::shared_ptr<APIClient> client;
    std::unique_ptr<OtherDevice> other;
    fs::path syncDir;
    std::shared_ptr<ActivityManager> activity;
    std::shared_ptr<SelectiveSyncManager> selective;
    std::shared_ptr<BandwidthThrottler> throttler;
    std::vector<std::shared_ptr<SyncEngine>> engines;
    std::mutex mutex;
    std::vector<SyncStatus> statuses;
    std::vector<std::string> errors;
};

TEST_F(SyncEngineTest, FirstSyncUploadsLocalAndDownloadsRemoteFiles)
{
    writeFile(local("/top.txt"), "top");
    writeFile(local("/Docs/a.txt"), "a");
    writeFile(local("/Docs/Sub/b.txt"), "b");
    writeFile(local("/.hidden/x"), "hidden");
    other->upload("/Remote/r.txt", "remote");
    other->upload("/root.txt", "root");

    runCycle();

    const std::map<std::string, std::string> expected{
        {"/top.txt", "top"}, {"/Docs/a.txt", "a"},     {"/Docs/Sub/b.txt", "b"},
        {"/Remote/r.txt", "remote"}, {"/root.txt", "root"}};
    EXPECT_EQ(localContents(), expected);
    EXPECT_EQ(other->contents(), expected);
    for (const auto& [path, content] : expected) {
        const auto state = storedState(path);
        ASSERT_TRUE(state) << path;
        EXPECT_EQ(state->hash, sha256(content)) << path;
    }
    EXPECT_EQ(SyncStateProvider::shared().getBadge(local("/Docs/a.txt").string()),
              SyncBadge::synced);
}

TEST_F(SyncEngineTest, NothingToDoGivesNoTransfer)
{
    writeFile(local("/a.txt"), "same");
    other->upload("/a.txt", "same");
    runCycle();
    // Agreeing files are remembered, so a later remote deletion is seen as one.
    EXPECT_EQ(storedState("/a.txt")->hash, sha256("same"));
    EXPECT_TRUE(activity->recentActivities().empty());
}

TEST_F(SyncEngineTest, DecisionsAgainstTheStoredState)
{
    writeFile(local("/server-changed.txt"), "v1");
    writeFile(local("/local-changed.txt"), "v1");
    writeFile(local("/both-changed.txt"), "v1");
    writeFile(local("/server-deleted.txt"), "v1");
    writeFile(local("/server-deleted-edited.txt"), "v1");
    writeFile(local("/local-deleted.txt"), "v1");
    runCycle();

    other->upload("/server-changed.txt", "server");
    writeFile(local("/local-changed.txt"), "local");
    other->upload("/both-changed.txt", "server");
    writeFile(local("/both-changed.txt"), "local");
    other->remove("/server-deleted.txt");
    other->remove("/server-deleted-edited.txt");
    writeFile(local("/server-deleted-edited.txt"), "edited");
    fs::remove(local("/local-deleted.txt"));
    runCycle();

    const auto localFiles = localContents();
    EXPECT_EQ(localFiles.at("/server-changed.txt"), "server");
    EXPECT_EQ(localFiles.at("/local-changed.txt"), "local");
    EXPECT_EQ(localFiles.at("/both-changed.txt"), "local");
    EXPECT_FALSE(localFiles.count("/server-deleted.txt"));
    // The edit the server never saw wins over the remote deletion.
    EXPECT_EQ(localFiles.at("/server-deleted-edited.txt"), "edited");
    // Deleted locally while away: it comes back.
    EXPECT_EQ(localFiles.at("/local-deleted.txt"), "v1");

    const auto copies = conflictCopies("/");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].rfind("both-changed (conflict - remote - ", 0), 0u) << copies[0];
    EXPECT_EQ(readFile(syncDir / copies[0]), "server");

    const auto remote = other->contents();
    EXPECT_EQ(remote.at("/local-changed.txt"), "local");
    EXPECT_EQ(remote.at("/both-changed.txt"), "local");
    EXPECT_EQ(remote.at("/server-deleted-edited.txt"), "edited");
    EXPECT_FALSE(remote.count("/server-deleted.txt"));
}

TEST_F(SyncEngineTest, DifferentContentWithoutStoredStateKeepsBothVersions)
{
    writeFile(local("/Docs/report.pdf"), "mine");
    other->upload("/Docs/report.pdf", "theirs");
    runCycle();
    EXPECT_EQ(readFile(local("/Docs/report.pdf")), "mine");
    const auto copies = conflictCopies("/Docs");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(local("/Docs/" + copies[0])), "theirs");
    EXPECT_EQ(other->contents().at("/Docs/report.pdf"), "mine");
}

TEST_F(SyncEngineTest, ExcludedPathsGetNoActionAndTheIgnoredBadge)
{
    selective->exclude("/Private");
    writeFile(local("/Private/secret.txt"), "local only");
    other->upload("/Private/remote.txt", "remote only");
    runCycle();
    EXPECT_FALSE(fs::exists(local("/Private/remote.txt")));
    EXPECT_EQ(other->files().size(), 1u);
    EXPECT_EQ(SyncStateProvider::shared().getBadge(local("/Private/secret.txt").string()),
              SyncBadge::ignored);
}

TEST_F(SyncEngineTest, RefusedServerPathsWriteNothing)
{
    // A link inside the sync folder that points outside must never be written through.
    test::TempDir outside;
    fs::create_directories(syncDir);
    fs::create_symlink(outside.path(), syncDir / "Link");
    other->upload("/Link/evil.txt", "evil");
    other->upload("/fine.txt", "fine");
    runCycle();
    EXPECT_TRUE(fs::is_empty(outside.path()));
    EXPECT_EQ(readFile(local("/fine.txt")), "fine");
}

TEST_F(SyncEngineTest, OneFailingEntryLeavesTheCycleComplete)
{
    other->upload("/a.txt", "a");
    other->upload("/b.txt", "b");
    server.injectFault({{"path_prefix", "/api/sync/download/" + sha256("a")}, {"status", 500}});
    runCycle();
    EXPECT_FALSE(fs::exists(local("/a.txt")));
    EXPECT_EQ(readFile(local("/b.txt")), "b");
    EXPECT_EQ(SyncStateProvider::shared().getBadge(local("/a.txt").string()), SyncBadge::error);
    EXPECT_FALSE(storedState("/a.txt"));
}

TEST_F(SyncEngineTest, UnreachableServerReportsTheErrorOnce)
{
    client = std::make_shared<APIClient>("http://127.0.0.1:1");
    client->setToken("t");
    makeEngine()->start();
    ASSERT_TRUE(loop.runUntil([&] {
        std::lock_guard lock(mutex);
        return !errors.empty();
    }));
    loop.runUntil([] { return false; }, 50ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(statuses, std::vector<SyncStatus>{SyncStatus::syncing});
}

TEST_F(SyncEngineTest, SecondStartDoesNothing)
{
    auto engine = makeEngine();
    engine->start();
    engine->start();
    ASSERT_TRUE(loop.runUntil([&] {
        std::lock_guard lock(mutex);
        return std::count(statuses.begin(), statuses.end(), SyncStatus::idle) == 1;
    }));
    loop.runUntil([] { return false; }, 50ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), SyncStatus::syncing), 1);
}

TEST_F(SyncEngineTest, AtMostFourTransfersRunAtOnceAndStopEndsTheHandOut)
{
    for (int i = 0; i < 12; ++i) {
        other->upload("/f" + std::to_string(i) + ".txt", "content " + std::to_string(i));
    }
    server.injectFault({{"path_prefix", "/api/sync/download/"}, {"delay_ms", 100}, {"count", 100}});
    std::size_t peak = 0;
    auto subscription = activity->observeActiveTransfers(
        [&](const std::vector<ActivityItem>& transfers) { peak = std::max(peak, transfers.size()); });
    auto engine = makeEngine();
    engine->start();
    // Stop once the first transfers are under way.
    ASSERT_TRUE(loop.runUntil([&] { return peak >= 4; }));
    engine->stop();
    loop.runUntil([] { return false; }, 600ms);
    EXPECT_EQ(peak, 4u);
    std::size_t downloaded = 0;
    for (int i = 0; i < 12; ++i) {
        downloaded += fs::exists(local("/f" + std::to_string(i) + ".txt")) ? 1 : 0;
    }
    EXPECT_LT(downloaded, 12u);
    EXPECT_GE(downloaded, 4u);
    std::lock_guard lock(mutex);
    // A stopped engine reports nothing more.
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), SyncStatus::idle), 0);
}

}  // namespace
}  // namespace corvane
