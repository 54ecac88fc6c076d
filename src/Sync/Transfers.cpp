#include "Sync/Transfers.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "API/APIClient.h"
#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Platform/MainQueue.h"
#include "Platform/UUID.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/FolderResolver.h"

namespace corvane {
namespace {

// The mode new user files get: 0666 less the process's umask, read without changing it.
mode_t userFileMode()
{
    static const mode_t mode = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0) {
                return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
            }
        }
        return static_cast<mode_t>(0644);
    }();
    return mode;
}

}  // namespace

// A hidden temporary file beside the target, removed unless it was renamed into place. The
// download into it flushes it to disk.
class TemporaryDownload {
public:
    explicit TemporaryDownload(const std::filesystem::path& folder)
    {
        std::string pattern = (folder / ".corvane-download-XXXXXX").string();
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            throw FileError("Could not create a file in", folder.string(), errno);
        }
        ::fchmod(fd, userFileMode());
        ::close(fd);
        m_path = pattern;
    }
    ~TemporaryDownload()
    {
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    TemporaryDownload(const TemporaryDownload&) = delete;
    TemporaryDownload& operator=(const TemporaryDownload&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Renames into place, replacing what is there.
    void replace(const std::filesystem::path& target)
    {
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            throw FileError("Could not write", target.string(), errno);
        }
        m_path.clear();
    }

    // Renames into place only when the name is free; false when it is taken.
    bool placeIfFree(const std::filesystem::path& target)
    {
        if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            m_path.clear();
            return true;
        }
        if (errno == EEXIST) {
            return false;
        }
        throw FileError("Could not write", target.string(), errno);
    }

    std::int64_t received = 0;  // bytes downloaded into it

private:
    std::filesystem::path m_path;
};

namespace {

std::string parentOf(const std::string& syncRelative)
{
    const std::size_t slash = syncRelative.rfind('/');
    return slash == std::string::npos ? std::string() : syncRelative.substr(0, slash);
}

void onMain(const std::function<void()>& work)
{
    MainQueue::sync(work);
}

}  // namespace

std::string lastPathComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Transfers::Transfers(std::shared_ptr<APIClient> apiClient,
                     std::shared_ptr<FolderResolver> folderResolver,
                     std::shared_ptr<ActivityManager> activityManager,
                     std::shared_ptr<BandwidthThrottler> bandwidthThrottler, SyncPaths paths,
                     std::shared_ptr<LocalStateStore> state)
    : m_apiClient(std::move(apiClient)), m_folderResolver(std::move(folderResolver)),
      m_activityManager(std::move(activityManager)),
      m_bandwidthThrottler(std::move(bandwidthThrottler)), m_paths(std::move(paths)),
      m_state(std::move(state))
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

    onMain([&] {
        m_activityManager->startTransfer(transferId, ActivityType::upload, fileName, path, size);
    });
    updateBadge(path, SyncBadge::syncing);
    m_bandwidthThrottler->waitForUpload(size);

    std::int64_t baseVersion = 0;
    std::string method;
    std::optional<FileInfo> storedFile;  // the server's record of the upload, when it names one
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
            onMain([&] { m_activityManager->updateProgress(transferId, size); });
        } else if (answer.uploadId) {
            storedFile = m_apiClient->uploadChunkFromFile(*answer.uploadId, file, size, localHash);
            onMain([&] { m_activityManager->updateProgress(transferId, size); });
        } else if (!answer.file || answer.file->hash != localHash) {
            // Neither stored nor asked for: the server does not hold this content.
            throw Error("The server did not accept the upload of " + fileName);
        }
    } catch (const std::exception& error) {
        const std::string description = error.what();
        onMain([&] { m_activityManager->failTransfer(transferId, description); });
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
    onMain([&] { m_activityManager->completeTransfer(transferId); });
    updateBadge(path, SyncBadge::synced);
}

std::string Transfers::checkedPath(const std::string& path) const
{
    auto checked = m_paths.checkRemotePath(path);
    if (!checked.path) {
        throw Error("Refused the server path " + path + ": " + checked.refusal);
    }
    return std::move(*checked.path);
}

