#pragma once

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

class BadgeStore;
class JsonReader;
class UserDefaults;

// The badge a file carries in the file manager. The raw value is stored, posted and used as the
// file manager's badge identifier.
enum class SyncBadge { synced, syncing, error, ignored };

std::string_view rawValue(SyncBadge badge);
// The badge whose raw value is exactly `raw`, or nothing.
std::optional<SyncBadge> syncBadgeFromRawValue(std::string_view raw);
std::ostream& operator<<(std::ostream& out, SyncBadge badge);

// One file and its badge; coded as {"path": ..., "badge": <raw value>}.
struct FileSyncState {
    std::string path;
    SyncBadge badge = SyncBadge::synced;

    bool operator==(const FileSyncState&) const = default;
};

void encodeJson(nlohmann::json& out, const FileSyncState& state);
// A badge text that is not a raw value fails as corrupted data.
FileSyncState decodeJson(const JsonReader& reader, std::type_identity<FileSyncState>);

// The per-file badges and the sync folder, shared with the file-manager extension through the
// app-group suite "group.com.corvane.app" ("fileSyncStates": absolute path -> raw badge value,
// "syncDirectory": the sync folder). Every badge write and clearAll() is announced with the
// distributed notification "com.corvane.syncStateChanged", posted once the suite's file holds the
// change so that a reader in another process sees it. Announcements still waiting for the same
// write collapse into one: the notification carries nothing but its name, and a reader reads
// the store afresh on it, so one announcement after the write that holds many changes tells
// it all that many would, without a flood of them in a full sync. Every call is still followed
// by at least one announcement posted after the file holds its change.
//
// Reads look at the suite's file every time, so that the extension, reading on an announcement,
// finds the badge announced; only while another process keeps rewriting a large map is it read
// again after a pause instead (BadgeStore::synchronize() says when a change waits for it). The
// badges themselves are kept by BadgeStore. Thread-safe.
class SyncStateProvider {
public:
    static constexpr const char* kSuiteName = "group.com.corvane.app";
    static constexpr const char* kStateKey = "fileSyncStates";
    static constexpr const char* kSyncDirKey = "syncDirectory";
    static constexpr const char* kChangedNotification = "com.corvane.syncStateChanged";

    static SyncStateProvider& shared();

    std::optional<std::string> syncDirectory() const;
    // No value removes the key. Posts no notification.
    void setSyncDirectory(const std::optional<std::string>& path);

    void setBadge(const std::string& path, SyncBadge badge);
    void setBadges(const std::map<std::string, SyncBadge>& badges);
    // `synced` for a path never badged or holding a foreign value.
    SyncBadge getBadge(const std::string& path) const;
    void clearAll();
    // Writes what the suite has not written yet and sends the announcement waiting for it, now
    // (before the process exits, and in tests).
    void flush();

private:
    SyncStateProvider() = default;

    // The suite as the current home folder gives it; nothing when it cannot be opened.
    static std::shared_ptr<UserDefaults> defaults();
    // The suite, having looked at its file now for another process's writes.
    static std::shared_ptr<UserDefaults> freshDefaults();
    // The badge map in the suite; nothing when the suite cannot be opened.
    static std::optional<BadgeStore> badges();
    static void notifyFinderExtension(std::optional<BadgeStore>& store);
};

}  // namespace corvane
