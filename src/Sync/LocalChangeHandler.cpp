#include "Sync/LocalChangeHandler.h"

#include <string_view>
#include <utility>

#include <sys/stat.h>

#include "API/APIClient.h"
#include "API/APIError.h"
#include "API/ContentChangedError.h"
#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalScanner.h"
#include "Sync/LocalStateStore.h"
#include "Sync/PushEventHandler.h"
#include "Sync/RecentDeletions.h"
#include "Sync/Retry.h"
#include "Sync/Transfers.h"

namespace corvane {
namespace {

constexpr long kStatusNotFound = 404;

enum class Entry { missing, file, folder, other };

Entry entryAt(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? Entry::missing : Entry::other;
    }
    if (S_ISREG(info.st_mode)) {
        return Entry::file;
    }
    return S_ISDIR(info.st_mode) ? Entry::folder : Entry::other;
}

}  // namespace

LocalChangeHandler::LocalChangeHandler(SyncContext context) : m_context(std::move(context)) {}

LocalChangeHandler::Outcome LocalChangeHandler::handle(const std::string& path) const
{
    m_context.onStatusChange(SyncStatus::syncing);
    Outcome outcome;
    std::vector<std::string>& below = outcome.below;
    try {
        switch (entryAt(m_context.paths.localPath(path))) {
        case Entry::file:
            try {
                uploadIfChanged(path);
            } catch (const ContentChangedError&) {
                // Still being written: the event of its closing after the write brings it back.
            } catch (const FileError&) {
                if (entryAt(m_context.paths.localPath(path)) != Entry::missing) {
                    throw;
                }
                // Moved or deleted while it was read: a deletion, not a failure.
                handleGone(path, outcome);
            }
            break;
        case Entry::folder:
            below = filesBelowFolder(path);
            for (std::string& gone : goneBelow(path)) {
                below.push_back(std::move(gone));
            }
            break;
        case Entry::missing:
            handleGone(path, outcome);
            break;
        case Entry::other:
            break;  // links and special files are not synced
        }
    } catch (const std::exception& error) {
        m_context.onError("Sync failed: " + std::string(error.what()));
        return outcome;
    }
    m_context.onStatusChange(SyncStatus::idle);
    return outcome;
}

void LocalChangeHandler::handleGone(const std::string& path, Outcome& outcome) const
{
    // A folder that went away takes its synced files with it.
    outcome.gone = path != "/";
    outcome.below = storedBelow(path);
    deleteOnServer(path);
}

void LocalChangeHandler::uploadIfChanged(const std::string& path) const
{
    const std::string hash = hashFile(m_context.paths.localPath(path));
    if (const auto stored = m_context.state->get(path); stored && stored->hash == hash) {
        return;  // unchanged, such as the engine's own download coming back as an event
    }
    const std::string folderId = m_context.folderResolver->resolve(path);
    FileInfo remote;
    remote.folderId = folderId;
    remote.version = m_context.state->get(path).value_or(FileState{}).version;
    m_context.transfers->uploadFile(path, hash, remote);
    m_context.state->requestSave();
}

