#include "Platform/FileEventStream.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/inotify.h>

#include "Platform/Clock.h"
#include "Platform/MainQueue.h"
#include "support/InotifyWatches.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Paths = std::vector<std::string>;
using test::kernelWatchCount;

// Short enough that no test waits long, long enough to tell "at once" from "later".
constexpr auto kShortLatency = 30ms;
constexpr auto kEngineLatency = 500ms;

void writeFile(const fs::path& file, const std::string& text = "x")
{
    std::ofstream(file, std::ios::app) << text;
}

FileEventStream::TestHooks onWake(std::function<void()> hook)
{
    FileEventStream::TestHooks hooks;
    hooks.onWake = std::move(hook);
    return hooks;
}

// Blocks the worker thread at one chosen wake-up until the test lets it go.
class WorkerGate {
public:
    void arm() { m_armed = true; }
    // On the worker: holds it when armed.
    void pass()
    {
        if (!m_armed.exchange(false)) {
            return;
        }
        std::unique_lock lock(m_mutex);
        m_held = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released; });
    }
    void waitUntilHeld()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_held; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::atomic<bool> m_armed{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

class FileEventStreamTest : public ::testing::Test {
protected:
    FileEventStreamTest() : m_root(m_dir.path() / "root"), m_outside(m_dir.path() / "outside")
    {
        fs::create_directories(m_root);
        fs::create_directories(m_outside);
    }

    void TearDown() override
    {
        for (const auto& delivery : m_deliveries) {
            EXPECT_EQ(std::set<std::string>(delivery.begin(), delivery.end()).size(),
                      delivery.size())
                << "a delivery holds a path twice";
        }
    }

    std::unique_ptr<FileEventStream> makeStream(Clock::Duration latency = kShortLatency,
                                                std::shared_ptr<Clock> clock = Clock::system(),
                                                FileEventStream::TestHooks hooks = {})
    {
        hooks.onPath = [this, next = std::move(hooks.onPath)](const std::string& path) {
            ++m_taken;
            if (next) {
                next(path);
            }
        };
        auto stream = std::make_unique<FileEventStream>(
            m_root, latency, [this](const Paths& paths) { m_deliveries.push_back(paths); },
            [this](const std::string& message) { m_warnings.push_back(message); },
            std::move(clock));
        stream->setTestHooks(std::move(hooks));
        return stream;
    }

    std::string at(const fs::path& relative) const
    {
        return relative.empty() ? m_root.string() : (m_root / relative).string();
    }

    bool delivered(const std::string& path) const
    {
        for (const auto& delivery : m_deliveries) {
            for (const auto& each : delivery) {
                if (each == path) {
                    return true;
                }
            }
        }
        return false;
    }

    bool waitFor(const std::string& path)
    {
        return m_loop.runUntil([&] { return delivered(path); });
    }

    bool waitForTaken(int count)
    {
        return m_loop.runUntil([&] { return m_taken.load() >= count; });
    }

    // Waits for the worker without running the main queue, so that what it posts stays queued.
    bool waitForTakenOffLoop(int count) const
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (m_taken < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::set<std::string> allDelivered() const
    {
        std::set<std::string> all;
        for (const auto& delivery : m_deliveries) {
            all.insert(delivery.begin(), delivery.end());
        }
        return all;
    }

    RunLoop m_loop;
    test::TempDir m_dir;
    const fs::path m_root;
    const fs::path m_outside;
    std::vector<Paths> m_deliveries;
    std::vector<std::string> m_warnings;
    std::atomic<int> m_taken{0};  // paths the worker took up, for waiting on it
};

// --- What is reported --------------------------------------------------------------------------

struct ChangeCase {
    const char* name;
    std::function<void(const fs::path& root, const fs::path& outside)> prepare;
    std::function<void(const fs::path& root, const fs::path& outside)> change;
    std::vector<std::string> expected;  // relative to the root; "" is the root itself
};

class ReportedChange : public FileEventStreamTest,
                       public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ReportedChange, DeliversThePathsAndNothingOutsideTheRoot)
{
    const ChangeCase& change = GetParam();
    if (change.prepare) {
        change.prepare(m_root, m_outside);
    }
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    change.change(m_root, m_outside);
    for (const auto& relative : change.expected) {
        EXPECT_TRUE(waitFor(at(relative))) << relative;
    }
    // A marker change, delivered after everything before it, closes the window for stray paths.
    writeFile(m_root / "marker");
    ASSERT_TRUE(waitFor(at("marker")));
    for (const auto& path : allDelivered()) {
        EXPECT_TRUE(path == m_root.string() || path.rfind(m_root.string() + "/", 0) == 0) << path;
    }
}

const ChangeCase kChangeCases[] = {
    {"CreateFile", {}, [](auto& root, auto&) { writeFile(root / "a.txt"); }, {"a.txt"}},
    {"WriteFile",
     [](auto& root, auto&) { writeFile(root / "a.txt"); },
     [](auto& root, auto&) { writeFile(root / "a.txt", "more"); },
     {"a.txt"}},
    {"ChangePermissions",
     [](auto& root, auto&) { writeFile(root / "a.txt"); },
     [](auto& root, auto&) {
         fs::permissions(root / "a.txt", fs::perms::owner_exec, fs::perm_options::add);
     },
     {"a.txt"}},
    {"ChangePermissionsOfTheRoot",
     {},
     [](auto& root, auto&) {
         fs::permissions(root, fs::perms::others_read, fs::perm_options::remove);
     },
     {""}},
    {"DeleteFile",
     [](auto& root, auto&) { writeFile(root / "a.txt"); },
     [](auto& root, auto&) { fs::remove(root / "a.txt"); },
     {"a.txt"}},
    {"RenameWithinTheTree",
     [](auto& root, auto&) {
         writeFile(root / "a.txt");
         fs::create_directory(root / "sub");
     },
     [](auto& root, auto&) { fs::rename(root / "a.txt", root / "sub" / "b.txt"); },
     {"a.txt", "sub/b.txt"}},
    {"MoveFileOut",
     [](auto& root, auto&) { writeFile(root / "a.txt"); },
     [](auto& root, auto& outside) { fs::rename(root / "a.txt", outside / "a.txt"); },
     {"a.txt"}},
    {"MoveFileIn",
     [](auto&, auto& outside) { writeFile(outside / "a.txt"); },
     [](auto& root, auto& outside) { fs::rename(outside / "a.txt", root / "a.txt"); },
     {"a.txt"}},
    {"CreateFolder", {}, [](auto& root, auto&) { fs::create_directory(root / "new"); }, {"new"}},
    {"DeleteFolder",
     [](auto& root, auto&) { fs::create_directories(root / "old" / "inner"); },
     [](auto& root, auto&) { fs::remove_all(root / "old"); },
     {"old/inner", "old"}},
    {"WriteInDeepExistingFolder",
     [](auto& root, auto&) { fs::create_directories(root / "a/b/c/d"); },
     [](auto& root, auto&) { writeFile(root / "a/b/c/d/f"); },
     {"a/b/c/d/f"}},
    {"WriteInHiddenFolder",
     [](auto& root, auto&) { fs::create_directory(root / ".hidden"); },
     [](auto& root, auto&) { writeFile(root / ".hidden" / "f"); },
     {".hidden/f"}},
    {"CreateSymbolicLink",
     {},
     [](auto& root, auto& outside) { fs::create_directory_symlink(outside, root / "link"); },
     {"link"}},
};

INSTANTIATE_TEST_SUITE_P(Changes, ReportedChange, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileEventStreamTest, WatchesEveryFolderOnceAndFollowsNoSymbolicLink)
{
    fs::create_directories(m_root / "a" / "b");
    fs::create_directories(m_root / ".git" / "objects");
    fs::create_directories(m_outside / "target" / "deeper");
    fs::create_directory_symlink(m_outside / "target", m_root / "link");
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    EXPECT_EQ(stream->watchCount(), 5u);  // root, a, a/b, .git, .git/objects
    EXPECT_EQ(kernelWatchCount(), 5u);

    writeFile(m_outside / "target" / "x");
    writeFile(m_root / "marker");
    ASSERT_TRUE(waitFor(at("marker")));
    EXPECT_FALSE(delivered(at("link/x")));

    stream->stop();
    EXPECT_EQ(stream->watchCount(), 0u);
    EXPECT_EQ(kernelWatchCount(), 0u);
}

TEST_F(FileEventStreamTest, HiddenFoldersCanBeLeftUnwatched)
{
    fs::create_directories(m_root / "a");
    fs::create_directories(m_root / ".git" / "objects");
    const auto stream = makeStream();
    stream->setSkipsHiddenFolders(true);
    ASSERT_TRUE(stream->start());
    EXPECT_EQ(stream->watchCount(), 2u);  // root, a

    // Appearing, a hidden folder is reported, but not what it holds.
    fs::create_directories(m_root / ".cache" / "deep");
    writeFile(m_root / ".git" / "objects" / "x");
    ASSERT_TRUE(waitFor(at(".cache")));
    // Renamed to a visible name, it is watched and scanned like a folder moved in; a visible
    // folder renamed to a hidden name is no longer watched.
    writeFile(m_root / ".cache" / "deep" / "kept.txt");
    fs::rename(m_root / ".cache", m_root / "shown");
    EXPECT_TRUE(waitFor(at("shown/deep/kept.txt")));
    fs::rename(m_root / "a", m_root / ".a");
    ASSERT_TRUE(waitFor(at(".a")));
    EXPECT_TRUE(m_loop.runUntil([&] { return stream->watchCount() == 3; }));  // root, shown/…
    writeFile(m_root / ".a" / "inside");
    writeFile(m_root / "marker");
    ASSERT_TRUE(waitFor(at("marker")));
    for (const auto& path : allDelivered()) {
        EXPECT_EQ(path.find(".git/"), std::string::npos) << path;
        EXPECT_EQ(path.find(".a/"), std::string::npos) << path;
    }
    EXPECT_EQ(kernelWatchCount(), 3u);
}

TEST_F(FileEventStreamTest, RootGivenThroughASymbolicLinkKeepsItsPaths)
{
    const fs::path link = m_dir.path() / "root-link";
    fs::create_directory_symlink(m_root, link);
    const auto stream = std::make_unique<FileEventStream>(
        link.string() + "/", kShortLatency,
        [this](const Paths& paths) { m_deliveries.push_back(paths); });
    ASSERT_TRUE(stream->start());
    EXPECT_EQ(stream->root(), link.string());
    writeFile(m_root / "a.txt");
    EXPECT_TRUE(waitFor((link / "a.txt").string()));
}

TEST_F(FileEventStreamTest, StartFailsWithoutAFolderToWatch)
{
    writeFile(m_dir.path() / "file");
    for (const fs::path& root : {m_dir.path() / "missing", m_dir.path() / "file"}) {
        FileEventStream stream(root, kShortLatency, [](const Paths&) {});
        EXPECT_FALSE(stream.start()) << root;
        EXPECT_EQ(stream.watchCount(), 0u);
    }
    EXPECT_EQ(kernelWatchCount(), 0u);
}

// --- Folders that appear, move or go -----------------------------------------------------------

TEST_F(FileEventStreamTest, FilesMadeRightAfterTheirFolderAreReported)
{
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    std::vector<std::string> expected;
    constexpr int kFolders = 20;
    for (int i = 0; i < kFolders; ++i) {
        const fs::path flat = "flat" + std::to_string(i);
        fs::create_directory(m_root / flat);
        for (int j = 0; j < 3; ++j) {
            writeFile(m_root / flat / ("f" + std::to_string(j)));
            expected.push_back(at(flat / ("f" + std::to_string(j))));
        }
        const fs::path nested = fs::path("nest" + std::to_string(i)) / "b" / "c";
        fs::create_directories(m_root / nested);
        writeFile(m_root / nested / "f");
        expected.push_back(at(nested / "f"));
    }
    for (const auto& path : expected) {
        EXPECT_TRUE(waitFor(path)) << path;
    }
    EXPECT_EQ(stream->watchCount(), 1u + 4u * kFolders);
    EXPECT_EQ(kernelWatchCount(), 1u + 4u * kFolders);

    // The new folders' watches report later changes under the right paths.
    writeFile(m_root / "nest7" / "b" / "c" / "later");
    EXPECT_TRUE(waitFor(at("nest7/b/c/later")));
}

TEST_F(FileEventStreamTest, RenamedFolderKeepsItsWatchesUnderTheNewName)
{
    fs::create_directories(m_root / "a" / "sub");
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    fs::rename(m_root / "a", m_root / "b");
    ASSERT_TRUE(waitFor(at("a")));
    ASSERT_TRUE(waitFor(at("b")));

    writeFile(m_root / "b" / "sub" / "x");
    EXPECT_TRUE(waitFor(at("b/sub/x")));
    EXPECT_FALSE(delivered(at("a/sub/x")));
    EXPECT_EQ(stream->watchCount(), 3u);
    EXPECT_EQ(kernelWatchCount(), 3u);
}

TEST_F(FileEventStreamTest, FolderRenamedRightAfterItsCreationIsWatched)
{
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    constexpr int kFolders = 30;
    for (int i = 0; i < kFolders; ++i) {
        const auto name = std::to_string(i);
        fs::create_directory(m_root / ("made" + name));
        fs::rename(m_root / ("made" + name), m_root / ("renamed" + name));
    }
    ASSERT_TRUE(waitFor(at("renamed" + std::to_string(kFolders - 1))));
    ASSERT_TRUE(m_loop.runUntil([&] { return m_taken >= 3 * kFolders; }));
    for (int i = 0; i < kFolders; ++i) {
        writeFile(m_root / ("renamed" + std::to_string(i)) / "f");
    }
    const auto written = [&](int i) { return delivered(at("renamed" + std::to_string(i) + "/f")); };
    m_loop.runUntil([&] {
        for (int i = 0; i < kFolders; ++i) {
            if (!written(i)) {
                return false;
            }
        }
        return true;
    });
    for (int i = 0; i < kFolders; ++i) {
        EXPECT_TRUE(written(i)) << i;
    }
    EXPECT_EQ(stream->watchCount(), 1u + kFolders);
}

TEST_F(FileEventStreamTest, FolderMovedOutIsNoLongerWatched)
{
    fs::create_directories(m_root / "a" / "sub");
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    fs::rename(m_root / "a", m_outside / "a");
    ASSERT_TRUE(waitFor(at("a")));
    EXPECT_TRUE(m_loop.runUntil([&] { return stream->watchCount() == 1; }));
    EXPECT_EQ(kernelWatchCount(), 1u);

    writeFile(m_outside / "a" / "sub" / "x");
    writeFile(m_root / "marker");
    ASSERT_TRUE(waitFor(at("marker")));
    for (const auto& path : allDelivered()) {
        EXPECT_EQ(path.find("sub"), std::string::npos) << path;
    }
}

TEST_F(FileEventStreamTest, FolderMovedInIsWatchedAndItsContentsReported)
{
    fs::create_directories(m_outside / "m" / "n");
    writeFile(m_outside / "m" / "top.txt");
    writeFile(m_outside / "m" / "n" / "deep.txt");
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    fs::rename(m_outside / "m", m_root / "m");
    for (const auto* relative : {"m", "m/top.txt", "m/n", "m/n/deep.txt"}) {
        EXPECT_TRUE(waitFor(at(relative))) << relative;
    }
    EXPECT_EQ(stream->watchCount(), 3u);

    writeFile(m_root / "m" / "n" / "later");
    EXPECT_TRUE(waitFor(at("m/n/later")));
}

TEST_F(FileEventStreamTest, DeletedFoldersReleaseTheirWatches)
{
    fs::create_directories(m_root / "a" / "b" / "c");
    const auto stream = makeStream();
    ASSERT_TRUE(stream->start());
    ASSERT_EQ(stream->watchCount(), 4u);
    fs::remove_all(m_root / "a");
    ASSERT_TRUE(waitFor(at("a")));
    EXPECT_TRUE(m_loop.runUntil([&] { return stream->watchCount() == 1; }));
    EXPECT_EQ(kernelWatchCount(), 1u);
}

// --- Coalescing and timing ---------------------------------------------------------------------

TEST_F(FileEventStreamTest, BurstOfWritesGivesOneDeliveryAfterTheImmediateOne)
{
    writeFile(m_root / "a.txt");
    const auto clock = std::make_shared<ManualClock>();
    std::atomic<int> wakes{0};
    std::atomic<bool> marked{false};
    auto hooks = onWake([&] { ++wakes; });
    hooks.onPath = [&](const std::string& path) { marked = marked || path == at("marker"); };
    const auto stream = makeStream(kEngineLatency, clock, hooks);
    ASSERT_TRUE(stream->start());
    // The kernel folds an event into an identical one still unread, so the count of events
    // from ten writes varies; a marker change after them shows when the worker has seen them.
    writeFile(m_root / "a.txt", "0");
    ASSERT_TRUE(waitForTaken(1));
    for (int i = 1; i < 10; ++i) {
        writeFile(m_root / "a.txt", std::to_string(i));
    }
    fs::create_directory(m_root / "marker");
    ASSERT_TRUE(m_loop.runUntil([&] { return marked.load(); }));
    m_loop.runPending();
    ASSERT_EQ(m_deliveries, (std::vector<Paths>{{at("a.txt")}}));

    const int before = wakes;
    clock->advance(kEngineLatency - 1ms);
    ASSERT_TRUE(m_loop.runUntil([&] { return wakes > before; }));
    m_loop.runPending();
    EXPECT_EQ(m_deliveries.size(), 1u);

    clock->advance(1ms);
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 2; }));
    EXPECT_EQ(m_deliveries[1], (Paths{at("a.txt"), at("marker")}));
    EXPECT_FALSE(m_loop.runUntil([&] { return m_deliveries.size() > 2; }, 50ms));
}

