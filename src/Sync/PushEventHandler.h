#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Models/Models.h"
#include "Sync/SyncContext.h"

namespace corvane {

// What a change-log entry's details (a JSON text of the server's) say of the content: each
// part only when the details give it with its proper type.
struct LoggedContent {
    std::optional<std::string> hash;
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> version;
};
LoggedContent loggedContent(const SyncEvent& entry);

// The background half of push-event handling: applies one "file_changed" event of the server to
// the sync folder. An event never destroys what the server has not seen: a local file edited
// since the last sync is kept (the server's version goes beside it as a conflict copy, a
// deletion leaves it), an event older than the stored version is ignored, and only a file is
// ever removed, never a folder.
//
// Reports through the context: syncing at the start, idle at a normal end, "Sync error: " and
// the error otherwise. Thread-safe; the engine runs at most one call per path at a time.
class PushEventHandler {
public:
    explicit PushEventHandler(SyncContext context);

    // The event's path joined with its folder's path: the event's sync-relative path as the
    // server means it, not yet checked. Nothing when the event names no path. Never waits.
    std::optional<std::string> joinedPath(const FileChangedEvent& event) const;
    // Whether the event's folder is one the engine does not know yet (made by another device
    // since it started), so that its path can be joined only after lookUpFolder().
    bool needsFolderLookup(const FileChangedEvent& event) const;
    // Learns the event's folder from the server when needed; throws when that fails.
    void lookUpFolder(const FileChangedEvent& event) const;

    void handle(const FileChangedEvent& event) const;

    // A change of the server's change log as the push channel would have announced it.
    static FileChangedEvent eventOf(const SyncEvent& entry);

private:
    void applyContent(const std::string& path, const std::string& hash,
                      std::optional<std::int64_t> version) const;
    void applyDeletion(const std::string& path) const;
    // The hash of the regular file at `path`; nothing when there is none.
    std::optional<std::string> localHash(const std::string& path) const;

    const SyncContext m_context;
};

}  // namespace corvane
