// Crash and restart during live sync: an engine in a child process follows local edits of the
// test and edits of another device on the server, and is killed with SIGKILL at random moments
// (during its start-up cycle as well as live), with more edits on both sides while it is down.
// After each kill the folder must be whole; in the end a new engine must bring the folder and
// the server to the same files, and the last version written to every path must be there, at
// its path or as a conflict copy beside it. The choices come from a seed that is printed
// (CORVANE_CRASH_SEED=<seed> repeats them); CORVANE_CRASH_LONG=1 runs ten times the steps.

#include <random>

#include <nlohmann/json.hpp>

#include "API/APIError.h"
#include "Sync/CrashSupport.h"

namespace corvane::test {
namespace {

constexpr auto kTimeout = std::chrono::seconds(60);

// What the test last did to a path: nothing to keep after a deletion, else that content.
struct LastWrite {
    bool deleted = false;
    std::string content;
    std::string side;
};

class LiveCrashTest : public testing::TestWithParam<int> {
protected:
    LiveCrashTest()
        : m_token(m_server.signIn("ada@example.com")), m_syncDir(m_home.path() / "Corvane"),
          m_scratch(m_home.path() / "scratch"),
          m_remote(m_server.baseURL(), m_token, OtherDevice::Folders::kept)
    {
        for (int i = 0; i < 8; ++i) {
            const std::string n = std::to_string(i);
            m_paths.insert(m_paths.end(), {"/a" + n + ".txt", "/Work/b" + n + ".txt",
                                           "/Work/Deep/c" + n + ".txt"});
        }
    }

    std::unique_ptr<ProbeChild> startChild()
    {
        return std::make_unique<ProbeChild>(m_server.baseURL(), m_token, m_syncDir);
    }

    const std::string& pickPath(std::mt19937_64& random) const
    {
        return m_paths[random() % m_paths.size()];
    }

    std::string nextContent(const std::string& side, const std::string& path,
                            std::mt19937_64& random)
    {
        // Mostly small, some large enough that a download is in flight for a while.
        static constexpr std::size_t kSizes[] = {20, 3'000, 40'000, 40'000, 900'000};
        std::string content = makeContent(side + " " + std::to_string(++m_versions) + " " + path,
                                          kSizes[random() % std::size(kSizes)]);
        m_known.insert(sha256(content));
        return content;
    }

    // One edit on one side, chosen at random.
    void editOnce(std::mt19937_64& random)
    {
        const std::string& path = pickPath(random);
        const auto roll = random() % 100;
        if (roll < 45) {
            const std::string content = nextContent("local", path, random);
            writeAtomically(m_scratch, m_syncDir / path.substr(1), content);
            m_last[path] = {false, content, "local"};
            note("local write " + label(content) + " " + path);
        } else if (roll < 58) {
            std::error_code ignored;
            fs::remove(m_syncDir / path.substr(1), ignored);
            m_last[path] = {true, {}, "local"};
            note("local delete " + path);
        } else if (roll < 90) {
            const std::string content = nextContent("remote", path, random);
            m_remote.upload(path, content);
            m_last[path] = {false, content, "remote"};
            note("remote write " + label(content) + " " + path);
        } else {
            try {
                m_remote.remove(path);
            } catch (const APIError&) {
                // Not on the server: the deletion stands all the same.
            }
            m_last[path] = {true, {}, "remote"};
            note("remote delete " + path);
        }
    }

    static std::string label(const std::string& content)
    {
        return content.substr(0, content.find('\n'));
    }

    void note(const std::string& line) { m_journal.push_back(line); }

    // Keeps the child's lines in the journal, in order with the test's own steps.
    void endChild(std::unique_ptr<ProbeChild>& child)
    {
        child->kill();
        for (const std::string& line : child->lines()) {
            m_journal.push_back("  child " + std::to_string(m_children) + ": " + line);
        }
        note("killed child " + std::to_string(m_children++));
    }

    // What the journal says about `path`, for failure messages.
    std::string history(const std::string& path) const
    {
        std::string text;
        for (const std::string& line : m_journal) {
            if (line.find(path) != std::string::npos || line.starts_with("killed")) {
                text += line + "\n";
            }
        }
        return text;
    }