TEST_F(FileEventStreamTest, FirstChangeAfterAQuietPeriodGoesOutAtOnce)
{
    const auto clock = std::make_shared<ManualClock>();
    const auto stream = makeStream(kEngineLatency, clock);
    ASSERT_TRUE(stream->start());
    const auto create = [&](const char* name) {
        fs::create_directory(m_root / name);  // one event per change keeps the count exact
    };

    create("a");
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 1; }));

    // Within the latency: held, then delivered together in the order first seen, each once.
    create("b");
    create("c");
    fs::permissions(m_root / "b", fs::perms::others_read, fs::perm_options::remove);
    ASSERT_TRUE(waitForTaken(4));
    clock->advance(kEngineLatency / 2);
    EXPECT_FALSE(m_loop.runUntil([&] { return m_deliveries.size() > 1; }, 20ms));
    clock->advance(kEngineLatency / 2);
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 2; }));

    // Quiet for the latency: the next change goes out at once, the one after it waits again.
    clock->advance(kEngineLatency);
    create("d");
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 3; }));
    create("e");
    ASSERT_TRUE(waitForTaken(6));
    EXPECT_FALSE(m_loop.runUntil([&] { return m_deliveries.size() > 3; }, 20ms));
    clock->advance(kEngineLatency);
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 4; }));

    EXPECT_EQ(m_deliveries,
              (std::vector<Paths>{{at("a")}, {at("b"), at("c")}, {at("d")}, {at("e")}}));
}

