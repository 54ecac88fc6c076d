#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/HelperProcess.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SyncEngineFixture.h"

// Support of the crash tests: an engine in a child process (sync_probe) that the test kills with
// SIGKILL, and the checks that a sync folder must pass after any kill and after recovery.
namespace corvane::test {

// A sync engine in its own process. Its output is read only while the test waits in one of the
// calls below, so every wait reads: the child must never block on a full pipe.
class ProbeChild {
public:
    ProbeChild(const std::string& baseURL, const std::string& token, const fs::path& syncDir)
        : m_process(CORVANE_SYNC_PROBE, {baseURL, token, syncDir.string()})
    {
    }

    // Reads lines until one satisfies `stop` (true) or `timeout` passes (false).
    bool readUntil(const std::function<bool(const std::string&)>& stop,
                   std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            const auto line = m_process.readLine(left);
            if (!line) {
                continue;  // timeout, or the child's end: the deadline decides
            }
            take(*line);
            if (stop(*line)) {
                return true;
            }
        }
    }

    // Reads what arrives within `duration`.
    void pump(std::chrono::milliseconds duration)
    {
        readUntil([](const std::string&) { return false; }, duration);
    }

    // Waits for the n-th line (counted over the child's life) that begins with `prefix`.
    bool waitForLines(const std::string& prefix, int count, std::chrono::milliseconds timeout)
    {
        if (countOf(prefix) >= count) {
            return true;
        }
        return readUntil([&](const std::string&) { return countOf(prefix) >= count; }, timeout);
    }

    bool isIdle() const { return m_idle; }
    const std::vector<std::string>& lines() const { return m_lines; }
    std::size_t lineCount() const { return m_lines.size(); }
    const std::vector<std::string>& errors() const { return m_errors; }

    int countOf(const std::string& prefix) const
    {
        int count = 0;
        for (const std::string& line : m_lines) {
            count += line.starts_with(prefix) ? 1 : 0;
        }
        return count;
    }

    void kill() { m_process.kill(); }

private:
    void take(const std::string& line)
    {
        m_lines.push_back(line);
        if (line == "idle") {
            m_idle = true;
        } else if (line.starts_with("error ")) {
            m_errors.push_back(line);
        }
    }

    HelperProcess m_process;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_errors;
    bool m_idle = false;
};

// Content that names itself: `label` on the first line, then `size` bytes of noise drawn from
// the label, so every version the test writes differs from every other.
inline std::string makeContent(const std::string& label, std::size_t size)
{
    std::string content = label + "\n";
    std::mt19937_64 noise(std::hash<std::string>{}(label));
    content.reserve(content.size() + size);
    while (content.size() < label.size() + 1 + size) {
        const std::uint64_t word = noise();
        for (int i = 0; i < 8 && content.size() < label.size() + 1 + size; ++i) {
            content += static_cast<char>('a' + ((word >> (i * 8)) & 0xff) % 26);
        }
    }
    return content;
}

// Writes `content` to `target` the way a careful editor saves: into a scratch file outside the
// sync folder (on the same file system), then renamed into place, so that the engine never sees
// a half-written file of the test's.
inline void writeAtomically(const fs::path& scratch, const fs::path& target,
                            const std::string& content)
{
    static int counter = 0;
    fs::create_directories(scratch);
    const fs::path temporary = scratch / ("w" + std::to_string(++counter));
    writeFile(temporary, content);
    fs::create_directories(target.parent_path());
    fs::rename(temporary, target);
}

// What a sync folder holds, taken apart: visible files by content hash, and the temporary files
// of interrupted work.
struct FolderSurvey {
    std::map<std::string, std::string> files;  // sync-relative path -> content hash
    std::vector<std::string> downloadTemporaries;
    std::map<std::string, std::string> movedAside;  // the user's files held aside, by hash
    std::vector<std::string> stateTemporaries;
    std::vector<std::string> strangers;  // hidden files nobody should have left
    std::optional<std::string> stateFile;
};