    void checkAfterKill(const std::string& when)
    {
        expectIntactAfterCrash(surveyFolder(m_syncDir), m_known, when);
    }

    void checkNothingLost(const FolderSurvey& survey)
    {
        for (const auto& [path, last] : m_last) {
            if (last.deleted) {
                continue;
            }
            const std::string hash = sha256(last.content);
            const std::string copyPrefix = conflictCopyPrefix(path);
            const bool kept =
                std::any_of(survey.files.begin(), survey.files.end(), [&](const auto& file) {
                    return file.second == hash &&
                           (file.first == path || file.first.starts_with(copyPrefix));
                });
            EXPECT_TRUE(kept) << "the last " << last.side << " write to " << path
                              << " is lost: " << label(last.content) << "\n"
                              << history(path);
        }
    }

    TempHome m_home;
    ServerProcess m_server;
    std::string m_token;
    fs::path m_syncDir;
    fs::path m_scratch;
    OtherDevice m_remote;
    std::vector<std::string> m_paths;
    std::set<std::string> m_known;
    std::map<std::string, LastWrite> m_last;
    int m_versions = 0;
    int m_children = 0;
    std::vector<std::string> m_journal;  // the test's steps and the children's lines
};

TEST_P(LiveCrashTest, KilledWhileLiveLosesNothingAndConverges)
{
    std::mt19937_64 random(crashSeed() + static_cast<std::uint64_t>(GetParam()));
    const int steps = longRun() ? 3000 : 300;

    auto child = startChild();
    int kills = 0;
    int liveKills = 0;  // kills after the child's start-up cycle, in live sync
    for (int step = 0; step < steps; ++step) {
        if (random() % 100 < 5) {
            // Half the kills wait for live sync first, so that not all of them land in the
            // start-up cycle of a child that had no time to finish it.
            if (random() % 2 == 0) {
                ASSERT_TRUE(child->waitForLines("idle", 1, kTimeout))
                    << "child " << m_children << " never finished its start-up cycle";
            }
            child->pump(std::chrono::milliseconds(random() % 6));
            liveKills += child->isIdle() ? 1 : 0;
            endChild(child);
            ++kills;
            checkAfterKill("kill " + std::to_string(kills) + " at step " + std::to_string(step));
            if (HasFailure()) {
                return;
            }
            for (auto offline = random() % 4; offline > 0; --offline) {
                editOnce(random);
            }
            child = startChild();
            continue;
        }
        editOnce(random);
        child->pump(std::chrono::milliseconds(random() % 12));
    }
    endChild(child);
    checkAfterKill("the last kill");

    child = startChild();
    ASSERT_TRUE(child->waitForLines("idle", 1, kTimeout));
    ASSERT_TRUE(waitForQuiet(*child, m_remote, m_syncDir, kTimeout))
        << differences(surveyFolder(m_syncDir).files, m_remote.hashes());
    EXPECT_TRUE(child->errors().empty()) << testing::PrintToString(child->errors());

    const FolderSurvey survey = surveyFolder(m_syncDir);
    expectIntactAfterCrash(survey, m_known, "after recovery");
    EXPECT_TRUE(survey.downloadTemporaries.empty())
        << testing::PrintToString(survey.downloadTemporaries);
    EXPECT_TRUE(survey.movedAside.empty()) << testing::PrintToString(survey.movedAside);
    EXPECT_TRUE(survey.stateTemporaries.empty()) << testing::PrintToString(survey.stateTemporaries);
    endChild(child);
    checkNothingLost(survey);
    EXPECT_GT(liveKills, 0) << "no kill landed in live sync";
    std::cout << kills << " kills (" << liveKills << " in live sync) in " << steps << " steps, "
              << survey.files.size() << " files in the end\n";
}

// Three runs with seeds one apart, side by side under CTest.
INSTANTIATE_TEST_SUITE_P(Seeds, LiveCrashTest, testing::Values(0, 1, 2));

}  // namespace
}  // namespace corvane::test