TEST_F(FileEventStreamTest, LaterChangesWaitForTheLatencyOnTheRealClock)
{
    constexpr auto kLatency = 100ms;
    const auto stream = makeStream(kLatency);
    ASSERT_TRUE(stream->start());
    const auto start = std::chrono::steady_clock::now();
    fs::create_directory(m_root / "a");
    fs::create_directory(m_root / "b");
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kLatency);
    EXPECT_EQ(m_deliveries, (std::vector<Paths>{{at("a")}, {at("b")}}));
}

TEST_F(FileEventStreamTest, IdleStreamDoesNotWakeUp)
{
    std::atomic<int> wakes{0};
    const auto stream = makeStream(kShortLatency, Clock::system(), onWake([&] { ++wakes; }));
    ASSERT_TRUE(stream->start());
    m_loop.runUntil([] { return false; }, 100ms);
    EXPECT_EQ(wakes, 0);

    // After a change has gone out in full, the worker sleeps again.
    writeFile(m_root / "a.txt");  // created, then written: at once and after the latency
    ASSERT_TRUE(m_loop.runUntil([&] { return m_deliveries.size() == 2; }));
    const int afterChange = wakes;
    m_loop.runUntil([] { return false; }, 200ms);
    EXPECT_EQ(wakes, afterChange);
}