void LocalChangeHandler::deleteOnServer(const std::string& path) const
{
    const auto stored = m_context.state->get(path);
    if (!stored) {
        m_context.state->requestSave();  // never synced: nothing to tell the server
        return;
    }
    // A resolution failure is reported and the state kept, so that the file is not brought
    // back by the next cycle as if the server had never been asked.
    const std::string folderId = m_context.folderResolver->resolve(path);
    const std::string serverPath = m_context.folderResolver->stripFolderPrefix(path, folderId);
    std::optional<FileInfo> unseen;  // content another device stored since this one synced
    const auto since = m_context.recentDeletions->lastAnnouncement();
    bool deletedHere = false;
    withRetry(
        kDeleteAttempts,
        [&] {
            if (!deletedHere) {
                // A deletion names no version: looked at first, so that it never destroys a
                // version that this device has not seen.
                const auto current = serverRecord(path, folderId);
                if (current && current->hash != stored->hash) {
                    unseen = current;
                    return;
                }
                try {
                    m_context.apiClient->deleteFile(serverPath, folderId);
                } catch (const APIError& error) {
                    // Gone already (deleted on another device): what was asked for holds.
                    if (error.httpStatus() != kStatusNotFound) {
                        throw;
                    }
                    return;
                }
                deletedHere = true;
            }
            // A version stored between the look and the deletion was removed unseen: it is put
            // back from the content the server still holds.
            const auto removed = removedUnseen(serverPath, folderId, stored->hash, since);
            if (!removed) {
                return;
            }
            const UploadInitResponse answer = m_context.apiClient->uploadInit(
                UploadInitRequest{serverPath, folderId, removed->hash, removed->size, 0});
            if (answer.status == "exists" && answer.file) {
                unseen = removed;
                unseen->version = answer.file->version;
            }
        },
        *m_context.clock);
    if (unseen) {
        // The deletion met a version this device had not seen; that version comes here
        // instead (beside a file that took the name meanwhile).
        FileLogger::shared().info("sync", "deletion met a newer version", {{"path", path}});
        m_context.transfers->receiveFile(path, unseen->hash, unseen->version, std::nullopt);
        m_context.state->requestSave();
        return;
    }
    m_context.recentDeletions->add(path, stored->hash);
    m_context.transfers->addActivity(ActivityType::delete_, path);
    m_context.state->remove(path);
    m_context.state->requestSave();
}

std::optional<FileInfo> LocalChangeHandler::serverRecord(const std::string& path,
                                                         const std::string& folderId) const
{
    const FolderTree tree = m_context.apiClient->getFolderTree(folderId);
    for (FileInfo& file : m_context.folderResolver->normalizeFilePaths(
             tree.files.value_or(std::vector<FileInfo>{}))) {
        if (m_context.paths.checkRemotePath(file.path).path == path) {
            return std::move(file);
        }
    }
    return std::nullopt;
}

std::optional<FileInfo>
LocalChangeHandler::removedUnseen(const std::string& serverPath, const std::string& folderId,
                                  const std::string& knownHash,
                                  const std::optional<std::string>& since) const
{
    const auto samePath = [&](const std::string& eventPath) {
        const auto bare = [](std::string_view text) {
            return text.substr(text.starts_with('/') ? 1 : 0);
        };
        return bare(eventPath) == bare(serverPath);
    };
    std::optional<FileInfo> present;  // the path's content as the log goes along
    std::optional<FileInfo> removed;  // what the latest deletion of the path took
    for (const SyncEvent& event : m_context.apiClient->listEvents(since, {folderId})) {
        if (!event.path || !samePath(*event.path)) {
            continue;
        }
        if (event.action == "delete") {
            removed = std::exchange(present, std::nullopt);
            continue;
        }
        // The log's details are the server's own: without a content hash nothing is known.
        LoggedContent logged = loggedContent(event);
        if (!logged.hash) {
            present.reset();
            continue;
        }
        FileInfo content;
        content.hash = std::move(*logged.hash);
        content.size = logged.size.value_or(0);
        content.version = logged.version.value_or(0);
        present = content;
    }
    // Only a path the log leaves deleted is put back; a file made there since stands.
    if (present || !removed || removed->hash == knownHash) {
        return std::nullopt;
    }
    return removed;
}

std::vector<std::string> LocalChangeHandler::filesBelowFolder(const std::string& path) const
{
    const LocalScanner scanner(m_context.paths);
    return scanner.filesBelow(path, [](const std::string& skipped, const std::string& reason) {
        FileLogger::shared().warn("sync", "file skipped", {{"path", skipped}, {"reason", reason}});
    });
}

std::vector<std::string> LocalChangeHandler::goneBelow(const std::string& path) const
{
    // A full event queue reports only the sync folder: deletions it swallowed show up here.
    std::vector<std::string> gone;
    for (std::string& stored : m_context.state->pathsBelow(path)) {
        if (entryAt(m_context.paths.localPath(stored)) == Entry::missing) {
            gone.push_back(std::move(stored));
        }
    }
    return gone;
}

std::vector<std::string> LocalChangeHandler::storedBelow(const std::string& path) const
{
    // The sync folder itself missing means an unmounted or moved folder, not a wish to empty
    // the account.
    if (path == "/") {
        return {};
    }
    return m_context.state->pathsBelow(path);
}

}  // namespace corvane
