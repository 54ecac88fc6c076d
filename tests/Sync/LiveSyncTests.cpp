#include "Sync/SyncEngine.h"

#include <condition_variable>
#include <set>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include "Platform/Error.h"
#include "Sync/SyncEngineFixture.h"
#include "support/InotifyWatches.h"
#include "support/RawHttp.h"

namespace corvane::test {
namespace {

class LiveSyncTest : public testing::Test, public SyncEngineFixture {
protected:
    LiveSyncTest() : SyncEngineFixture({}, quick()) {}

    // Activity entries of `type` for `path`, finished or not.
    std::size_t activities(ActivityType type, const std::string& path) const
    {
        std::size_t count = 0;
        for (const auto* list : {&activity->recentActivities(), &activity->activeTransfers()}) {
            count += std::count_if(list->begin(), list->end(), [&](const ActivityItem& item) {
                return item.type == type && item.filePath == path;
            });
        }
        return count;
    }

    std::vector<SyncStatus> statusesSoFar()
    {
        std::lock_guard lock(mutex);
        return statuses;
    }

    // A change made after the ones before it has reached the server: they have too.
    void waitForQuiet()
    {
        const std::string content = "barrier " + std::to_string(++m_barriers);
        writeFile(local("/barrier.txt"), content);
        ASSERT_TRUE(waitUntil([&] { return serverHas("/barrier.txt", content); }));
        loop.runUntil([] { return false; }, 100ms);
    }

private:
    int m_barriers = 0;
};

TEST_F(LiveSyncTest, LocalFilesAndFoldersReachTheServer)
{
    startLive();
    writeFile(local("/Docs/a.txt"), "one");
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Docs/a.txt", "one"); }));

    writeFile(local("/Docs/a.txt"), "two");
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Docs/a.txt", "two"); }));

    fs::rename(local("/Docs/a.txt"), local("/Docs/b.txt"));
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Docs/b.txt", "two"); }));
    EXPECT_TRUE(waitUntil([&] { return serverLacks("/Docs/a.txt"); }));

    fs::remove(local("/Docs/b.txt"));
    EXPECT_TRUE(waitUntil([&] { return serverLacks("/Docs/b.txt"); }));
    EXPECT_TRUE(waitUntil([&] { return !storedState("/Docs/b.txt"); }));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, FoldersRenamedMovedInAndMovedAwayCarryTheirFiles)
{
    startLive();
    writeFile(local("/Proj/x/1.txt"), "1");
    writeFile(local("/Proj/x/2.txt"), "2");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/Proj/x/2.txt", "2"); }));

    fs::rename(local("/Proj"), local("/Work"));
    EXPECT_TRUE(waitUntil([&] {
        return serverHas("/Work/x/1.txt", "1") && serverHas("/Work/x/2.txt", "2") &&
               serverLacks("/Proj/x/1.txt") && serverLacks("/Proj/x/2.txt");
    })) << serverPaths();

    TempDir outside;
    fs::rename(local("/Work"), outside.path() / "Work");
    EXPECT_TRUE(
        waitUntil([&] { return serverLacks("/Work/x/1.txt") && serverLacks("/Work/x/2.txt"); }));

    writeFile(outside.path() / "In" / "deep" / "3.txt", "3");
    fs::rename(outside.path() / "In", local("/In"));
    EXPECT_TRUE(waitUntil([&] { return serverHas("/In/deep/3.txt", "3"); }));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, AFolderDeletedWithEverythingInItIsDeletedOnTheServer)
{
    startLive();
    const std::vector<std::string> paths{"/Tree/a.txt", "/Tree/Sub/b.txt", "/Tree/Sub/Deep/c.txt"};
    for (const std::string& path : paths) {
        writeFile(local(path), path);
    }
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(paths.begin(), paths.end(),
                           [&](const std::string& path) { return serverHas(path, path); });
    }));
    fs::remove_all(local("/Tree"));
    EXPECT_TRUE(waitUntil([&] {
        return std::all_of(paths.begin(), paths.end(), [&](const std::string& path) {
            return serverLacks(path) && !storedState(path);
        });
    })) << serverPaths();
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, ABurstOfWritesGivesOneUploadAndTouchingGivesNone)
{
    startLive();
    for (int i = 0; i <= 9; ++i) {
        writeFile(local("/burst.txt"), "write " + std::to_string(i));
    }
    ASSERT_TRUE(waitUntil([&] { return serverHas("/burst.txt", "write 9"); }));
    waitForQuiet();
    EXPECT_EQ(activities(ActivityType::upload, "/burst.txt"), 1u);

    // Handled, and not a single request: the hash is compared before the server is asked.
    const auto requests = [&] { return server.lastRequest().at("number").get<std::uint64_t>(); };
    const std::uint64_t requestsBefore = requests();
    const std::size_t reportsBefore = statusesSoFar().size();
    ASSERT_EQ(::utimes(local("/burst.txt").c_str(), nullptr), 0);
    loop.runUntil([] { return false; }, 300ms);
    const auto reports = statusesSoFar();
    EXPECT_GE(std::count(reports.begin() + reportsBefore, reports.end(), SyncStatus::idle), 1);
    EXPECT_EQ(requests(), requestsBefore);
    waitForQuiet();
    EXPECT_EQ(activities(ActivityType::upload, "/burst.txt"), 1u);
}

