#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Models/Models.h"
#include "Sync/SyncContext.h"

namespace corvane {

// The background half of local change watching: what one changed sync-relative path means for
// the server. A file whose content differs from its stored state is uploaded; a stored file that
// is gone is deleted on the server (three attempts), unless the server holds a version this
// device has not seen, which is downloaded instead. A folder is never hashed: the paths below it
// are handed back to be handled one by one. A file that changes while it is sent is dropped
// without an error; the event of its closing hands it in again.
//
// Reports through the context: syncing at the start, idle at a normal end, "Sync failed: " and
// the error otherwise. Thread-safe; the engine runs at most one call per path at a time.
class LocalChangeHandler {
public:
    static constexpr int kDeleteAttempts = 3;

    explicit LocalChangeHandler(SyncContext context);

    struct Outcome {
        // Paths below the handled one that need handling of their own.
        std::vector<std::string> below;
        // Nothing is at the path any more: work still under way below it must be looked at
        // again once it is done.
        bool gone = false;
    };

    Outcome handle(const std::string& path) const;

private:
    void uploadIfChanged(const std::string& path) const;
    void handleGone(const std::string& path, Outcome& outcome) const;
    void deleteOnServer(const std::string& path) const;
    // The server's record of the sync-relative `path` in the folder `folderId`, if it has one.
    std::optional<FileInfo> serverRecord(const std::string& path,
                                         const std::string& folderId) const;
    // After a deletion of `serverPath` in `folderId`: the version it removed when that was not
    // `knownHash` (stored by another device between the look and the deletion), read from the
    // server's change log after the announcement `since`. Nothing when the log does not tell.
    std::optional<FileInfo> removedUnseen(const std::string& serverPath,
                                          const std::string& folderId, const std::string& knownHash,
                                          const std::optional<std::string>& since) const;
    std::vector<std::string> filesBelowFolder(const std::string& path) const;
    // The stored files below the folder `path` that are no longer there.
    std::vector<std::string> goneBelow(const std::string& path) const;
    std::vector<std::string> storedBelow(const std::string& path) const;

    const SyncContext m_context;
};

}  // namespace corvane
