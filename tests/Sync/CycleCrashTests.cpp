// Crash safety of the full sync cycle: an engine in a child process works through a large cycle
// (uploads, downloads, conflicts and deletions, some files large enough that a transfer is in
// flight for a while) and is killed with SIGKILL at many points. After each kill the folder must
// hold no partial file under a final name and a state file that parses; an engine started
// afterwards must bring the folder and the server to the same files, losing nothing. The kill
// points are drawn from a seed that is printed (CORVANE_CRASH_SEED=<seed> repeats them);
// CORVANE_CRASH_LONG=1 adds many more kill points (minutes instead of seconds).

#include <algorithm>
#include <iostream>
#include <random>

#include "Sync/CrashSupport.h"

namespace corvane::test {
namespace {

constexpr auto kCycleTimeout = std::chrono::seconds(60);

// Where and how a child is killed: once `count` lines beginning with `prefix` have come (a count
// of 0 starts at once), after `delayMs` more milliseconds.
struct KillPoint {
    std::string prefix;
    int count = 0;
    int delayMs = 0;
};

std::ostream& operator<<(std::ostream& out, const KillPoint& point)
{
    return out << "after " << point.count << " x \"" << point.prefix << "\" + " << point.delayMs
               << " ms";
}

// Where a kill landed: at its point, after the start-up cycle had ended without reaching the
// point (nothing more would begin), or nowhere (the child went silent).
enum class Landing { atPoint, afterCycle, nowhere };

std::ostream& operator<<(std::ostream& out, Landing landing)
{
    static constexpr const char* kNames[] = {"at its point", "after the cycle", "nowhere"};
    return out << kNames[static_cast<int>(landing)];
}

// The files of the scenario as they must end up, and every version anybody wrote.
struct Expectation {
    std::map<std::string, std::string> finalContent;    // path -> content at that path
    std::map<std::string, std::string> conflictCopies;  // path -> server version kept beside it
    std::set<std::string> known;                        // hashes of every version written
};

class CycleCrashTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prepare();
        if (s_prepared->ready) {
            measureCycle();
        }
    }
    static void TearDownTestSuite() { s_prepared.reset(); }

    // One prepared scenario for all kill points: a first sync of a base set, then changes on
    // both sides while no engine runs. Kept as a copy of the server's data and of the folder.
    struct Prepared {
        TempHome home;  // shared by the whole suite: the children inherit it
        TempDir work;
        fs::path server;
        fs::path folder;
        std::string token;
        Expectation expectation;
        int cycleDones = 0;  // "done" lines of the cycle on the scenario, run without a kill
        bool ready = false;
    };

    // A fresh copy of the prepared scenario with a server of its own, for one round.
    struct Scenario {
        explicit Scenario(const Prepared& p)
            : syncDir(dir.path() / "folder"), server(copyOf(p, dir.path())),
              remote(server.baseURL(), p.token)
        {
        }

        TempDir dir;
        fs::path syncDir;
        ServerProcess server;
        OtherDevice remote;

    private:
        // Copies the prepared server data and folder into `into`; the options of a server on
        // the copy.
        static ServerOptions copyOf(const Prepared& p, const fs::path& into)
        {
            fs::copy(p.server, into / "server", fs::copy_options::recursive);
            fs::copy(p.folder, into / "folder",
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            ServerOptions options;
            options.dataDir = into / "server";
            return options;
        }
    };

    static void prepare();
    static void measureCycle();
    void runRound(const KillPoint& first, const KillPoint& second);