// --- Overflow and the watch limit --------------------------------------------------------------

TEST_F(FileEventStreamTest, QueueOverflowReportsTheRootAndWatchesNewFolders)
{
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long queueLimit = 0;
    if (!(limitFile >> queueLimit) || queueLimit > 200000) {
        GTEST_SKIP() << "inotify queue too long to flood here: " << queueLimit;
    }
    writeFile(m_root / "a");
    writeFile(m_root / "b");
    WorkerGate gate;
    const auto stream = makeStream(kShortLatency, Clock::system(), onWake([&] { gate.pass(); }));
    ASSERT_TRUE(stream->start());

    gate.arm();
    writeFile(m_root / "trigger");
    gate.waitUntilHeld();
    // Alternate between two files: the kernel folds an event that repeats the one before it.
    for (long i = 0; i <= queueLimit; ++i) {
        fs::permissions(m_root / (i % 2 ? "a" : "b"), fs::perms::owner_all,
                        fs::perm_options::replace);
    }
    fs::create_directory(m_root / "unseen");  // its creation is lost in the overflow
    gate.release();

    ASSERT_TRUE(waitFor(m_root.string()));
    writeFile(m_root / "unseen" / "x");
    EXPECT_TRUE(waitFor(at("unseen/x")));
    EXPECT_EQ(stream->watchCount(), 2u);
    EXPECT_EQ(kernelWatchCount(), 2u);
}