TEST_F(LiveSyncTest, ConflictCopiesMadeByTheStartUpCycleReachTheServer)
{
    // The cycle writes the copy after its scan; the engine must still see it as a new file.
    writeFile(local("/Docs/report.txt"), "mine");
    other->upload("/Docs/report.txt", "theirs");
    startLive();
    const auto copies = conflictCopies("/Docs");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Docs/" + copies[0], "theirs"); }))
        << serverPaths();
    EXPECT_TRUE(serverHas("/Docs/report.txt", "mine"));
}

TEST_F(LiveSyncTest, AnEditSavedWhileAPushedVersionDownloadsIsKept)
{
    auto editing = std::make_shared<EditingClient>(server.baseURL());
    editing->setToken(client->token());
    client = editing;
    startLive();
    writeFile(local("/doc.txt"), "v1");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/doc.txt", "v1"); }));
    waitForQuiet();
    editing->setEdit([&] {
        writeFile(home.path() / "saved", "saved meanwhile");
        fs::rename(home.path() / "saved", local("/doc.txt"));
    });
    other->upload("/doc.txt", "server");
    // The edit stays and goes up; the pushed version is kept beside it.
    EXPECT_TRUE(waitUntil([&] { return serverHas("/doc.txt", "saved meanwhile"); }));
    EXPECT_EQ(readFile(local("/doc.txt")), "saved meanwhile");
    const auto copies = conflictCopies("/");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(syncDir / copies[0]), "server");
}

