#include "Sync/Transfers.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include "API/APIClient.h"
#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Platform/MainQueue.h"
#include "Platform/MainQueueBatch.h"
#include "Platform/UUID.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/FolderResolver.h"

namespace corvane {

Transfers::Transfers(std::shared_ptr<APIClient> apiClient,
                     std::shared_ptr<FolderResolver> folderResolver,
                     std::shared_ptr<ActivityManager> activityManager,
                     std::shared_ptr<BandwidthThrottler> bandwidthThrottler, SyncPaths paths,
                     std::shared_ptr<LocalStateStore> state)
    : m_apiClient(std::move(apiClient)), m_folderResolver(std::move(folderResolver)),
      m_activityManager(std::move(activityManager)),
      m_bandwidthThrottler(std::move(bandwidthThrottler)), m_paths(std::move(paths)),
      m_state(state), m_placement(m_paths, std::move(state)),
      m_activityFeed(MainQueueBatch::create())
{
}

void Transfers::uploadFile(const std::string& path, const std::string& localHash,
                           const std::optional<FileInfo>& remoteFile)
{
    const std::filesystem::path file = m_paths.localPath(path);
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || ::access(file.c_str(), R_OK) != 0) {
        throw FileError("Could not read", file.string(), errno);
    }
    if (!S_ISREG(info.st_mode)) {
        throw FileError("Could not read", file.string(), EISDIR);
    }
    const std::int64_t size = info.st_size;
    const std::string fileName = lastPathComponent(path);
    const std::string transferId = UUID::make();

    onActivity([transferId, fileName, path, size](ActivityManager& activity) {
        activity.startTransfer(transferId, ActivityType::upload, fileName, path, size);
    });
    updateBadge(path, SyncBadge::syncing);
    m_bandwidthThrottler->waitForUpload(size);

    std::int64_t baseVersion = 0;
    std::string method;
    std::optional<FileInfo> storedFile;  // the server's record of the upload, when it names one
    bool sent = false;                   // the server holds every byte (shown as progress)
    try {
        const std::string folderId =
            remoteFile ? remoteFile->folderId : m_folderResolver->resolve(path);
        baseVersion = remoteFile ? remoteFile->version : 0;
        const std::string pathToSend = m_folderResolver->stripFolderPrefix(path, folderId);
        const UploadInitResponse answer = m_apiClient->uploadInit(
            UploadInitRequest{pathToSend, folderId, localHash, size, baseVersion});
        method = answer.status;
        storedFile = answer.file;
        if (answer.status == "exists") {
            sent = true;
        } else if (answer.uploadId) {
            storedFile = m_apiClient->uploadChunkFromFile(*answer.uploadId, file, size, localHash);
            sent = true;
        } else if (!answer.file || answer.file->hash != localHash) {
            // Neither stored nor asked for: the server does not hold this content.
            throw Error("The server did not accept the upload of " + fileName);
        }
    } catch (const std::exception& error) {
        failTransfer(transferId, error.what());
        updateBadge(path, SyncBadge::error);
        throw;
    }

    FileLogger::shared().info("sync", "file uploaded",
                              {{"path", path}, {"size", size}, {"method", method}});
    // The server's own version when it tells it: another device may have raised the version
    // since this upload's base, and the next upload must name the version the server holds.
    const std::int64_t version =
        storedFile && storedFile->hash == localHash ? storedFile->version : baseVersion + 1;
    m_state->set(path, FileState{localHash, version, currentStateTime()});
    completeTransfer(transferId, sent ? std::optional(size) : std::nullopt);
    updateBadge(path, SyncBadge::synced);
}

Transfers::Received Transfers::receive(const std::string& path, const std::string& hash,
                                       std::optional<std::int64_t> size)
{
    Received received{m_placement.createTemporary(path), 0};
    // Hashed as it arrives: reading a large file back would double the work of the download.
    std::string receivedHash;
    received.bytes = static_cast<std::int64_t>(
        m_apiClient->downloadToFile(hash, received.file->path(), receivedHash));
    if ((size && received.bytes != *size) || receivedHash != hash) {
        throw Error("The downloaded content of " + path + " does not match its hash and size");
    }
    return received;
}

void Transfers::onActivity(std::function<void(ActivityManager&)> call) const
{
    if (MainQueue::isMainThread()) {
        call(*m_activityManager);
        return;
    }
    m_activityFeed->add(
        [activity = m_activityManager, call = std::move(call)] { call(*activity); });
}

void Transfers::completeTransfer(const std::string& transferId,
                                 std::optional<std::int64_t> bytes) const
{
    // The last progress goes with the completion, in one hand-over to the main thread.
    onActivity([transferId, bytes](ActivityManager& activity) {
        if (bytes) {
            activity.updateProgress(transferId, *bytes);
        }
        activity.completeTransfer(transferId);
    });
}

void Transfers::failTransfer(const std::string& transferId, const std::string& error) const
{
    onActivity([transferId, error](ActivityManager& activity) {
        activity.failTransfer(transferId, error);
    });
}

void Transfers::addActivity(ActivityType type, const std::string& path) const
{
    addActivity(type, lastPathComponent(path), path);
}

void Transfers::addActivity(ActivityType type, const std::string& fileName,
                            const std::string& path) const
{
    onActivity([type, fileName, path](ActivityManager& activity) {
        activity.addActivity(type, fileName, path);
    });
}

