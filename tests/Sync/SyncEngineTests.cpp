#include "Sync/SyncEngine.h"

#include <cerrno>

#include "Platform/Error.h"
#include "Platform/FileEventStream.h"
#include "Sync/SyncEngineFactory.h"
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

TEST_F(SyncEngineTest, EachTransferShowsAllItsBytesBeforeItCompletes)
{
    writeFile(local("/up.txt"), "sent from here");
    other->upload("/down.txt", "received");
    std::map<std::string, std::vector<std::int64_t>> shownBytes;  // per file, each change
    auto subscription =
        activity->observeActiveTransfers([&](const std::vector<ActivityItem>& transfers) {
            for (const ActivityItem& item : transfers) {
                if (item.progress == 1) {
                    shownBytes[item.fileName].push_back(item.bytesTransferred);
                }
            }
        });
    runCycle();
    ASSERT_TRUE(loop.runUntil([&] { return activity->recentActivities().size() == 2; }));
    EXPECT_FALSE(activity->hasActiveTransfers());
    EXPECT_EQ(shownBytes, (std::map<std::string, std::vector<std::int64_t>>{{"down.txt", {8}},
                                                                            {"up.txt", {14}}}));
    for (const ActivityItem& item : activity->recentActivities()) {
        EXPECT_EQ(item.status, ActivityStatus::completed) << item.fileName;
    }
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
    testing::internal::CaptureStdout();
    runCycle();
    const std::string log = testing::internal::GetCapturedStdout();

    // Counted before anything is done: the edited file's upload is one of the two uploads.
    EXPECT_EQ(logFields(log, "diff computed"),
              std::vector<std::string>{" uploads=2 downloads=2 deletes=1 conflicts=1"});
    const auto complete = logFields(log, "sync cycle complete");
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0].rfind(" duration_ms=", 0), 0u) << complete[0];
    EXPECT_NO_THROW(std::stoll(complete[0].substr(13))) << complete[0];

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

TEST_F(SyncEngineTest, ANameTooLongForItsConflictCopyStillGetsOne)
{
    std::vector<std::string> names = {std::string(250, 'a') + ".txt", std::string(255, 'b')};
    std::string accented;
    for (int i = 0; i < 125; ++i) {
        accented += "\xC3\xA9";
    }
    names.push_back(accented + ".md");
    for (const std::string& name : names) {
        writeFile(local("/Docs/" + name), "mine");
        other->upload("/Docs/" + name, "theirs " + name);
    }
    runCycle();
    const auto copies = conflictCopies("/Docs");
    EXPECT_EQ(copies.size(), names.size());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFile(local("/Docs/" + name)), "mine");
        const auto copy = std::find_if(copies.begin(), copies.end(), [&](const std::string& c) {
            return readFile(local("/Docs/" + c)) == "theirs " + name;
        });
        ASSERT_NE(copy, copies.end());
        EXPECT_LE(copy->size(), 255u);
        EXPECT_EQ(copy->substr(0, 100), name.substr(0, 100));
    }
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
    testing::internal::CaptureStdout();
    runCycle();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logFields(log, "sync error"),
              std::vector<std::string>{" path=/a.txt error=Request failed"});
    EXPECT_EQ(logFields(log, "sync cycle complete").size(), 1u);
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

TEST_F(SyncEngineTest, BackgroundWorkIsSeenToEndAfterStop)
{
    for (int i = 0; i < 8; ++i) {
        other->upload("/f" + std::to_string(i) + ".txt", "content " + std::to_string(i));
    }
    server.injectFault({{"path_prefix", "/api/sync/download/"}, {"delay_ms", 150}, {"count", 100}});
    const auto engine = makeSyncEngineFactory(options)(SyncEngineParts{
        client, syncDir, activity, selective, throttler, statusReport(), errorReport()});
    EXPECT_FALSE(engine->hasBackgroundWork());
    engine->start();
    EXPECT_TRUE(engine->hasBackgroundWork());
    ASSERT_TRUE(loop.runUntil([&] { return activity->hasActiveTransfers(); }));
    engine->stop();
    EXPECT_TRUE(engine->hasBackgroundWork());  // the downloads under way go on

    // The downloads wait for the main thread to show their end: served here meanwhile.
    ASSERT_TRUE(loop.runUntil([&] { return !engine->hasBackgroundWork(); }, 20s));
    loop.runPending();
    const auto files = localContents();
    const auto finished = activity->recentActivities().size();
    EXPECT_FALSE(activity->hasActiveTransfers());
    loop.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(localContents(), files);
    EXPECT_EQ(activity->recentActivities().size(), finished);
    EXPECT_FALSE(engine->hasBackgroundWork());
}