TEST_F(LiveSyncTest, ChangesOfTheOtherDeviceAppear)
{
    startLive();
    other->upload("/root.txt", "root");
    other->upload("/N/s/t.txt", "nested");
    EXPECT_TRUE(waitUntil([&] {
        return readFile(local("/root.txt")) == "root" && readFile(local("/N/s/t.txt")) == "nested";
    }));
    // The state file is saved just after the file is renamed into place.
    EXPECT_TRUE(waitUntil(
        [&] { return storedState("/N/s/t.txt").value_or(FileState{}).hash == sha256("nested"); }));

    other->upload("/N/s/t.txt", "nested, edited");
    EXPECT_TRUE(waitUntil([&] { return readFile(local("/N/s/t.txt")) == "nested, edited"; }));

    other->remove("/root.txt");
    other->remove("/N/s/t.txt");
    EXPECT_TRUE(waitUntil(
        [&] { return !fs::exists(local("/root.txt")) && !fs::exists(local("/N/s/t.txt")); }));
    EXPECT_TRUE(fs::is_directory(local("/N/s")));  // folders stay
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, ChangesMadeWhileThePushChannelWasDownArriveAfterItReconnects)
{
    startLive();
    // The socket is dropped and comes back after its back-off of a second; what the other
    // device does in between is never pushed.
    ASSERT_EQ(httpRequest("POST", server.baseURL() + "/__test/ws/drop").status, 200);
    other->upload("/while-down.txt", "missed by the socket");
    other->remove(kMarker);
    EXPECT_TRUE(waitUntil([&] {
        return readFile(local("/while-down.txt")) == "missed by the socket" &&
               !fs::exists(local(kMarker));
    }));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, APushThatComesWhileTheMissedChangesAreReadWaitsForThem)
{
    startLive();
    ASSERT_EQ(httpRequest("POST", server.baseURL() + "/__test/ws/drop").status, 200);
    other->upload("/late.txt", "made while the socket was down");
    // The change log is read slowly after the reconnection, and its answer stands for one given
    // before the deletion made meanwhile: the deletion comes through the new socket first and
    // must still be applied after the creation it follows.
    server.injectFault({{"path_prefix", "/api/sync/events"},
                        {"delay_ms", 400},
                        {"patch", {{{"op", "remove"}, {"path", "/1"}}}}});
    ASSERT_TRUE(waitUntil(
        [&] { return server.lastRequest().value("target", "").starts_with("/api/sync/events"); }));
    other->remove("/late.txt");
    loop.runUntil([] { return false; }, 600ms);
    waitForQuiet();
    EXPECT_FALSE(fs::exists(local("/late.txt")));
    EXPECT_TRUE(serverLacks("/late.txt"));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, ChangesMadeDuringTheStartUpCycleArriveAfterIt)
{
    other->upload("/Slow/a.txt", "before");
    // Every tree is answered late, so the cycle runs long enough for the other device to act.
    server.injectFault({{"path_prefix", "/api/folders/"}, {"delay_ms", 300}, {"count", 20}});
    auto engine = makeEngine();
    engine->start();
    loop.runUntil([] { return false; }, 150ms);
    other->upload("/during.txt", "made during the cycle");
    EXPECT_TRUE(waitUntil([&] {
        return readFile(local("/during.txt")) == "made during the cycle" &&
               readFile(local("/Slow/a.txt")) == "before";
    }));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, ExcludedCreationsAreSkippedAndExcludedDeletionsApplied)
{
    other->upload("/Old/kept.txt", "kept");
    startLive();
    ASSERT_TRUE(waitUntil([&] { return readFile(local("/Old/kept.txt")) == "kept"; }));
    selective->exclude("/Ex");
    selective->exclude("/Old");

    other->upload("/Ex/a.txt", "excluded");
    other->remove("/Old/kept.txt");
    other->upload("/after.txt", "after");
    ASSERT_TRUE(waitUntil([&] { return readFile(local("/after.txt")) == "after"; }));
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(local("/Old/kept.txt")); }));
    loop.runUntil([] { return false; }, 100ms);
    EXPECT_FALSE(fs::exists(local("/Ex/a.txt")));
}

