#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "FinderSync/FinderSyncProtocol.h"
#include "Models/ActivityItem.h"
#include "Models/Models.h"
#include "Sync/FilePlacement.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SyncPaths.h"

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class FolderResolver;
class MainQueueBatch;

// The file transfers of the sync engine: one upload, one download (also as a conflict copy),
// one local deletion, one badge. Each transfer shows itself in the activity feed (on the main
// thread, posted in order and not waited for), sets the file's badge and records the new state;
// none saves the state file. Where the bytes land is FilePlacement's. Thread-safe: called from
// many background tasks at once.
class Transfers {
public:
    Transfers(std::shared_ptr<APIClient> apiClient, std::shared_ptr<FolderResolver> folderResolver,
              std::shared_ptr<ActivityManager> activityManager,
              std::shared_ptr<BandwidthThrottler> bandwidthThrottler, SyncPaths paths,
              std::shared_ptr<LocalStateStore> state);

    // Uploads the file at `path` whose content hash the caller computed. The bytes are streamed
    // from the file and hashed as they go: if the file changed since it was hashed the upload
    // is aborted before it completes. Throws the error that stopped it.
    void uploadFile(const std::string& path, const std::string& localHash,
                    const std::optional<FileInfo>& remoteFile);
    using NameTaken = FilePlacement::NameTaken;

    // Downloads `remoteFile`, checked against its hash and size, to its place, or beside it as a
    // conflict copy (asked for, or because the file there was edited since its stored state); a
    // copy's name is free here and not `takenElsewhere`. Returns the sync-relative path written.
    // Throws the error that stopped it.
    std::string downloadFile(const FileInfo& remoteFile, bool asConflict = false,
                             const NameTaken& takenElsewhere = {});
    // Writes the content `hash` announced by the server to `path` while the file there is none or
    // holds `expectedLocal`, else beside it as a conflict copy. Either way the state takes the
    // announcement, so a file left in place counts as an edit on top of it. Returns whether the
    // content went to `path`. Shown as one finished entry; no transfer entry.
    bool receiveFile(const std::string& path, const std::string& hash, std::int64_t version,
                     const std::optional<std::string>& expectedLocal);
    // Writes the content `hash` beside `path` as a conflict copy; `path` and its state stay.
    void receiveConflictCopy(const std::string& path, const std::string& hash);
    // Removes the regular file at `path` (never a folder) and forgets its state.
    void deleteLocalFile(const std::string& path);
    // As deleteLocalFile, but only while the file at `path` holds content `hash` (see
    // FilePlacement::removeIfHolding). Returns whether the file was removed or was gone already.
    bool deleteLocalFileIfUnchanged(const std::string& path, const std::string& hash);
    // Forgets the state of the file at `path`, which is no longer here, and shows the deletion.
    void forgetLocalFile(const std::string& path);
    void updateBadge(const std::string& path, SyncBadge badge) const;
    // A finished entry of `type` for `path` in the activity feed, posted to the main thread in
    // order with the transfers' own entries.
    void addActivity(ActivityType type, const std::string& path) const;
    // The placement of files in the sync folder, shared by every transfer.
    FilePlacement& placement() { return m_placement; }

private:
    struct Received {
        std::unique_ptr<HiddenFile> file;
        std::int64_t bytes = 0;
    };
    // Downloads into a temporary file in the folder of `path`, a sync-relative path the caller
    // has checked, flushed and verified against `hash` (and `size` when known).
    Received receive(const std::string& path, const std::string& hash,
                     std::optional<std::int64_t> size);
    // The hash of the version of `path` last in step with the server, when one is stored.
    std::optional<std::string> syncedHash(const std::string& path) const;
    // Hands `call` to the activity feed on the main thread without waiting, in order, so that a
    // transfer's entry is started, updated and ended as asked; on the main thread, at once.
    void onActivity(std::function<void(ActivityManager&)> call) const;
    // Shows `bytes` as the transfer's progress, when given, then its completion.
    void completeTransfer(const std::string& transferId, std::optional<std::int64_t> bytes) const;
    void failTransfer(const std::string& transferId, const std::string& error) const;
    void addActivity(ActivityType type, const std::string& fileName, const std::string& path) const;

    const std::shared_ptr<APIClient> m_apiClient;
    const std::shared_ptr<FolderResolver> m_folderResolver;
    const std::shared_ptr<ActivityManager> m_activityManager;
    const std::shared_ptr<BandwidthThrottler> m_bandwidthThrottler;
    const SyncPaths m_paths;
    const std::shared_ptr<LocalStateStore> m_state;
    FilePlacement m_placement;
    // The feed's entries from every transfer, in order, a batch per wake of the main thread.
    const std::shared_ptr<MainQueueBatch> m_activityFeed;
};

}  // namespace corvane
