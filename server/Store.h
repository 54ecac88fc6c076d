#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "StoreRecords.h"

namespace corvane::server {

class Database;
class Statement;

// The server's metadata in SQLite (<data>/corvane.db): accounts, sign-in codes, tokens,
// folders, files, blobs, pending uploads and the change log. Every operation is one
// transaction, so a kill at any moment leaves the last committed state.
// Thread-safe: one connection behind one mutex; nothing calls out while holding it but the blob
// collection, whose removal must not interleave with an upload.
class Store {
public:
    explicit Store(const std::filesystem::path& dataDir);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Sign-in. emailKey is the normalised e-mail that identifies the account.
    void saveSignInCode(const std::string& emailKey, const std::string& code,
                        std::int64_t expiresAt);
    // A wrong code counts one failure; at maxFailures the code is void.
    CodeCheck checkSignInCode(const std::string& emailKey, const std::string& code,
                              std::int64_t now, int maxFailures);
    // The account for this e-mail, created on first sign-in.
    User signInUser(const std::string& emailKey, const std::string& email, const std::string& now);
    // Tokens are stored and looked up by their SHA-256 digest.
    void saveToken(const std::string& token, const std::string& userId, const std::string& now);
    std::optional<User> userForToken(const std::string& token);

    // Folders of one account, in creation order. No parent: the top-level folders.
    std::vector<FolderRecord> folders(const std::string& userId,
                                      const std::optional<std::string>& parentId);
    std::optional<FolderRecord> folder(const std::string& userId, const std::string& folderId);
    std::pair<CreateFolderOutcome, std::optional<FolderRecord>>
    createFolder(const std::string& userId, const std::optional<std::string>& parentId,
                 const std::string& name, const std::string& now);

    // Files lying in one folder (not in its subfolders), in creation order.
    std::vector<FileRecord> files(const std::string& folderId);

    // Records a file whose content the account has already stored ("exists"). Returns nothing
    // when the account holds no blob with that hash and size. An upload whose base version is
    // not the file's current version keeps the content it replaces as a conflict copy beside
    // it; so does completeUpload.
    std::optional<StoredUpload> recordKnownContent(const PendingUpload& upload,
                                                   const std::string& now);
    bool ownsBlob(const std::string& userId, const std::string& hash);

    // Adds a pending upload; of the account's, only the newest keepPerAccount stay.
    void addPendingUpload(const PendingUpload& upload, const std::string& now,
                          std::int64_t keepPerAccount);
    // The pending upload, unless it was created before createdSince (an ISO-8601 UTC time).
    std::optional<PendingUpload> pendingUpload(const std::string& userId,
                                               const std::string& uploadId,
                                               const std::string& createdSince);
    // Drops the pending uploads created before that time; returns how many.
    std::int64_t expirePendingUploads(const std::string& createdBefore);
    // The content of a pending upload is now a blob on disk: record blob and file, drop the
    // pending upload, all in one transaction. Returns nothing when the upload is gone.
    std::optional<StoredUpload> completeUpload(const PendingUpload& upload, const std::string& now);

    std::optional<FileChange> deleteFile(const std::string& userId, const std::string& folderId,
                                         const std::string& relativePath, const std::string& now);

    // Blobs that no file (conflict copies included) and no pending upload refers to: forgets up
    // to `batch` of them and calls removeBlob for each, still under the store's lock, so that no
    // upload can come to refer to a blob between the decision and the removal (an upload's
    // reference is made under the same lock). Returns how many went.
    std::int64_t
    collectUnreferencedBlobs(std::int64_t batch,
                             const std::function<void(const std::string&)>& removeBlob);
    // Calls removeBlob, under the lock, when the store neither records this blob nor has a
    // pending upload of it (a file left by a run that died before recording it).
    bool removeIfUnrecorded(const std::string& hash,
                            const std::function<void(const std::string&)>& removeBlob);

    // The account's change log after sinceId, oldest first; an empty filter means every folder.
    std::vector<EventRecord> events(const std::string& userId, std::int64_t sinceId,
                                    const std::vector<std::string>& folderIds);

private:
    // Creates what is missing and brings a database of an earlier version up to date, in one
    // transaction.
    void createSchema();
    // The number of rows the last statement changed.
    std::int64_t changedRows();
    // Replaces clear tokens by their digests; false when there were none to replace.
    bool hashClearTokens();
    StoredUpload upsertFile(const PendingUpload& upload, const std::string& now);
    // The version of a new file at this path: one past any the path had before.
    std::int64_t firstVersion(const std::string& folderId, const std::string& relativePath);
    // Copies `file` to a free conflict-copy name in its folder, as a new file.
    FileChange keepConflictCopy(const FileRecord& file, const std::string& now);
    void insertFile(const FileRecord& file, std::int64_t baseVersion);
    // Logs a "create" or "update" of `file` as it now stands.
    FileChange recordChange(const FileRecord& file, const std::string& action,
                            const std::string& now);
    EventRecord addEvent(EventRecord event);
    std::optional<FileRecord> findFile(const std::string& folderId,
                                       const std::string& relativePath);
    static FolderRecord readFolder(const Statement& row);
    static FileRecord readFile(const Statement& row);

    std::mutex m_mutex;
    std::unique_ptr<Database> m_database;  // guarded by m_mutex
};

}  // namespace corvane::server