    static inline std::unique_ptr<Prepared> s_prepared;
};

// Waits for the kill point, or for the end of the start-up cycle should that come first, then
// for the point's delay, and kills the child.
Landing killAt(ProbeChild& child, const KillPoint& point)
{
    const auto reached = [&] { return child.countOf(point.prefix) >= point.count; };
    if (!reached()) {
        child.readUntil([&](const std::string&) { return reached() || child.isIdle(); },
                        kCycleTimeout);
    }
    const Landing landing = reached()        ? Landing::atPoint
                            : child.isIdle() ? Landing::afterCycle
                                             : Landing::nowhere;
    child.pump(std::chrono::milliseconds(point.delayMs));
    child.kill();
    return landing;
}

void CycleCrashTest::prepare()
{
    s_prepared = std::make_unique<Prepared>();
    Prepared& p = *s_prepared;
    p.server = p.work.path() / "server";
    p.folder = p.work.path() / "folder";
    const fs::path scratch = p.work.path() / "scratch";
    Expectation& e = p.expectation;

    ServerOptions serverOptions;
    serverOptions.dataDir = p.server;
    auto server = std::make_unique<ServerProcess>(serverOptions);
    p.token = server->signIn("ada@example.com");
    OtherDevice remote(server->baseURL(), p.token, OtherDevice::Folders::kept);

    const auto writeLocal = [&](const std::string& path, const std::string& content) {
        writeAtomically(scratch, p.folder / path.substr(1), content);
        e.known.insert(sha256(content));
    };
    const auto writeRemote = [&](const std::string& path, const std::string& content) {
        remote.upload(path, content);
        e.known.insert(sha256(content));
    };
    const std::size_t sizes[] = {12, 700, 4'000, 30'000, 90'000};
    const auto small = [&](const std::string& label, int i) {
        return makeContent(label, sizes[static_cast<std::size_t>(i) % std::size(sizes)]);
    };
    constexpr std::size_t kLarge = 6'000'000;

    // The base set, half made on each side, synced once.
    constexpr int kBase = 160;
    std::vector<std::string> base;
    for (int i = 0; i < kBase; ++i) {
        const std::string path =
            i % 16 == 0 ? "/top" + std::to_string(i) + ".txt"
                        : "/Base/d" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".txt";
        const std::string content = small("base " + path, i);
        base.push_back(path);
        e.finalContent[path] = content;
        if (i % 2 == 0) {
            writeLocal(path, content);
        } else {
            writeRemote(path, content);
        }
    }
    for (const auto& [path, local] :
         {std::pair{"/Big/local.bin", true}, std::pair{"/Big/remote.bin", false}}) {
        const std::string content = makeContent(std::string("base ") + path, kLarge);
        e.finalContent[path] = content;
        local ? writeLocal(path, content) : writeRemote(path, content);
    }
    {
        ProbeChild child(server->baseURL(), p.token, p.folder);
        ASSERT_TRUE(child.waitForLines("idle", 1, kCycleTimeout));
        ASSERT_TRUE(waitForQuiet(child, remote, p.folder, kCycleTimeout));
        child.kill();
    }

    // Changes while no engine runs, one kind per base file.
    remote.refresh();
    for (int i = 0; i < kBase; ++i) {
        const std::string& path = base[static_cast<std::size_t>(i)];
        const std::string localEdit = small("local edit " + path, i + 1);
        const std::string remoteEdit = small("remote edit " + path, i + 2);
        switch (i % 10) {
        case 0:  // edited on the server: downloaded
            writeRemote(path, remoteEdit);
            e.finalContent[path] = remoteEdit;
            break;
        case 1:  // deleted on the server: deleted here
            remote.remove(path);
            e.finalContent.erase(path);
            break;
        case 2:  // edited here: uploaded
            writeLocal(path, localEdit);
            e.finalContent[path] = localEdit;
            break;
        case 3:  // deleted here while away: comes back
            fs::remove(p.folder / path.substr(1));
            break;
        case 4:  // edited on both sides: the local edit wins, the server's stays as a copy
            writeLocal(path, localEdit);
            writeRemote(path, remoteEdit);
            e.finalContent[path] = localEdit;
            e.conflictCopies[path] = remoteEdit;
            break;
        case 5:  // deleted on the server, edited here: the edit is uploaded
            remote.remove(path);
            writeLocal(path, localEdit);
            e.finalContent[path] = localEdit;
            break;
        default:
            break;
        }
    }
    for (int i = 0; i < 60; ++i) {
        const std::string folder = "/d" + std::to_string(i % 4) + "/n" + std::to_string(i);
        const std::string up = "/NewLocal" + folder + ".txt";
        const std::string down = "/NewRemote" + folder + ".txt";
        e.finalContent[up] = small("new " + up, i);
        e.finalContent[down] = small("new " + down, i + 3);
        writeLocal(up, e.finalContent[up]);
        writeRemote(down, e.finalContent[down]);
    }
    for (int i = 0; i < 10; ++i) {
        // Made on both sides without a common past: one with different content, one the same.
        const std::string differ = "/NewBoth/c" + std::to_string(i) + ".txt";
        const std::string same = "/NewBoth/s" + std::to_string(i) + ".txt";
        e.finalContent[differ] = small("mine " + differ, i);
        e.conflictCopies[differ] = small("theirs " + differ, i + 1);
        e.finalContent[same] = small("both " + same, i);
        writeLocal(differ, e.finalContent[differ]);
        writeRemote(differ, e.conflictCopies[differ]);
        writeLocal(same, e.finalContent[same]);
        writeRemote(same, e.finalContent[same]);
    }
    for (int i = 0; i < 2; ++i) {
        const std::string up = "/NewLocal/big" + std::to_string(i) + ".bin";
        const std::string down = "/NewRemote/big" + std::to_string(i) + ".bin";
        e.finalContent[up] = makeContent("new " + up, kLarge + 1000 * i);
        e.finalContent[down] = makeContent("new " + down, kLarge + 1000 * i);
        writeLocal(up, e.finalContent[up]);
        writeRemote(down, e.finalContent[down]);
    }
    e.finalContent["/Big/remote.bin"] = makeContent("remote edit /Big/remote.bin", kLarge);
    writeRemote("/Big/remote.bin", e.finalContent["/Big/remote.bin"]);
    server.reset();  // stopped: its data folder is complete
    p.ready = true;
}

// Runs the cycle on a copy of the scenario once without a kill, to learn how deep it goes.
void CycleCrashTest::measureCycle()
{
    Prepared& p = *s_prepared;
    Scenario scenario(p);
    ProbeChild child(scenario.server.baseURL(), p.token, scenario.syncDir);
    p.ready = child.waitForLines("idle", 1, kCycleTimeout);
    p.cycleDones = child.countOf("done");
    child.kill();
    std::cout << "the uninterrupted cycle: " << child.countOf("begin") << " transfers begun, "
              << p.cycleDones << " done\n";
}

void CycleCrashTest::runRound(const KillPoint& first, const KillPoint& second)
{
    const Prepared& p = *s_prepared;
    const Expectation& e = p.expectation;
    Scenario scenario(p);
    const fs::path& syncDir = scenario.syncDir;
    OtherDevice& remote = scenario.remote;

    std::size_t temporariesSeen = 0;
    Landing secondLanding = Landing::nowhere;
    for (const KillPoint* point : {&first, &second}) {
        ProbeChild child(scenario.server.baseURL(), p.token, syncDir);
        const Landing landing = killAt(child, *point);
        std::ostringstream when;
        when << "killed " << *point << ", " << landing;
        // The first engine runs the whole cycle: it must reach every point drawn within it. The
        // second one recovers what the first left, which may end before its point.
        if (point == &first) {
            ASSERT_EQ(landing, Landing::atPoint) << when.str();
        } else {
            ASSERT_NE(landing, Landing::nowhere) << when.str();
            secondLanding = landing;
        }
        const FolderSurvey survey = surveyFolder(syncDir);
        expectIntactAfterCrash(survey, e.known, when.str());
        temporariesSeen += survey.downloadTemporaries.size() + survey.stateTemporaries.size() +
                           survey.movedAside.size();
    }
    std::cout << "kill " << first << ", then " << second << " (" << secondLanding
              << "): " << temporariesSeen << " temporaries left by the kills\n";

    ProbeChild child(scenario.server.baseURL(), p.token, syncDir);
    ASSERT_TRUE(child.waitForLines("idle", 1, kCycleTimeout));
    ASSERT_TRUE(waitForQuiet(child, remote, syncDir, kCycleTimeout))
        << differences(surveyFolder(syncDir).files, remote.hashes());
    EXPECT_TRUE(child.errors().empty()) << testing::PrintToString(child.errors());

    const FolderSurvey survey = surveyFolder(syncDir);
    expectIntactAfterCrash(survey, e.known, "after recovery");
    EXPECT_TRUE(survey.downloadTemporaries.empty())
        << testing::PrintToString(survey.downloadTemporaries);
    EXPECT_TRUE(survey.movedAside.empty()) << testing::PrintToString(survey.movedAside);
    EXPECT_TRUE(survey.stateTemporaries.empty()) << testing::PrintToString(survey.stateTemporaries);
    ASSERT_TRUE(survey.stateFile);

    std::map<std::string, int> copiesFound;
    for (const auto& [path, hash] : survey.files) {
        const auto expected = e.finalContent.find(path);
        if (expected != e.finalContent.end()) {
            EXPECT_EQ(hash, sha256(expected->second)) << path;
            continue;
        }
        const auto origin =
            std::find_if(e.conflictCopies.begin(), e.conflictCopies.end(), [&](const auto& entry) {
                return path.starts_with(conflictCopyPrefix(entry.first));
            });
        if (origin == e.conflictCopies.end()) {
            ADD_FAILURE() << "unexpected file " << path;
        } else {
            EXPECT_EQ(hash, sha256(origin->second)) << path;
            ++copiesFound[origin->first];
        }
    }
    for (const auto& [path, content] : e.finalContent) {
        EXPECT_TRUE(survey.files.count(path)) << "lost " << path;
    }
    for (const auto& [path, content] : e.conflictCopies) {
        EXPECT_GE(copiesFound[path], 1) << "no conflict copy of " << path;
    }
    child.kill();
}

// Kill points over the whole cycle, drawn from the seed: at once, at the first transfers, while
// each kind of large transfer is in flight, at random depths into the cycle (of the `dones`
// "done" lines an uninterrupted one gives, kept short of its end, which varies a little) and
// after its end, in live sync. Each round then kills the next engine early as well, so that
// recovery itself is interrupted once unless it ends first.
std::vector<KillPoint> killPoints(std::uint64_t seed, int dones)
{
    std::mt19937_64 random(seed);
    const auto below = [&](int bound) {
        return static_cast<int>(random() % static_cast<unsigned>(bound));
    };
    std::vector<KillPoint> points{
        {"", 0, below(60)},
        {"begin", 1 + below(3), below(5)},
        {"begin download /NewRemote/big" + std::to_string(below(2)) + ".bin", 1, below(15)},
        {"begin download /Big/remote.bin", 1, below(15)},
        {"begin upload /NewLocal/big" + std::to_string(below(2)) + ".bin", 1, below(15)},
        {"idle", 1, below(5)},
    };
    const int deepest = std::max(1, dones * 9 / 10);
    for (int i = longRun() ? 60 : 3; i > 0; --i) {
        points.push_back({"done", 1 + below(deepest), below(5)});
    }
    return points;
}

// The kill points are split in two halves, run as two cases, so that each stays short.
class CycleCrashHalfTest : public CycleCrashTest, public testing::WithParamInterface<int> {};

TEST_P(CycleCrashHalfTest, KilledAnywhereTheCycleLeavesNoPartialFileAndRecoversEverything)
{
    ASSERT_TRUE(s_prepared && s_prepared->ready);
    const std::uint64_t seed = crashSeed();
    std::mt19937_64 random(seed + 1);
    const std::vector<KillPoint> points = killPoints(seed, s_prepared->cycleDones);
    for (std::size_t i = static_cast<std::size_t>(GetParam()); i < points.size(); i += 2) {
        SCOPED_TRACE(testing::PrintToString(points[i]));
        runRound(points[i], KillPoint{"begin", 2, static_cast<int>(random() % 5)});
        if (HasFatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Halves, CycleCrashHalfTest, testing::Values(0, 1));

}  // namespace
}  // namespace corvane::test