TEST_F(LiveSyncTest, ExcludedFilesInsideAFolderEventStayOffTheServer)
{
    startLive();
    writeFile(local("/Gone/a.txt"), "a");
    writeFile(local("/Gone/Private/p.txt"), "synced before it was excluded");
    ASSERT_TRUE(waitUntil([&] {
        return serverHas("/Gone/a.txt", "a") &&
               serverHas("/Gone/Private/p.txt", "synced before it was excluded");
    }));
    selective->exclude("/Gone/Private");
    selective->exclude("/In/Private");
    selective->exclude("/Ex");
    writeFile(local("/Ex/local.txt"), "excluded from the start");

    // A folder moved in, the sync folder's own event (as after a full event queue) and a folder
    // deleted: each is handled file by file, and the excluded files are not among them.
    TempDir outside;
    writeFile(outside.path() / "In" / "b.txt", "b");
    writeFile(outside.path() / "In" / "Private" / "secret.txt", "secret");
    fs::rename(outside.path() / "In", local("/In"));
    ASSERT_EQ(::utimes(syncDir.c_str(), nullptr), 0);
    fs::remove_all(local("/Gone"));

    EXPECT_TRUE(waitUntil([&] {
        return serverHas("/In/b.txt", "b") && serverLacks("/Gone/a.txt");
    })) << serverPaths();
    loop.runUntil([] { return false; }, 300ms);
    waitForQuiet();
    EXPECT_TRUE(serverLacks("/In/Private/secret.txt"));
    EXPECT_TRUE(serverLacks("/Ex/local.txt"));
    EXPECT_TRUE(serverHas("/Gone/Private/p.txt", "synced before it was excluded"));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(LiveSyncTest, OwnUploadAnnouncedBackIsNeitherDownloadedNorUploadedAgain)
{
    startLive();
    writeFile(local("/own.txt"), "mine");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/own.txt", "mine"); }));
    waitForQuiet();
    EXPECT_EQ(activities(ActivityType::upload, "/own.txt"), 1u);
    EXPECT_EQ(activities(ActivityType::download, "/own.txt"), 0u);
    EXPECT_EQ(readFile(local("/own.txt")), "mine");
}

TEST_F(LiveSyncTest, AnUploadUnderWayWhenTheEngineStopsEndsWithoutAReport)
{
    const auto engine = startLive();
    server.injectFault({{"path_prefix", "/api/sync/upload/init"}, {"delay_ms", 300}});
    const auto reports = [&] {
        std::lock_guard lock(mutex);
        return statuses.size() + errors.size();
    };
    writeFile(local("/late.txt"), "late");
    ASSERT_TRUE(waitUntil([&] {
        const auto& transfers = activity->activeTransfers();
        return std::any_of(transfers.begin(), transfers.end(),
                           [](const ActivityItem& item) { return item.fileName == "late.txt"; });
    }));
    engine->stop();
    const std::size_t atStop = reports();

    EXPECT_TRUE(waitUntil([&] { return serverHas("/late.txt", "late"); }));
    loop.runUntil([] { return false; }, 100ms);
    EXPECT_EQ(reports(), atStop);
}

TEST_F(LiveSyncTest, ACopyOfManyFilesRunsAtMostFourTransfersAtOnce)
{
    startLive();
    std::size_t peak = 0;
    auto subscription =
        activity->observeActiveTransfers([&](const std::vector<ActivityItem>& transfers) {
            peak = std::max(peak, transfers.size());
        });
    server.injectFault({{"path_prefix", "/api/sync/upload/init"}, {"delay_ms", 20}, {"count", 60}});
    TempDir outside;
    for (int i = 0; i < 40; ++i) {
        writeFile(outside.path() / "Many" / ("f" + std::to_string(i) + ".txt"), std::to_string(i));
    }
    fs::rename(outside.path() / "Many", local("/Many"));
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Many/f39.txt", "39"); }));
    waitForQuiet();
    for (int i = 0; i < 40; ++i) {
        EXPECT_TRUE(storedState("/Many/f" + std::to_string(i) + ".txt")) << i;
    }
    EXPECT_GE(peak, 2u);
    EXPECT_LE(peak, SyncEngine::kMaxTransfersInFlight);
}

TEST_F(LiveSyncTest, ASyncFolderInsideAHiddenFolderStillSyncsLocalChanges)
{
    syncDir = home.path() / ".local" / "share" / "Corvane";
    startLive();
    writeFile(local("/visible.txt"), "seen");
    EXPECT_TRUE(waitUntil([&] { return serverHas("/visible.txt", "seen"); }));
    writeFile(local("/.hidden.txt"), "not seen");
    waitForQuiet();
    EXPECT_TRUE(serverLacks("/.hidden.txt"));
}

TEST_F(LiveSyncTest, ASyncFolderGivenInAnotherSpellingStillSyncsLocalChanges)
{
    // The watcher reports paths under the folder's plain spelling.
    syncDir = home.path().string() + "//Corvane/./";
    startLive();
    writeFile(local("/Docs/a.txt"), "seen");
    EXPECT_TRUE(waitUntil([&] { return serverHas("/Docs/a.txt", "seen"); }));
    EXPECT_TRUE(fs::exists(home.path() / "Corvane" / ".corvane" / "sync_state.json"));
}

// A client whose trees of the folders the test holds are answered only once it lets them go: a
// folder lookup that lasts as long as the test needs.
class HeldTreeClient : public APIClient {
public:
    using APIClient::APIClient;

    FolderTree getFolderTree(const std::string& folderId) override
    {
        {
            std::unique_lock lock(m_mutex);
            ++m_waiting[folderId];
            m_changed.wait(lock, [&] { return !m_held.contains(folderId); });
            --m_waiting[folderId];
        }
        return APIClient::getFolderTree(folderId);
    }

    void hold(const std::string& folderId)
    {
        std::lock_guard lock(m_mutex);
        m_held.insert(folderId);
    }

    void release(const std::string& folderId)
    {
        {
            std::lock_guard lock(m_mutex);
            m_held.erase(folderId);
        }
        m_changed.notify_all();
    }

    void releaseAll()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held.clear();
        }
        m_changed.notify_all();
    }

    // Whether a request for the folder's tree is being held.
    bool holding(const std::string& folderId)
    {
        std::lock_guard lock(m_mutex);
        return m_waiting[folderId] > 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::string> m_held;
    std::map<std::string, int> m_waiting;
};

