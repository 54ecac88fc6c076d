#pragma once

#include <mutex>
#include <set>
#include <string>

namespace corvane {

// The server folders that the user leaves out of sync, kept as an array of paths under
// "selectiveSyncExcluded" in the standard settings. Nothing is cached: every call reads the
// settings afresh, so a change made in the settings window counts for the next question of a
// running engine. A missing or malformed value reads as the empty set.
//
// A folder is excluded together with everything beneath it ("/Docs" excludes "/Docs/a.txt" but
// not "/Docs2"). Paths compare as text under canonical Unicode equivalence (the precomposed and
// the decomposed spelling of a name are the same path); otherwise exactly: case-sensitive, with
// no clean-up of repeated or trailing "/".
//
// Thread-safe: the engine asks from background tasks while the settings window edits on the
// main thread; changes made through one manager never lose each other's paths.
class SelectiveSyncManager {
public:
    static constexpr const char* kStorageKey = "selectiveSyncExcluded";

    // The stored paths; canonically equivalent spellings count once.
    std::set<std::string> excludedPaths() const;
    // Stored as an array, also when empty: the key is never removed.
    void setExcludedPaths(const std::set<std::string>& paths);

    bool isExcluded(const std::string& path) const;
    // Adds `path`; the paths beneath it stay stored.
    void exclude(const std::string& path);
    // Removes `path` and every stored path beneath it. A still-excluded parent keeps `path`
    // excluded.
    void include(const std::string& path);

private:
    std::mutex m_changeMutex;  // serialises the read-modify-write of exclude() and include()
};

}  // namespace corvane