TEST_F(FileEventStreamTest, WatchLimitWarnsOncePerStream)
{
    for (const char* folder : {"a", "b", "c"}) {
        fs::create_directory(m_root / folder);
    }
    int allowed = 2;
    FileEventStream::TestHooks hooks;
    hooks.addWatch = [&allowed](int fd, const char* path, std::uint32_t mask) {
        if (allowed <= 0) {
            errno = ENOSPC;
            return -1;
        }
        --allowed;
        return ::inotify_add_watch(fd, path, mask);
    };
    const auto stream = makeStream(kShortLatency, Clock::system(), hooks);
    ASSERT_TRUE(stream->start());  // the root and one folder are watched
    EXPECT_EQ(stream->watchCount(), 2u);

    // More folders, more failures: still one warning. A restart does not repeat it either.
    fs::create_directory(m_root / "d");
    fs::create_directory(m_root / "e");
    ASSERT_TRUE(waitFor(at("e")));
    stream->stop();
    ASSERT_FALSE(stream->start());  // not even the root can be watched now
    m_loop.runPending();
    ASSERT_EQ(m_warnings.size(), 1u);
    EXPECT_NE(m_warnings[0].find("fs.inotify.max_user_watches"), std::string::npos);
}

TEST_F(FileEventStreamTest, WatchLimitAtTheRootFailsStartAndWarns)
{
    FileEventStream::TestHooks hooks;
    hooks.addWatch = [](int, const char*, std::uint32_t) {
        errno = ENOSPC;
        return -1;
    };
    const auto stream = makeStream(kShortLatency, Clock::system(), hooks);
    EXPECT_FALSE(stream->start());
    EXPECT_TRUE(m_loop.runUntil([&] { return m_warnings.size() == 1; }));
}