// Pushes for folders another device made after the engine started wait for a folder lookup.
class PushOrderTest : public LiveSyncTest {
protected:
    PushOrderTest()
    {
        held = std::make_shared<HeldTreeClient>(server.baseURL());
        held->setToken(client->token());
        client = held;
    }

    ~PushOrderTest() override { held->releaseAll(); }

    // A top-level folder the engine does not know yet; its tree is held.
    std::string heldFolder(const std::string& name)
    {
        const std::string id = other->client().createFolder(name).id;
        held->hold(id);
        return id;
    }

    // Long enough for a push to reach the engine, or for a local change to pass the debounce.
    void settle()
    {
        loop.runUntil([] { return false; }, 200ms);
    }

    std::shared_ptr<HeldTreeClient> held;
};

TEST_F(PushOrderTest, ALocalChangeWaitsForAnEarlierPushOfItsPath)
{
    startLive();
    const std::string folder = heldFolder("New");
    other->upload("/New/a.txt", "theirs");
    ASSERT_TRUE(waitUntil([&] { return held->holding(folder); }));
    writeFile(local("/New/a.txt"), "mine");
    settle();
    EXPECT_TRUE(serverHas("/New/a.txt", "theirs"));  // the local change has not gone ahead

    held->release(folder);
    // In order: the pushed version goes beside the local edit, which then goes up on top of it.
    EXPECT_TRUE(waitUntil([&] { return serverHas("/New/a.txt", "mine"); }));
    waitForQuiet();
    const auto copies = conflictCopies("/New");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(local("/New/" + copies[0])), "theirs");
    EXPECT_EQ(readFile(local("/New/a.txt")), "mine");
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