inline FolderSurvey surveyFolder(const fs::path& syncDir)
{
    FolderSurvey survey;
    if (!fs::exists(syncDir)) {
        return survey;
    }
    for (auto it = fs::recursive_directory_iterator(syncDir);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = "/" + it->path().lexically_relative(syncDir).string();
        const std::string name = it->path().filename().string();
        if (it->is_symlink() || !it->is_regular_file()) {
            continue;
        }
        if (relative == "/.corvane/sync_state.json") {
            survey.stateFile = readFile(it->path());
        } else if (relative.starts_with("/.corvane/.sync_state.json.tmp-")) {
            survey.stateTemporaries.push_back(relative);
        } else if (name.starts_with(".corvane-download-")) {
            survey.downloadTemporaries.push_back(relative);
        } else if (name.starts_with(".corvane-aside-")) {
            survey.movedAside[relative] = sha256(readFile(it->path()));
        } else if (relative.find("/.") != std::string::npos) {
            survey.strangers.push_back(relative);
        } else {
            survey.files[relative] = sha256(readFile(it->path()));
        }
    }
    return survey;
}

// The checks after a kill: the state file parses or is absent, no file under its final name is
// partial (each holds a version the test wrote on one side or the other), and nothing hidden
// stays but the temporaries of interrupted work.
inline void expectIntactAfterCrash(const FolderSurvey& survey, const std::set<std::string>& known,
                                   const std::string& when)
{
    if (survey.stateFile) {
        EXPECT_TRUE(LocalStateStore::decode(*survey.stateFile))
            << when << ": the state file does not parse: " << survey.stateFile->substr(0, 200);
    }
    for (const auto& files : {survey.files, survey.movedAside}) {
        for (const auto& [path, hash] : files) {
            EXPECT_TRUE(known.count(hash)) << when << ": " << path << " holds content nobody wrote";
        }
    }
    EXPECT_TRUE(survey.strangers.empty())
        << when << ": hidden leftovers " << testing::PrintToString(survey.strangers);
}

// Waits until the folder and the server hold the same files and nothing more happens for a
// moment; reads the child's output meanwhile.
inline bool waitForQuiet(ProbeChild& child, OtherDevice& remote, const fs::path& syncDir,
                         std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t lines = child.lineCount();
    int stable = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        child.pump(std::chrono::milliseconds(100));
        const bool same = surveyFolder(syncDir).files == remote.hashes();
        stable = same && child.lineCount() == lines ? stable + 1 : 0;
        lines = child.lineCount();
        if (stable >= 3) {
            return true;
        }
    }
    return false;
}

// The paths where two path -> hash maps differ, for failure messages.
inline std::string differences(const std::map<std::string, std::string>& local,
                               const std::map<std::string, std::string>& server)
{
    std::string text;
    for (const auto& [path, hash] : local) {
        const auto there = server.find(path);
        if (there == server.end()) {
            text += "only local: " + path + "\n";
        } else if (there->second != hash) {
            text += "differs: " + path + "\n";
        }
    }
    for (const auto& [path, hash] : server) {
        if (!local.count(path)) {
            text += "only on the server: " + path + "\n";
        }
    }
    return text;
}

// The seed of a randomised test: CORVANE_CRASH_SEED when set, else a fresh one. Printed, so a
// failure can be run again with the same choices.
inline std::uint64_t crashSeed()
{
    std::uint64_t seed = std::random_device{}();
    if (const char* given = std::getenv("CORVANE_CRASH_SEED")) {
        seed = std::strtoull(given, nullptr, 10);
    }
    std::cout << "seed " << seed << " (run again with CORVANE_CRASH_SEED=" << seed << ")\n";
    testing::Test::RecordProperty("seed", std::to_string(seed));
    return seed;
}

// Set CORVANE_CRASH_LONG=1 for the long variants: many more kill points and steps.
inline bool longRun()
{
    const char* value = std::getenv("CORVANE_CRASH_LONG");
    return value && std::string(value) == "1";
}

}  // namespace corvane::test