TEST_F(SyncEngineTest, TheCycleGoesOnWhileTheMainThreadIsBusyAndStopThenReturns)
{
    writeFile(local("/up.txt"), "local");
    other->upload("/down.txt", "remote");
    const auto engine = makeEngine();
    bool reached = false;
    bool reportsPending = false;
    bool stopped = false;
    // Queued ahead of everything the engine posts: the main thread is held until both files have
    // crossed, then stops the engine with the cycle's reports still waiting for it.
    MainQueue::async([&] {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        const auto idle = [&] {
            std::lock_guard lock(mutex);
            return std::count(statuses.begin(), statuses.end(), SyncStatus::idle) == 1;
        };
        while (!(reached = serverHas("/up.txt", "local") &&
                           readFile(local("/down.txt")) == "remote" && idle()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        reportsPending = activity->recentActivities().empty();
        engine->stop();
        stopped = true;
    });
    engine->start();
    ASSERT_TRUE(loop.runUntil([&] { return stopped; }, 30s));
    EXPECT_TRUE(reached);
    EXPECT_TRUE(reportsPending);
    ASSERT_TRUE(loop.runUntil([&] { return !engine->hasBackgroundWork(); }));
    loop.runPending();
    EXPECT_FALSE(activity->hasActiveTransfers());
    EXPECT_EQ(activity->recentActivities().size(), 2u);
}

// The engine's hidden files anywhere in `dir` whose names begin with `prefix`.
std::vector<std::string> hiddenFilesNamed(const fs::path& dir, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            found.push_back(entry.path().lexically_relative(dir).string());
        }
    }
    return found;
}

TEST_F(SyncEngineTest, UserFilesLeftMovedAsideComeBackAtStart)
{
    // What a process killed while it held the user's files aside leaves behind.
    writeFile(local("/Docs/.corvane-aside-1A2B3C4D-notes.txt"), "edited notes");
    writeFile(local("/.corvane-aside-5E6F7A8B-a.txt"), "mine");
    writeFile(local("/a.txt"), "saved since");
    writeFile(local("/.corvane-aside-9C0D1E2F-b.txt"), "same");
    writeFile(local("/b.txt"), "same");
    // A download it left unfinished is still removed.
    writeFile(local("/Docs/.corvane-download-Ab12Cd"), "half a down");

    runCycle();

    auto files = localContents();
    const auto copies = conflictCopies("/");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].rfind("a (conflict - remote - ", 0), 0u) << copies[0];
    EXPECT_EQ(files["/" + copies[0]], "mine");
    files.erase("/" + copies[0]);
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"/Docs/notes.txt", "edited notes"},
                                                         {"/a.txt", "saved since"},
                                                         {"/b.txt", "same"}}));
    EXPECT_TRUE(hiddenFilesNamed(syncDir, ".corvane-aside-").empty());
    EXPECT_TRUE(hiddenFilesNamed(syncDir, ".corvane-download-").empty());
    EXPECT_EQ(other->contents(), localContents());
}