TEST_F(PushOrderTest, ACreationAndADeletionInANewFolderApplyInOrder)
{
    startLive();
    const std::string fresh = heldFolder("Fresh");
    const std::string slow = heldFolder("Slow");
    other->upload("/Fresh/c.txt", "c");
    ASSERT_TRUE(waitUntil([&] { return held->holding(fresh); }));
    other->upload("/Slow/d.txt", "d");
    other->upload("/Fresh/a.txt", "a");  // waits for its folder behind the other two
    settle();
    held->release(fresh);
    ASSERT_TRUE(waitUntil([&] { return readFile(local("/Fresh/c.txt")) == "c"; }));
    ASSERT_TRUE(waitUntil([&] { return held->holding(slow); }));

    // Its folder is known now, but the creation of the file still waits behind the lookup of
    // the other folder: the deletion must not overtake it.
    other->remove("/Fresh/a.txt");
    settle();
    held->release(slow);
    EXPECT_TRUE(waitUntil([&] {
        return readFile(local("/Slow/d.txt")) == "d" &&
               activities(ActivityType::download, "/Fresh/a.txt") == 1 &&
               !fs::exists(local("/Fresh/a.txt"));
    }));
    waitForQuiet();
    EXPECT_FALSE(fs::exists(local("/Fresh/a.txt")));
    EXPECT_FALSE(storedState("/Fresh/a.txt"));
    EXPECT_TRUE(serverLacks("/Fresh/a.txt"));
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

// A gate where background threads wait until the test opens it; the test can see that one came.
// Thread-safe.
class Gate {
public:
    void waitUntilOpen()
    {
        std::unique_lock lock(m_mutex);
        m_reached = true;
        m_opened.wait(lock, [&] { return m_open; });
    }

    bool reached() const
    {
        std::lock_guard lock(m_mutex);
        return m_reached;
    }

    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_opened.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_reached = false;
    bool m_open = false;
};

// A client whose trees, from the second one on (the start-up cycle's, when the account has one
// folder: the first teaches the folder resolver), wait until the test lets them go and then fail.
class FailingCycleClient : public APIClient {
public:
    using APIClient::APIClient;

    FolderTree getFolderTree(const std::string& folderId) override
    {
        if (++m_calls < 2) {
            return APIClient::getFolderTree(folderId);
        }
        m_gate.waitUntilOpen();
        throw Error("the tree was refused");
    }

    bool holding() const { return m_gate.reached(); }
    void release() { m_gate.open(); }

private:
    std::atomic<int> m_calls{0};
    Gate m_gate;
};

TEST_F(LiveSyncTest, AFailedStartUpStopsWatchingAndListeningAndDropsWhatCameMeanwhile)
{
    other->upload("/top.txt", "top");  // the account's one folder
    auto failing = std::make_shared<FailingCycleClient>(server.baseURL());
    failing->setToken(client->token());
    client = failing;
    makeEngine()->start();
    ASSERT_TRUE(waitUntil([&] { return failing->holding(); }));
    // The cycle reads the trees: the folder is watched and the push channel is open.
    EXPECT_GT(kernelWatchCount(), 0u);
    writeFile(local("/during.txt"), "made during the cycle");
    other->upload("/pushed.txt", "pushed during the cycle");
    loop.runUntil([] { return false; }, 200ms);

    failing->release();
    ASSERT_TRUE(waitUntil([&] { return !errorsSoFar().empty(); }));
    EXPECT_EQ(errorsSoFar(), std::vector<std::string>{"the tree was refused"});
    EXPECT_EQ(kernelWatchCount(), 0u);
    writeFile(local("/after.txt"), "made after the failure");
    other->upload("/pushed-after.txt", "pushed after the failure");
    loop.runUntil([] { return false; }, 300ms);
    EXPECT_TRUE(serverLacks("/during.txt"));
    EXPECT_TRUE(serverLacks("/after.txt"));
    EXPECT_FALSE(fs::exists(local("/pushed.txt")));
    EXPECT_FALSE(fs::exists(local("/pushed-after.txt")));
    std::lock_guard lock(mutex);
    EXPECT_EQ(statuses, std::vector<SyncStatus>{SyncStatus::syncing});
}

// A client that runs a write once, just before the upload of a file with the given name starts:
// the moment a writer that paused longer than the debounce goes on writing.
class WritingClient : public APIClient {
public:
    using APIClient::APIClient;

    UploadInitResponse uploadInit(const UploadInitRequest& request) override
    {
        std::function<void()> write;
        {
            std::lock_guard lock(m_mutex);
            if (request.path.ends_with(m_name)) {
                write = std::exchange(m_write, nullptr);
            }
        }
        if (write) {
            write();
        }
        return APIClient::uploadInit(request);
    }

    void writeBeforeUpload(const std::string& name, std::function<void()> write)
    {
        std::lock_guard lock(m_mutex);
        m_name = name;
        m_write = std::move(write);
    }

private:
    std::mutex m_mutex;
    std::string m_name;
    std::function<void()> m_write;
};

TEST_F(LiveSyncTest, AFileStillBeingWrittenIsSentOnceItIsClosed)
{
    auto writing = std::make_shared<WritingClient>(server.baseURL());
    writing->setToken(client->token());
    client = writing;
    startLive();
    struct Case {
        std::string name;
        std::string first;
        std::string second;  // written on after the first part was hashed
        bool inPlace;        // over the first part rather than after it
    };
    // Grown (seen before the content goes out), or the same length with other bytes (seen once
    // they have been sent).
    const Case cases[] = {{"longer.txt", "first part ", "second part", false},
                          {"same-size.txt", "first part ", "FIRST PART ", true}};
    for (const Case& c : cases) {
        const fs::path file = local("/" + c.name);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const auto wroteOn = std::make_shared<std::atomic<bool>>(false);
        const off_t at = c.inPlace ? 0 : static_cast<off_t>(c.first.size());
        writing->writeBeforeUpload(c.name, [fd, c, at, wroteOn] {
            *wroteOn = ::pwrite(fd, c.second.data(), c.second.size(), at) ==
                       static_cast<ssize_t>(c.second.size());
        });
        ASSERT_EQ(::write(fd, c.first.data(), c.first.size()),
                  static_cast<ssize_t>(c.first.size()));
        EXPECT_TRUE(waitUntil([&] { return wroteOn->load(); })) << c.name;
        loop.runUntil([] { return false; }, 100ms);
        EXPECT_TRUE(serverLacks("/" + c.name)) << c.name;
        ::close(fd);
        const std::string written = c.inPlace ? c.second : c.first + c.second;
        EXPECT_TRUE(waitUntil([&] { return serverHas("/" + c.name, written); })) << c.name;
    }
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
}

// A client whose deletions go through the test's clock and are recorded with their times. They
// wait at a gate until the test opens it, so that the test can stop moving the clock before the
// first attempt starts.
class RecordingClient : public APIClient {
public:
    RecordingClient(const std::string& baseURL, std::shared_ptr<Clock> clock)
        : APIClient(baseURL), m_clock(std::move(clock))
    {
    }

    void deleteFile(const std::string& path, const std::string& folderId) override
    {
        m_gate.waitUntilOpen();
        {
            std::lock_guard lock(m_mutex);
            m_deletions.push_back(m_clock->now());
        }
        APIClient::deleteFile(path, folderId);
    }

    std::vector<Clock::TimePoint> deletions() const
    {
        std::lock_guard lock(m_mutex);
        return m_deletions;
    }

    Gate& gate() { return m_gate; }

private:
    Gate m_gate;
    const std::shared_ptr<Clock> m_clock;
    mutable std::mutex m_mutex;
    std::vector<Clock::TimePoint> m_deletions;
};

class RetryTest : public testing::Test, public SyncEngineFixture {
protected:
    RetryTest() : SyncEngineFixture({}, quick(std::make_shared<ManualClock>()))
    {
        manualClock = std::static_pointer_cast<ManualClock>(options.clock);
        recording = std::make_shared<RecordingClient>(server.baseURL(), manualClock);
        recording->setToken(client->token());
        client = recording;
    }

    ~RetryTest() override { recording->gate().open(); }

    // Waits until the engine sleeps before its next attempt (or has reported an error), then
    // moves the clock on in steps of 100 ms until that sleep ends. Nothing else moves the clock
    // meanwhile, so however slowly the engine's threads run, the attempts' times are exact to a
    // step.
    void passTheWaitBeforeTheNextAttempt()
    {
        EXPECT_TRUE(loop.runUntil(
            [&] { return manualClock->sleepers() > 0 || !errorsSoFar().empty(); }, 20s));
        while (manualClock->sleepers() > 0) {
            manualClock->advance(100ms);
        }
    }

    std::shared_ptr<RecordingClient> recording;
};

TEST_F(RetryTest, ARefusedDeletionIsTriedThreeTimesThenReported)
{
    startLive();
    writeFile(local("/doomed.txt"), "doomed");
    ASSERT_TRUE(waitUntil([&] { return serverHas("/doomed.txt", "doomed"); }));
    // Let the write's later events (the file closed after writing) be handled first: handled
    // after the removal, they would send a deletion of their own.
    waitUntil([] { return false; }, 600ms);
    for (const std::string body : {"first", "second", "third"}) {
        server.injectFault({{"path_prefix", "/api/sync/delete"}, {"status", 500}, {"body", body}});
    }
    fs::remove(local("/doomed.txt"));
    // The clock moves on until the watcher's latency and the debounce have passed and the first
    // attempt is at the gate; from then on only the test's steps move it.
    ASSERT_TRUE(waitUntil([&] { return recording->gate().reached(); }));
    recording->gate().open();
    passTheWaitBeforeTheNextAttempt();
    passTheWaitBeforeTheNextAttempt();
    ASSERT_TRUE(loop.runUntil([&] { return !errorsSoFar().empty(); }, 20s));
    EXPECT_EQ(errorsSoFar(), std::vector<std::string>{"Sync failed: third"});
    const auto times = recording->deletions();
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[1] - times[0], 1s);
    EXPECT_EQ(times[2] - times[1], 2s);
    EXPECT_TRUE(storedState("/doomed.txt"));  // kept: the server still has the file
    EXPECT_FALSE(serverLacks("/doomed.txt"));
}

}  // namespace
}  // namespace corvane::test
