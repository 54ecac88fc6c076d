#include "Sync/SyncEngine.h"

#include <cerrno>

#include "Platform/FileEventStream.h"
#include "Sync/SyncEngineFixture.h"

namespace corvane::test {
namespace {

class SyncEngineTest : public testing::Test, public SyncEngineFixture {};

// The server may give a file's path relative to its folder or in full: both are understood.
class SyncEnginePathFormTest : public testing::TestWithParam<std::string>,
                               public SyncEngineFixture {
protected:
    SyncEnginePathFormTest() : SyncEngineFixture(serverOptions()) {}

    static ServerOptions serverOptions()
    {
        ServerOptions options;
        options.filePaths = GetParam();
        return options;
    }
};

INSTANTIATE_TEST_SUITE_P(PathForms, SyncEnginePathFormTest, testing::Values("relative", "full"));

TEST_P(SyncEnginePathFormTest, FirstSyncUploadsLocalAndDownloadsRemoteFiles)
{
    writeFile(local("/top.txt"), "top");
    writeFile(local("/Docs/a.txt"), "a");
    writeFile(local("/Docs/Sub/b.txt"), "b");
    writeFile(local("/.hidden/x"), "hidden");
    other->upload("/Remote/r.txt", "remote");
    other->upload("/root.txt", "root");

    runCycle();

    const std::map<std::string, std::string> expected{{"/top.txt", "top"},
                                                      {"/Docs/a.txt", "a"},
                                                      {"/Docs/Sub/b.txt", "b"},
                                                      {"/Remote/r.txt", "remote"},
                                                      {"/root.txt", "root"}};
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

TEST_P(SyncEnginePathFormTest, NestedFoldersCreatedOnBothSidesMeet)
{
    writeFile(local("/Shared/Local/l.txt"), "from here");
    other->upload("/Shared/Remote/r.txt", "from there");
    other->upload("/Shared/Local/o.txt", "other side");
    runCycle();
    const std::map<std::string, std::string> expected{{"/Shared/Local/l.txt", "from here"},
                                                      {"/Shared/Local/o.txt", "other side"},
                                                      {"/Shared/Remote/r.txt", "from there"}};
    EXPECT_EQ(localContents(), expected);
    EXPECT_EQ(other->contents(), expected);
    runCycle();  // a second cycle finds nothing to do
    EXPECT_EQ(localContents(), expected);
    EXPECT_EQ(other->contents(), expected);
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
    TempDir outside;
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

TEST_F(SyncEngineTest, LeftoversOfAKilledProcessAreRemovedAtStart)
{
    // What a process killed in the middle of a download or a state save leaves behind.
    writeFile(local("/Docs/.corvane-download-Ab12Cd"), "half a down");
    writeFile(local("/.corvane-download-Xy34Zw"), "");
    writeFile(syncDir / ".corvane" / ".sync_state.json.tmp-Qr56St", "{\"/a.txt\": {\"ha");
    // Not the engine's: other hidden files, and anything inside hidden folders.
    writeFile(local("/Docs/.notes"), "mine");
    writeFile(local("/.git/.corvane-download-Gh78Ij"), "mine too");
    writeFile(syncDir / ".corvane" / ".sync_state.json.tmp-longer-name", "mine as well");
    writeFile(local("/Docs/a.txt"), "a");

    runCycle();

    EXPECT_FALSE(fs::exists(local("/Docs/.corvane-download-Ab12Cd")));
    EXPECT_FALSE(fs::exists(local("/.corvane-download-Xy34Zw")));
    EXPECT_FALSE(fs::exists(syncDir / ".corvane" / ".sync_state.json.tmp-Qr56St"));
    EXPECT_EQ(readFile(local("/Docs/.notes")), "mine");
    EXPECT_EQ(readFile(local("/.git/.corvane-download-Gh78Ij")), "mine too");
    EXPECT_TRUE(fs::exists(syncDir / ".corvane" / ".sync_state.json.tmp-longer-name"));
    EXPECT_EQ(other->contents(), (std::map<std::string, std::string>{{"/Docs/a.txt", "a"}}));
}

TEST_F(SyncEngineTest, AnEditSavedWhileItsFileDownloadsIsKept)
{
    writeFile(local("/doc.txt"), "v1");
    runCycle();
    other->upload("/doc.txt", "server");
    auto editing = std::make_shared<EditingClient>(server.baseURL());
    editing->setToken(client->token());
    editing->setEdit([&] {
        writeFile(home.path() / "saved", "saved meanwhile");
        fs::rename(home.path() / "saved", local("/doc.txt"));
    });
    client = editing;
    runCycle();
    EXPECT_EQ(readFile(local("/doc.txt")), "saved meanwhile");
    const auto copies = conflictCopies("/");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(syncDir / copies[0]), "server");
    EXPECT_EQ(storedState("/doc.txt")->hash, sha256("v1"));  // the edit is still to be uploaded
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

TEST_F(SyncEngineTest, ASyncFolderThatCannotBeWatchedAtAllWarnsOfTheWatchLimitOnce)
{
    options.prepareStream = [](FileEventStream& stream) {
        FileEventStream::TestHooks hooks;
        hooks.addWatch = [](int, const char*, std::uint32_t) {
            errno = ENOSPC;  // the system's inotify watch limit
            return -1;
        };
        stream.setTestHooks(std::move(hooks));
    };
    testing::internal::CaptureStdout();
    makeEngine()->start();
    const bool idle = loop.runUntil([&] {
        std::lock_guard lock(mutex);
        return std::count(statuses.begin(), statuses.end(), SyncStatus::idle) == 1;
    });
    loop.runUntil([] { return false; }, 100ms);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(idle);
    std::size_t warnings = 0;
    for (auto at = log.find("fs.inotify.max_user_watches"); at != std::string::npos;
         at = log.find("fs.inotify.max_user_watches", at + 1)) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 1u) << log;
    std::lock_guard lock(mutex);
    EXPECT_TRUE(errors.empty());
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
    auto subscription =
        activity->observeActiveTransfers([&](const std::vector<ActivityItem>& transfers) {
            peak = std::max(peak, transfers.size());
        });
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
}  // namespace corvane::test