// --- Stopping ----------------------------------------------------------------------------------

TEST_F(FileEventStreamTest, NothingIsDeliveredAfterStop)
{
    const auto clock = std::make_shared<ManualClock>();
    const auto stream = makeStream(kEngineLatency, clock);
    ASSERT_TRUE(stream->start());

    // One delivery already posted to the main queue, one still held by the worker.
    fs::create_directory(m_root / "a");
    fs::create_directory(m_root / "b");
    ASSERT_TRUE(waitForTakenOffLoop(2));
    stream->stop();
    stream->stop();
    clock->advance(kEngineLatency);
    fs::create_directory(m_root / "c");
    EXPECT_FALSE(m_loop.runUntil([&] { return !m_deliveries.empty(); }, 50ms));

    // A new start reports only what happens from then on.
    ASSERT_TRUE(stream->start());
    fs::create_directory(m_root / "d");
    ASSERT_TRUE(m_loop.runUntil([&] { return !m_deliveries.empty(); }));
    EXPECT_EQ(m_deliveries, std::vector<Paths>{{at("d")}});
}

TEST_F(FileEventStreamTest, HandlerMayStopTheStream)
{
    std::unique_ptr<FileEventStream> stream;
    int calls = 0;
    stream = std::make_unique<FileEventStream>(m_root, kShortLatency, [&](const Paths&) {
        ++calls;
        stream->stop();
    });
    ASSERT_TRUE(stream->start());
    fs::create_directory(m_root / "a");
    fs::create_directory(m_root / "b");
    ASSERT_TRUE(m_loop.runUntil([&] { return calls == 1; }));
    EXPECT_FALSE(m_loop.runUntil([&] { return calls > 1; }, 3 * kShortLatency));
}