TEST_F(SyncEngineTest, TheSyncedVersionLeftAsideByAKilledDownloadIsNotKeptAsACopy)
{
    writeFile(local("/after.txt"), "synced");
    writeFile(local("/before.txt"), "synced");
    runCycle();
    other->upload("/after.txt", "from the server");
    other->upload("/before.txt", "from the server");
    // Killed just after swapping a download in, before removing the version it replaced.
    writeFile(local("/after.txt"), "from the server");
    writeFile(local("/.corvane-aside-3A4B5C6D-after.txt"), "synced");
    // Killed between naming the download aside and swapping it in.
    writeFile(local("/.corvane-aside-7E8F9A0B-before.txt"), "from the server");

    runCycle();

    EXPECT_TRUE(conflictCopies("/").empty());
    EXPECT_EQ(localContents(),
              (std::map<std::string, std::string>{{"/after.txt", "from the server"},
                                                  {"/before.txt", "from the server"}}));
    EXPECT_TRUE(hiddenFilesNamed(syncDir, ".corvane-aside-").empty());
    EXPECT_EQ(other->contents(), localContents());
}

TEST_F(SyncEngineTest, AMovedAsideFileWhoseNameWasCutNeverReplacesTheFileAtTheShorterName)
{
    // A moved-aside name has room for 231 bytes of the file's name: a longer name is cut, and
    // may then be that of another synced file.
    const std::string shorter = std::string(227, 'p') + ".txt";
    writeFile(local("/" + shorter), "synced");
    runCycle();
    writeFile(local("/.corvane-aside-1A2B3C4D-" + shorter), "the longer name's");

    runCycle();

    EXPECT_EQ(readFile(local("/" + shorter)), "synced");
    std::vector<std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(syncDir)) {
        if (entry.is_regular_file()) {
            contents.push_back(readFile(entry.path()));
        }
    }
    EXPECT_EQ(std::count(contents.begin(), contents.end(), "the longer name's"), 1);
}

TEST_F(SyncEngineTest, AVerifiedDeletionRemovesOnlyTheFileItChecked)
{
    struct Case {
        const char* name;
        std::optional<std::string> before;          // at the path when the deletion starts
        std::optional<std::string> savedMeanwhile;  // saved under the name during the check
        bool removed;
        std::optional<std::string> after;  // at the path afterwards
        std::optional<std::string> copy;   // beside it as a conflict copy
    };
    const Case cases[] = {
        {"unchanged", "synced", std::nullopt, true, std::nullopt, std::nullopt},
        {"unchanged, a new file saved meanwhile", "synced", "new", true, "new", std::nullopt},
        {"edited", "edited", std::nullopt, false, "edited", std::nullopt},
        {"edited, a new file saved meanwhile", "edited", "newer", false, "newer", "edited"},
        {"already gone", std::nullopt, std::nullopt, true, std::nullopt, std::nullopt},
    };
    const std::string path = "/Docs/doc.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(syncDir);
        fs::create_directories(local("/Docs"));
        if (c.before) {
            writeFile(local(path), *c.before);
        }
        const auto state = std::make_shared<LocalStateStore>(syncDir);
        state->set(path, FileState{sha256("synced"), 1, "2024-05-01T09:30:00Z"});
        const SyncContext context = handlerContext(std::make_shared<FolderResolver>(client), state);
        FilePlacement::TestHooks hooks;
        hooks.afterMoveAside = [&](const std::string& moved) {
            EXPECT_EQ(moved, path);
            if (c.savedMeanwhile) {
                writeFile(home.path() / "saved", *c.savedMeanwhile);
                fs::rename(home.path() / "saved", local(path));
            }
        };
        context.transfers->placement().setTestHooks(std::move(hooks));

        EXPECT_EQ(context.transfers->deleteLocalFileIfUnchanged(path, sha256("synced")), c.removed);

        auto files = localContents();
        const auto copies = conflictCopies("/Docs");
        ASSERT_EQ(copies.size(), c.copy ? 1u : 0u);
        if (c.copy) {
            EXPECT_EQ(files["/Docs/" + copies[0]], *c.copy);
            files.erase("/Docs/" + copies[0]);
        }
        const auto expected = c.after ? std::map<std::string, std::string>{{path, *c.after}}
                                      : std::map<std::string, std::string>{};
        EXPECT_EQ(files, expected);
        EXPECT_EQ(state->get(path).has_value(), !c.removed);
        EXPECT_TRUE(hiddenFilesNamed(syncDir, ".corvane-").empty());
    }
}

