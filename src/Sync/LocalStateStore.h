#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Clock.h"
#include "Sync/FileState.h"

namespace corvane {

class PacedWork;

// The last-synced state of every file, keyed by sync-relative path, and its file
// ".corvane/sync_state.json" inside the sync folder. Thread-safe: one lock guards the map and is
// held only for single accesses and the snapshot of a save (its text); reading and writing the
// file happen outside it. Writes run one at a time on a queue of the store's own, each taking the
// newest snapshot, and replace the file atomically: it always holds one complete snapshot, and a
// later write never loses to an earlier one.
//
// Saves asked for while work runs are folded: at most one write per save interval. A crash that
// loses the last interval loses no file (the next start records them again). A forgotten entry
// is written at once, so that a file put back under its name is not taken for one still deleted.
class LocalStateStore {
public:
    static constexpr std::chrono::milliseconds kSaveInterval{200};

    // `clock` and `saveInterval` pace the folded saves (tests shorten or drive them).
    explicit LocalStateStore(const std::filesystem::path& syncDir,
                             std::shared_ptr<Clock> clock = Clock::system(),
                             Clock::Duration saveInterval = kSaveInterval);
    // Writes what a folded save still owes the file.
    ~LocalStateStore();
    LocalStateStore(const LocalStateStore&) = delete;
    LocalStateStore& operator=(const LocalStateStore&) = delete;

    const std::filesystem::path& filePath() const { return m_filePath; }

    std::optional<FileState> get(const std::string& path) const;
    void set(const std::string& path, const FileState& state);
    void remove(const std::string& path);
    std::map<std::string, FileState> snapshot() const;
    // The stored paths below the folder `folder` ("/Docs" gives "/Docs/a.txt", not "/Docsx").
    std::vector<std::string> pathsBelow(const std::string& folder) const;

    // Replaces the map with the file's contents. A missing or undecodable file leaves the map
    // as it is: one bad record discards the whole file.
    void load();
    // Asks for the map to be written, folded with other asks (see above); returns at once.
    void requestSave();
    // Writes the map now, after a write under way, and returns once the file holds it. Failures
    // are swallowed: the next save tries again.
    void save();

    // The state file's text for a map, and back; decode returns nothing for a bad file.
    static std::string encode(const std::map<std::string, FileState>& states);
    static std::optional<std::map<std::string, FileState>> decode(const std::string& text);

    // Seams for tests; production code leaves them empty. Set before the first save.
    struct TestHooks {
        // Runs on the writing thread with the text of each write, before the file is replaced.
        std::function<void(const std::string& text)> beforeWrite;
    };
    void setTestHooks(TestHooks hooks) { m_hooks = std::move(hooks); }

private:
    void write();

    const std::filesystem::path m_filePath;
    mutable std::mutex m_mutex;  // guards m_states and m_removed
    std::map<std::string, FileState> m_states;
    bool m_removed = false;  // an entry went since the last write
    TestHooks m_hooks;
    const std::unique_ptr<PacedWork> m_writer;  // last: stopped first
};

}  // namespace corvane