std::unique_ptr<TemporaryDownload> Transfers::receive(const std::string& path,
                                                      const std::string& hash,
                                                      std::optional<std::int64_t> size)
{
    const std::filesystem::path folder = m_paths.localPath(checkedPath(path)).parent_path();
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        throw FileError("Could not create", folder.string(), folderError.value());
    }
    auto temporary = std::make_unique<TemporaryDownload>(folder);
    // Hashed as it arrives: reading a large file back would double the work of the download.
    std::string receivedHash;
    const auto received = static_cast<std::int64_t>(
        m_apiClient->downloadToFile(hash, temporary->path(), receivedHash));
    if ((size && received != *size) || receivedHash != hash) {
        throw Error("The downloaded content of " + path + " does not match its hash and size");
    }
    temporary->received = received;
    return temporary;
}

void Transfers::placeConflictCopy(TemporaryDownload& temporary, const std::string& path) const
{
    const std::string folder = parentOf(path);
    const std::string stamp = conflictTimestamp();
    while (true) {
        const std::string name =
            conflictCopyName(lastPathComponent(path), stamp, [&](const std::string& candidate) {
                return std::filesystem::exists(
                    std::filesystem::symlink_status(m_paths.localPath(folder + "/" + candidate)));
            });
        // Checked like every server path: the copy must not leave the file's folder.
        const std::string copy = checkedPath(folder + "/" + name);
        if (temporary.placeIfFree(m_paths.localPath(copy))) {
            return;  // else the name was taken just now: look again
        }
    }
}

void Transfers::addActivity(ActivityType type, const std::string& path) const
{
    onMain([&] { m_activityManager->addActivity(type, lastPathComponent(path), path); });
}

void Transfers::downloadFile(const FileInfo& remoteFile, bool asConflict)
{
    const std::string transferId = UUID::make();
    onMain([&] {
        m_activityManager->startTransfer(transferId, ActivityType::download, remoteFile.name,
                                         remoteFile.path, remoteFile.size);
    });
    updateBadge(remoteFile.path, SyncBadge::syncing);
    m_bandwidthThrottler->waitForDownload(remoteFile.size);

    try {
        const std::string path = checkedPath(remoteFile.path);
        const auto temporary = receive(path, remoteFile.hash, remoteFile.size);
        onMain([&] { m_activityManager->updateProgress(transferId, temporary->received); });
        if (asConflict) {
            onMain([&] {
                m_activityManager->addActivity(ActivityType::conflict, remoteFile.name,
                                               remoteFile.path);
            });
            placeConflictCopy(*temporary, path);
        } else {
            temporary->replace(m_paths.localPath(path));
        }
    } catch (const std::exception& error) {
        const std::string description = error.what();
        onMain([&] { m_activityManager->failTransfer(transferId, description); });
        updateBadge(remoteFile.path, SyncBadge::error);
        throw;
    }

    FileLogger::shared().info(
        "sync", "file downloaded",
        {{"path", remoteFile.path}, {"size", remoteFile.size}, {"conflict", asConflict}});
    if (!asConflict) {
        m_state->set(remoteFile.path,
                     FileState{remoteFile.hash, remoteFile.version, currentStateTime()});
    }
    onMain([&] { m_activityManager->completeTransfer(transferId); });
    updateBadge(remoteFile.path, SyncBadge::synced);
}

void Transfers::receiveFile(const std::string& path, const std::string& hash, std::int64_t version)
{
    const auto temporary = receive(path, hash, std::nullopt);
    // Charged after the transfer: the size is known only once the bytes are in.
    m_bandwidthThrottler->waitForDownload(temporary->received);
    temporary->replace(m_paths.localPath(path));
    m_state->set(path, FileState{hash, version, currentStateTime()});
    updateBadge(path, SyncBadge::synced);
    addActivity(ActivityType::download, path);
}

void Transfers::receiveConflictCopy(const std::string& path, const std::string& hash)
{
    const auto temporary = receive(path, hash, std::nullopt);
    m_bandwidthThrottler->waitForDownload(temporary->received);
    addActivity(ActivityType::conflict, path);
    placeConflictCopy(*temporary, path);
}

void Transfers::deleteLocalFile(const std::string& path)
{
    const std::filesystem::path file = m_paths.localPath(path);
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(file.c_str());  // a file already gone is no error
    }
    m_state->remove(path);
    // Not waited for: a deletion does not hold up its caller for the main thread.
    MainQueue::async([activity = m_activityManager, path] {
        activity->addActivity(ActivityType::delete_, lastPathComponent(path), path);
    });
}

void Transfers::updateBadge(const std::string& path, SyncBadge badge) const
{
    SyncStateProvider::shared().setBadge(m_paths.localPath(path).string(), badge);
}

}  // namespace corvane