TEST_F(SyncEngineTest, AnEditSavedBetweenADownloadsSwapsOutlivesAFailedConflictCopy)
{
    const std::string path = "/Docs/doc.txt";
    writeFile(local(path), "edited");  // an edit the server has not seen
    other->upload(path, "server");
    const auto state = std::make_shared<LocalStateStore>(syncDir);
    state->set(path, FileState{sha256("synced"), 1, "2024-05-01T09:30:00Z"});
    const SyncContext context = handlerContext(std::make_shared<FolderResolver>(client), state);
    FilePlacement::TestHooks hooks;
    hooks.betweenSwaps = [&](const std::string&) {
        // Saved over the download in the instant it stands at the name.
        writeFile(home.path() / "saved", "newest");
        fs::rename(home.path() / "saved", local(path));
    };
    hooks.beforeConflictCopy = [](const std::string&) { throw Error("No space left on device"); };
    context.transfers->placement().setTestHooks(std::move(hooks));

    EXPECT_THROW(context.transfers->receiveFile(path, sha256("server"), 2, sha256("synced")),
                 Error);
    EXPECT_EQ(readFile(local(path)), "edited");
    const auto aside = hiddenFilesNamed(syncDir, ".corvane-aside-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(syncDir / aside[0]), "newest");

    // The next start puts it back beside the edit.
    context.transfers->placement().setTestHooks({});
    context.transfers->placement().restoreMovedAside();
    const auto copies = conflictCopies("/Docs");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(local("/Docs/" + copies[0])), "newest");
    EXPECT_EQ(readFile(local(path)), "edited");
}

// A client that runs `hook` when the first upload starts, while every other upload waits for
// it: a moment after the cycle's scan at which only the first entries have started.
class FirstUploadHookClient : public APIClient {
public:
    using APIClient::APIClient;

    UploadInitResponse uploadInit(const UploadInitRequest& request) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_hook) {
                std::exchange(m_hook, nullptr)();
            }
        }
        return APIClient::uploadInit(request);
    }

    void setHook(std::function<void()> hook)
    {
        std::lock_guard lock(m_mutex);
        m_hook = std::move(hook);
    }

private:
    std::mutex m_mutex;
    std::function<void()> m_hook;
};

TEST_F(SyncEngineTest, ADeletionWhoseRecheckFailsRemovesNothing)
{
    writeFile(local("/z.txt"), "synced");
    runCycle();
    other->remove("/z.txt");
    // Four uploads go first, so the deletion starts only after the first upload has begun.
    for (int i = 1; i <= 4; ++i) {
        writeFile(local("/a" + std::to_string(i) + ".txt"), "new " + std::to_string(i));
    }
    auto hooked = std::make_shared<FirstUploadHookClient>(server.baseURL());
    hooked->setToken(client->token());
    // Not readable, though not gone: a link to itself cannot be opened, even by root.
    hooked->setHook([&] {
        fs::remove(local("/z.txt"));
        fs::create_symlink("z.txt", local("/z.txt"));
    });
    client = hooked;

    testing::internal::CaptureStdout();
    runCycle();
    const std::string log = testing::internal::GetCapturedStdout();

    const auto errors = logFields(log, "sync error");
    ASSERT_EQ(errors.size(), 1u) << log;
    EXPECT_EQ(errors[0].rfind(" path=/z.txt error=", 0), 0u) << errors[0];
    EXPECT_TRUE(fs::is_symlink(local("/z.txt")));
    EXPECT_EQ(storedState("/z.txt").value_or(FileState{}).hash, sha256("synced"));
}

