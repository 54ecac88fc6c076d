#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Sync/FileState.h"

namespace corvane {

// The last-synced state of every file, keyed by sync-relative path, and its file
// ".corvane/sync_state.json" inside the sync folder. Thread-safe: one lock guards the map and is
// held only for single accesses and the snapshot of a save; reading and writing the file happen
// outside it. Saves are serialised and replace the file atomically, so it always holds one
// complete snapshot and a later save never loses to an earlier one.
class LocalStateStore {
public:
    explicit LocalStateStore(const std::filesystem::path& syncDir);

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
    // Writes a snapshot of the map. Failures are swallowed: the next save tries again.
    void save() const;

    // The state file's text for a map, and back; decode returns nothing for a bad file.
    static std::string encode(const std::map<std::string, FileState>& states);
    static std::optional<std::map<std::string, FileState>> decode(const std::string& text);

private:
    const std::filesystem::path m_filePath;
    mutable std::mutex m_mutex;  // guards m_states
    std::map<std::string, FileState> m_states;
    mutable std::mutex m_saveMutex;  // one save at a time, in snapshot order
};

}  // namespace corvane