TEST_F(FileEventStreamTest, StopFromAnotherThreadWaitsForARunningHandler)
{
    std::promise<void> entered;
    std::atomic<bool> stopping{false};
    std::atomic<bool> handlerDone{false};
    std::atomic<int> calls{0};
    const auto stream = std::make_unique<FileEventStream>(m_root, kShortLatency, [&](const Paths&) {
        if (calls++ > 0) {
            return;
        }
        entered.set_value();
        while (!stopping) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(20ms);  // let stop() reach its wait
        handlerDone = true;
    });
    ASSERT_TRUE(stream->start());
    bool doneWhenStopped = false;
    std::thread stopper([&, started = entered.get_future()] {
        if (started.wait_for(10s) != std::future_status::ready) {
            stopping = true;
            return;
        }
        stopping = true;
        stream->stop();
        doneWhenStopped = handlerDone;
    });
    fs::create_directory(m_root / "a");
    fs::create_directory(m_root / "b");
    EXPECT_TRUE(m_loop.runUntil([&] { return handlerDone.load(); }));
    stopper.join();
    EXPECT_TRUE(doneWhenStopped);
    m_loop.runPending();
    EXPECT_EQ(calls, 1);
}

TEST_F(FileEventStreamTest, StartStopAndDestroyWhileChangesPourInDeliverNothingLate)
{
    std::jthread writer([this](const std::stop_token& stop) {
        for (int i = 0; !stop.stop_requested(); ++i) {
            const fs::path folder = m_root / ("d" + std::to_string(i % 8));
            std::error_code ignored;
            fs::create_directory(folder, ignored);
            writeFile(folder / "f");
            fs::remove_all(folder, ignored);
        }
    });
    bool stopped = false;
    int late = 0;
    int delivered = 0;
    for (int round = 0; round < 30; ++round) {
        auto stream = std::make_unique<FileEventStream>(m_root, 1ms, [&](const Paths&) {
            ++delivered;
            late += stopped ? 1 : 0;
        });
        stopped = false;
        ASSERT_TRUE(stream->start());
        m_loop.runUntil([] { return false; }, 5ms);
        if (round % 2 == 0) {
            stream->stop();
        } else {
            stream.reset();
        }
        stopped = true;
        m_loop.runPending();
    }
    writer.request_stop();
    EXPECT_GT(delivered, 0);
    EXPECT_EQ(late, 0);
}

}  // namespace
}  // namespace corvane
