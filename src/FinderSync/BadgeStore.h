#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/SettingsFile.h"

namespace corvane {

// The file-manager badges: one dictionary from absolute path to raw badge value under
// SyncStateProvider::kStateKey in a settings file (the app group's, next to the sync folder).
// Paths are keyed by their NFC form, so canonically equivalent spellings address one entry;
// bytes of a name that are not UTF-8 are kept apart in the key, so another process finds the
// badge of such a name too. One badge write updates one entry in memory; the file persists
// changes coalesced and paced, so a full sync of many files does not rewrite it once per file.
// Thread-safe.
class BadgeStore {
public:
    // How long a change by another process may wait after a slow read of a large map before
    // synchronize() reads it.
    static constexpr std::chrono::milliseconds kMaxReloadPause = SettingsFile::kMaxReloadPause;

    // The map in the suite `suiteName` as the current home folder gives it; nothing when the
    // suite cannot be opened.
    static std::optional<BadgeStore> ofSuite(const std::string& suiteName);

    explicit BadgeStore(std::shared_ptr<SettingsFile> file);
    // A store on `file`, independent of the shared ones (tests use it to play another process).
    explicit BadgeStore(const std::filesystem::path& file);

    // Nothing for a path never badged, holding a foreign value, or when the stored map is not a
    // dictionary of texts (one foreign member spoils all).
    std::optional<SyncBadge> badge(const std::string& path) const;
    // A stored map of another shape starts over from an empty one.
    void setBadge(const std::string& path, SyncBadge badge);
    // The same for many paths at once; an empty `badges` still leaves a map (possibly empty).
    void setBadges(const std::map<std::string, SyncBadge>& badges);
    // Removes the whole map.
    void clear();

    // Runs `callback` once the file holds every change made before (see
    // SettingsFile::whenPersisted()).
    void whenPersisted(const std::string& tag, std::function<void()> callback);
    void flush();
    // Looks at the file now for another process's changes; false while a change waits for the
    // pause after a slow read (ask again after kMaxReloadPause).
    bool synchronize();

private:
    const std::shared_ptr<SettingsFile> m_file;
};

}  // namespace corvane