TEST_F(SyncEngineTest, AFailedUploadOfTheConflictCopyLeavesTheLocalVersionUploaded)
{
    writeFile(local("/doc.txt"), "v1");
    runCycle();
    other->upload("/doc.txt", "server");
    writeFile(local("/doc.txt"), "local");
    // The first upload goes through, the second fails.
    server.injectFault({{"path_prefix", "/api/sync/upload/init"}, {"delay_ms", 1}});
    server.injectFault({{"path_prefix", "/api/sync/upload/init"}, {"status", 500}});

    testing::internal::CaptureStdout();
    runCycle();
    const std::string log = testing::internal::GetCapturedStdout();

    EXPECT_EQ(readFile(local("/doc.txt")), "local");
    EXPECT_TRUE(serverHas("/doc.txt", "local"));
    const auto copies = conflictCopies("/");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(syncDir / copies[0]), "server");
    EXPECT_EQ(
        logFields(log, "sync error"),
        std::vector<std::string>{" path=/" + copies[0] + " error={\"error\":\"injected fault\"}"});
    EXPECT_EQ(storedState("/doc.txt").value_or(FileState{}).hash, sha256("local"));
}

TEST_F(SyncEngineTest, ATreeThatFailsAtLoadStillPlacesTheFilesOfItsSubFolders)
{
    other->upload("/Docs/top.txt", "top");
    other->upload("/Docs/Sub/deep.txt", "deep");
    std::string docs;
    for (const Folder& folder : client->listFolders()) {
        docs = folder.path == "/Docs" ? folder.id : docs;
    }
    // load() cannot read the tree; the cycle can, and learns the sub-folder from it.
    server.injectFault({{"path_prefix", "/api/folders/" + docs + "/tree"}, {"status", 500}});
    runCycle();
    const std::map<std::string, std::string> expected{{"/Docs/Sub/deep.txt", "deep"},
                                                      {"/Docs/top.txt", "top"}};
    EXPECT_EQ(localContents(), expected);
    EXPECT_EQ(other->contents(), expected);
}

// Open inotify instances of this process: one per running file watcher.
std::size_t inotifyInstances()
{
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += fs::read_symlink(entry.path(), error).string() == "anon_inode:inotify" ? 1 : 0;
    }
    return count;
}

TEST_F(SyncEngineTest, StopWhileFoldersLoadStartsNothingAndReportsNothingMore)
{
    writeFile(local("/a.txt"), "a");
    server.injectFault({{"path_prefix", "/api/folders"}, {"method", "GET"}, {"delay_ms", 300}});
    const std::size_t watchers = inotifyInstances();
    auto engine = makeEngine();
    engine->start();
    ASSERT_TRUE(loop.runUntil([&] {
        std::lock_guard lock(mutex);
        return !statuses.empty();
    }));
    engine->stop();
    // The start-up task lets go of the engine when it ends.
    ASSERT_TRUE(loop.runUntil([&] { return engine.use_count() == 2; }, 10s));
    loop.runUntil([] { return false; }, 50ms);

    EXPECT_EQ(inotifyInstances(), watchers);
    EXPECT_EQ(server.lastRequest().value("target", "").find("/api/sync/ws"), std::string::npos);
    EXPECT_TRUE(other->files().empty());
    std::lock_guard lock(mutex);
    EXPECT_EQ(statuses, std::vector<SyncStatus>{SyncStatus::syncing});
    EXPECT_TRUE(errors.empty());
}

TEST_F(SyncEngineTest, LinksAndNamesThatAreNotUtf8StayLocal)
{
    TempDir outside;
    writeFile(outside.path() / "private.txt", "not for the server");
    writeFile(local("/fine.txt"), "fine");
    fs::create_directory_symlink(outside.path(), local("/Outside"));
    fs::create_symlink(outside.path() / "private.txt", local("/linked.txt"));
    writeFile(local("/bad\xff.txt"), "bad name");

    testing::internal::CaptureStdout();
    runCycle();
    const std::string log = testing::internal::GetCapturedStdout();

    EXPECT_EQ(other->contents(), (std::map<std::string, std::string>{{"/fine.txt", "fine"}}));
    EXPECT_EQ(logFields(log, "file skipped").size(), 1u) << log;
    EXPECT_EQ(readFile(local("/bad\xff.txt")), "bad name");
}

}  // namespace
}  // namespace corvane::test