std::string Transfers::downloadFile(const FileInfo& remoteFile, bool asConflict,
                                    const NameTaken& takenElsewhere)
{
    const std::string transferId = UUID::make();
    onActivity([transferId, remoteFile](ActivityManager& activity) {
        activity.startTransfer(transferId, ActivityType::download, remoteFile.name, remoteFile.path,
                               remoteFile.size);
    });
    updateBadge(remoteFile.path, SyncBadge::syncing);
    m_bandwidthThrottler->waitForDownload(remoteFile.size);

    std::string written;
    // The bytes received, until shown: with the completion when the file lands in place, in
    // one hand-over to the main thread, else before what follows.
    std::optional<std::int64_t> unshownBytes;
    const auto showProgress = [&] {
        if (const auto bytes = std::exchange(unshownBytes, std::nullopt)) {
            onActivity([transferId, bytes = *bytes](ActivityManager& activity) {
                activity.updateProgress(transferId, bytes);
            });
        }
    };
    try {
        const std::string path = m_placement.checkedPath(remoteFile.path);
        // A conflict copy is named after the server's name of the file, settled before anything
        // is fetched or moved. Asked for a copy, a name unfit for one refuses the download; a
        // copy made for an edit found in place then takes the file's own name.
        const std::string copyPlace = asConflict || SyncPaths::checkRemoteName(remoteFile.name).path
                                          ? m_placement.conflictCopyPlace(path, remoteFile.name)
                                          : path;
        const Received received = receive(path, remoteFile.hash, remoteFile.size);
        HiddenFile& temporary = *received.file;
        unshownBytes = received.bytes;
        if (!asConflict && m_placement.replaceIfHolding(temporary, path, syncedHash(path))) {
            written = path;
        } else {
            showProgress();
            addActivity(ActivityType::conflict, remoteFile.name, remoteFile.path);
            if (temporary.holdsFile()) {
                written = m_placement.placeConflictCopy(temporary, copyPlace, takenElsewhere);
            }
        }
    } catch (const std::exception& error) {
        showProgress();
        failTransfer(transferId, error.what());
        updateBadge(remoteFile.path, SyncBadge::error);
        throw;
    }

    FileLogger::shared().info(
        "sync", "file downloaded",
        {{"path", remoteFile.path}, {"size", remoteFile.size}, {"conflict", asConflict}});
    if (written == remoteFile.path) {
        m_state->set(remoteFile.path,
                     FileState{remoteFile.hash, remoteFile.version, currentStateTime()});
    }
    completeTransfer(transferId, unshownBytes);
    updateBadge(remoteFile.path, SyncBadge::synced);
    return written;
}

bool Transfers::receiveFile(const std::string& path, const std::string& hash, std::int64_t version,
                            const std::optional<std::string>& expectedLocal)
{
    const bool placed = [&] {
        const Received received = receive(m_placement.checkedPath(path), hash, std::nullopt);
        // Charged after the transfer: the size is known only once the bytes are in.
        m_bandwidthThrottler->waitForDownload(received.bytes);
        const bool inPlace = m_placement.replaceIfHolding(*received.file, path, expectedLocal);
        if (!inPlace && received.file->holdsFile()) {
            m_placement.placeConflictCopy(*received.file, path);
        }
        return inPlace;
    }();  // the version it replaced is gone before the new one is recorded
    // Either way the announced version is accounted for: a file left in place counts as an
    // edit on top of it.
    m_state->set(path, FileState{hash, version, currentStateTime()});
    if (placed) {
        updateBadge(path, SyncBadge::synced);
        addActivity(ActivityType::download, path);
    } else {
        addActivity(ActivityType::conflict, path);
    }
    return placed;
}

std::optional<std::string> Transfers::syncedHash(const std::string& path) const
{
    const auto stored = m_state->get(path);
    return stored ? std::optional<std::string>(stored->hash) : std::nullopt;
}

void Transfers::receiveConflictCopy(const std::string& path, const std::string& hash)
{
    const Received received = receive(m_placement.checkedPath(path), hash, std::nullopt);
    m_bandwidthThrottler->waitForDownload(received.bytes);
    addActivity(ActivityType::conflict, path);
    m_placement.placeConflictCopy(*received.file, path);
}

bool Transfers::deleteLocalFileIfUnchanged(const std::string& path, const std::string& hash)
{
    if (!m_placement.removeIfHolding(path, hash)) {
        return false;
    }
    // Removed before its state is forgotten: a process killed in between must not find the
    // file without a state and take it for a new one.
    forgetLocalFile(path);
    return true;
}

void Transfers::deleteLocalFile(const std::string& path)
{
    m_placement.removeFile(path);
    forgetLocalFile(path);
}

void Transfers::forgetLocalFile(const std::string& path)
{
    m_state->remove(path);
    // Not waited for: a deletion does not hold up its caller for the main thread.
    m_activityFeed->add([activity = m_activityManager, path] {
        activity->addActivity(ActivityType::delete_, lastPathComponent(path), path);
    });
}

void Transfers::updateBadge(const std::string& path, SyncBadge badge) const
{
    SyncStateProvider::shared().setBadge(m_paths.localPath(path).string(), badge);
}

}  // namespace corvane
