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
#include "Platform/MainQueueBatch.h"
#include "Platform/UUID.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"

namespace corvane {
namespace {

// Unfinished downloads: removed at the next start.
constexpr std::string_view kDownloadPrefix = ".corvane-download-";
// A user's file moved aside while it is looked at: put back at the next start. The name is the
// prefix, a random tag, "-" and the file's own name.
constexpr std::string_view kAsidePrefix = ".corvane-aside-";
constexpr std::size_t kAsideTagLength = 8;
constexpr std::size_t kNameMax = 255;
// How much shorter than the room a cut name can come out: it ends at a character boundary.
constexpr std::size_t kMaxCutBytes = 3;

// A fresh moved-aside name for the file `name`. A name too long to fit is shortened (at a
// character boundary): the file then comes back under the shorter name.
std::string asideName(std::string_view name)
{
    const std::size_t room = kNameMax - kAsidePrefix.size() - kAsideTagLength - 1;
    std::size_t length = std::min(name.size(), room);
    while (length < name.size() && length > 0 &&
           (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
        --length;
    }
    return std::string(kAsidePrefix) + UUID::make().substr(0, kAsideTagLength) + "-" +
           std::string(name.substr(0, length));
}

// The name a moved-aside file had, or nothing when `aside` is no such name.
std::optional<std::string> originalNameOf(std::string_view aside)
{
    const std::size_t tagEnd = kAsidePrefix.size() + kAsideTagLength;
    if (!aside.starts_with(kAsidePrefix) || aside.size() <= tagEnd + 1 || aside[tagEnd] != '-') {
        return std::nullopt;
    }
    return std::string(aside.substr(tagEnd + 1));
}

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

// Tags the constructor of a TemporaryDownload that has no file of its own yet.
struct NoFileYet {};

}  // namespace

// A hidden file of the engine's beside the target, removed unless it was renamed into place or
// released: a download in progress, or a user's file moved aside. The download into it flushes
// it to disk. Its folder is held open and the file is named through it, so that the file is
// still found, and removed, when the user moves the folder meanwhile.
class TemporaryDownload {
public:
    // A new empty file for a download in `folder`.
    explicit TemporaryDownload(const std::filesystem::path& folder)
        : m_folder(openFolder(folder, "Could not create a file in"))
    {
        std::string pattern = folderPrefix() + std::string(kDownloadPrefix) + "XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            ::close(m_folder);
            throw FileError("Could not create a file in", folder.string(), error);
        }
        ::fchmod(fd, userFileMode());
        ::close(fd);
        m_path = pattern;
    }
    // No file yet, in the open folder `folder`, which it closes.
    TemporaryDownload(int folder, NoFileYet) : m_folder(folder) {}
    ~TemporaryDownload()
    {
        if (holdsFile() && !m_kept) {
            ::unlink(m_path.c_str());
        }
        ::close(m_folder);
    }
    TemporaryDownload(const TemporaryDownload&) = delete;
    TemporaryDownload& operator=(const TemporaryDownload&) = delete;

    // Moves the user's file `file` aside, under a name the next start puts it back from. Nothing
    // when there is no file at `file`.
    static std::unique_ptr<TemporaryDownload> moveAside(const std::filesystem::path& file)
    {
        const int folder = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                return nullptr;
            }
            throw FileError("Could not move aside", file.string(), errno);
        }
        auto moved = std::make_unique<TemporaryDownload>(folder, NoFileYet{});
        if (!moved->renameAside(file, file.filename().string())) {
            return nullptr;
        }
        return moved;
    }

    // Takes on the moved-aside file `file` that a process left behind, released: it is the
    // user's, so it is never removed for having been taken on.
    static std::unique_ptr<TemporaryDownload> adopt(const std::filesystem::path& file)
    {
        auto adopted = std::make_unique<TemporaryDownload>(
            openFolder(file.parent_path(), "Could not open"), NoFileYet{});
        adopted->m_path = adopted->folderPrefix() + file.filename().string();
        adopted->release();
        return adopted;
    }

    // Renames this file to a moved-aside name for the file `name` beside it: from here on it may
    // hold the user's file, which a process killed meanwhile must not lose.
    void markAside(std::string_view name) { renameAside(m_path, name); }

    // Forgets the file: it was moved elsewhere and must not be removed. path() stays.
    void release() { m_released = true; }
    // The file may be the user's: it is never removed, only renamed. Until it is, it keeps its
    // moved-aside name, from which the next start puts it back.
    void keep() { m_kept = true; }
    bool holdsFile() const { return !m_released && !m_path.empty(); }

    const std::filesystem::path& path() const { return m_path; }

    // Swaps this file and `target` in one step: afterwards path() holds what was at `target`.
    void exchange(const std::filesystem::path& target)
    {
        if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
            throw FileError("Could not write", target.string(), errno);
        }
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
    static int openFolder(const std::filesystem::path& folder, const char* action)
    {
        const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            throw FileError(action, folder.string(), errno);
        }
        return fd;
    }

    std::string folderPrefix() const { return "/proc/self/fd/" + std::to_string(m_folder) + "/"; }

    // Renames `from` to a fresh moved-aside name for `name` in this folder; false when there is
    // nothing at `from`.
    bool renameAside(const std::filesystem::path& from, std::string_view name)
    {
        while (true) {
            const std::string aside = folderPrefix() + asideName(name);
            if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) ==
                0) {
                m_path = aside;
                return true;
            }
            if (errno == ENOENT) {
                return false;
            }
            if (errno != EEXIST) {
                throw FileError("Could not move aside", from.string(), errno);
            }
        }
    }

    const int m_folder;
    std::filesystem::path m_path;
    bool m_released = false;
    bool m_kept = false;
};

namespace {

std::string parentOf(const std::string& syncRelative)
{
    const std::size_t slash = syncRelative.rfind('/');
    return slash == std::string::npos ? std::string() : syncRelative.substr(0, slash);
}

// The content hash of the regular file `file`; nothing for anything else, or when it cannot be
// read (not known to be any content, so whatever is there stays).
std::optional<std::string> regularFileHash(const std::filesystem::path& file)
{
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    try {
        return hashFile(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
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
      m_state(std::move(state)), m_activityFeed(MainQueueBatch::create())
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
    try {
        const std::string folderId =
            remoteFile ? remoteFile->folderId : m_folderResolver->resolve(path);
        baseVersion = remoteFile ? remoteFile->version : 0;
        const std::string pathToSend = m_folderResolver->stripFolderPrefix(path, folderId);
        const UploadInitResponse answer = m_apiClient->uploadInit(
            UploadInitRequest{pathToSend, folderId, localHash, size, baseVersion});
        method = answer.status;
        storedFile = answer.file;
        const auto sent = [&] {
            onActivity([transferId, size](ActivityManager& activity) {
                activity.updateProgress(transferId, size);
            });
        };
        if (answer.status == "exists") {
            sent();
        } else if (answer.uploadId) {
            storedFile = m_apiClient->uploadChunkFromFile(*answer.uploadId, file, size, localHash);
            sent();
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
    completeTransfer(transferId);
    updateBadge(path, SyncBadge::synced);
}

namespace {

std::string accepted(SyncPaths::Checked checked, const std::string& what)
{
    if (!checked.path) {
        throw Error("Refused the server " + what + ": " + checked.refusal);
    }
    return std::move(*checked.path);
}

}  // namespace

std::string Transfers::checkedPath(const std::string& path) const
{
    return accepted(m_paths.checkRemotePath(path), "path " + path);
}

std::string Transfers::conflictCopyPlace(const std::string& path, const std::string& name) const
{
    return parentOf(path) + "/" + accepted(SyncPaths::checkRemoteName(name), "name " + name);
}

std::unique_ptr<TemporaryDownload> Transfers::receive(const std::string& path,
                                                      const std::string& hash,
                                                      std::optional<std::int64_t> size)
{
    const std::filesystem::path folder = m_paths.localPath(path).parent_path();
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

std::string Transfers::placeConflictCopy(TemporaryDownload& temporary, const std::string& path,
                                         const NameTaken& takenElsewhere) const
{
    const std::string folder = parentOf(path);
    const std::string stamp = conflictTimestamp();
    if (m_hooks.beforeConflictCopy) {
        m_hooks.beforeConflictCopy(path);
    }
    while (true) {
        const std::string name =
            conflictCopyName(lastPathComponent(path), stamp, [&](const std::string& candidate) {
                const std::string copy = folder + "/" + candidate;
                return std::filesystem::exists(
                           std::filesystem::symlink_status(m_paths.localPath(copy))) ||
                       (takenElsewhere && takenElsewhere(copy));
            });
        // Checked like every server path: the copy must not leave the file's folder.
        const std::string copy = checkedPath(folder + "/" + name);
        if (temporary.placeIfFree(m_paths.localPath(copy))) {
            return copy;  // else the name was taken just now: look again
        }
    }
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

void Transfers::completeTransfer(const std::string& transferId) const
{
    onActivity([transferId](ActivityManager& activity) { activity.completeTransfer(transferId); });
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
    try {
        const std::string path = checkedPath(remoteFile.path);
        // A conflict copy is named after the server's name of the file, settled before anything
        // is fetched or moved. Asked for a copy, a name unfit for one refuses the download; a
        // copy made for an edit found in place then takes the file's own name.
        const std::string copyPlace = asConflict || SyncPaths::checkRemoteName(remoteFile.name).path
                                          ? conflictCopyPlace(path, remoteFile.name)
                                          : path;
        const auto temporary = receive(path, remoteFile.hash, remoteFile.size);
        onActivity([transferId, received = temporary->received](ActivityManager& activity) {
            activity.updateProgress(transferId, received);
        });
        if (!asConflict && replaceIfHolding(*temporary, path, syncedHash(path))) {
            written = path;
        } else {
            addActivity(ActivityType::conflict, remoteFile.name, remoteFile.path);
            if (temporary->holdsFile()) {
                written = placeConflictCopy(*temporary, copyPlace, takenElsewhere);
            }
        }
    } catch (const std::exception& error) {
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
    completeTransfer(transferId);
    updateBadge(remoteFile.path, SyncBadge::synced);
    return written;
}

bool Transfers::receiveFile(const std::string& path, const std::string& hash, std::int64_t version,
                            const std::optional<std::string>& expectedLocal)
{
    const bool placed = [&] {
        const auto temporary = receive(checkedPath(path), hash, std::nullopt);
        // Charged after the transfer: the size is known only once the bytes are in.
        m_bandwidthThrottler->waitForDownload(temporary->received);
        const bool inPlace = replaceIfHolding(*temporary, path, expectedLocal);
        if (!inPlace && temporary->holdsFile()) {
            placeConflictCopy(*temporary, path);
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

bool Transfers::replaceIfHolding(TemporaryDownload& temporary, const std::string& path,
                                 const std::optional<std::string>& expected) const
{
    const std::filesystem::path target = m_paths.localPath(path);
    if (temporary.placeIfFree(target)) {
        return true;
    }
    if (!expected) {
        return false;  // a file appeared there
    }
    // Swapped in one step and only then looked at: an edit saved at any moment before the swap
    // is seen in what comes out; one saved after it replaces the download as any later edit.
    // What comes out is the user's: it is named so that the next start puts it back.
    temporary.markAside(lastPathComponent(path));
    temporary.exchange(target);
    if (m_hooks.betweenSwaps) {
        m_hooks.betweenSwaps(path);
    }
    if (holdsContent(temporary.path(), *expected)) {
        return true;  // the old file goes with the temporary name
    }
    // An edit the server has not seen came out: it goes back to its name, and what is there now
    // (the download, or an edit newer still) goes the way of a conflict copy.
    if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, target.c_str(),
                    RENAME_EXCHANGE) != 0) {
        keepBeside(temporary, path);  // the name went away meanwhile: the edit keeps one of its own
        return false;
    }
    // Saved in the instant between the two swaps, the newest edit is what came back out: a
    // conflict copy that cannot be placed must not take it away.
    temporary.keep();
    return false;
}

std::optional<std::string> Transfers::syncedHash(const std::string& path) const
{
    const auto stored = m_state->get(path);
    return stored ? std::optional<std::string>(stored->hash) : std::nullopt;
}

bool Transfers::holdsContent(const std::filesystem::path& file, const std::string& hash) const
{
    return regularFileHash(file) == hash;
}

void Transfers::keepBeside(TemporaryDownload& moved, const std::string& path) const
{
    moved.release();  // the user's file now: nothing that fails from here on removes it
    // Whatever keeps the name from being taken back, not only another file there, the file
    // goes to a conflict-copy name.
    if (::renameat2(AT_FDCWD, moved.path().c_str(), AT_FDCWD, m_paths.localPath(path).c_str(),
                    RENAME_NOREPLACE) != 0) {
        placeConflictCopy(moved, path);
    }
}

void Transfers::receiveConflictCopy(const std::string& path, const std::string& hash)
{
    const auto temporary = receive(checkedPath(path), hash, std::nullopt);
    m_bandwidthThrottler->waitForDownload(temporary->received);
    addActivity(ActivityType::conflict, path);
    placeConflictCopy(*temporary, path);
}

bool Transfers::deleteLocalFileIfUnchanged(const std::string& path, const std::string& hash)
{
    // Moved aside in one step and only then looked at, so that an edit saved just before the
    // removal is never removed with it; a file saved under the name after the move is another
    // file and stays. A process killed in between leaves the moved file for the next start to
    // put back.
    auto aside = TemporaryDownload::moveAside(m_paths.localPath(path));
    if (!aside) {
        forgetLocalFile(path);  // already gone
        return true;
    }
    if (m_hooks.afterMoveAside) {
        m_hooks.afterMoveAside(path);
    }
    if (!holdsContent(aside->path(), hash)) {
        keepBeside(*aside, path);
        return false;
    }
    // Removed before its state is forgotten: a process killed in between must not find the
    // file without a state and take it for a new one.
    aside.reset();
    forgetLocalFile(path);
    return true;
}

void Transfers::deleteLocalFile(const std::string& path)
{
    const std::filesystem::path file = m_paths.localPath(path);
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(file.c_str());  // a file already gone is no error
    }
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

namespace {

// The files in `syncDir` whose names begin with `prefix`, outside hidden folders: the engine
// never puts its files into those, they are the user's (or the state's).
std::vector<std::filesystem::path> engineFiles(const std::filesystem::path& syncDir,
                                               std::string_view prefix)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(syncDir, fs::directory_options::skip_permission_denied,
                                          error);
    for (const fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
        const fs::path& entry = walk->path();
        const std::string name = entry.filename().string();
        if (!name.starts_with('.')) {
            continue;
        }
        if (name.starts_with(prefix)) {
            found.push_back(entry);
        }
        walk.disable_recursion_pending();
    }
    return found;
}

}  // namespace

void Transfers::removeStaleDownloads() const
{
    for (const std::filesystem::path& entry : engineFiles(m_paths.syncDir(), kDownloadPrefix)) {
        struct stat info {};
        if (::lstat(entry.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            ::unlink(entry.c_str());  // one that cannot be removed is tried again next start
        }
    }
}

void Transfers::restoreMovedAside() const
{
    for (const std::filesystem::path& entry : engineFiles(m_paths.syncDir(), kAsidePrefix)) {
        try {
            restore(entry);
        } catch (const std::exception& error) {
            // It stays where it is, hidden but whole, and the next start tries again.
            FileLogger::shared().warn("sync", "moved-aside file not restored",
                                      {{"file", entry.string()}, {"error", error.what()}});
        }
    }
}

void Transfers::restore(const std::filesystem::path& entry) const
{
    const auto name = originalNameOf(entry.filename().string());
    const auto folder = m_paths.relativePath(entry.parent_path().string());
    if (!name || !folder) {
        return;  // not a name this engine gives
    }
    const std::string path = (folder->empty() ? "" : "/" + *folder) + "/" + *name;
    const auto moved = TemporaryDownload::adopt(entry);
    const auto movedHash = regularFileHash(moved->path());
    // A name that may have been cut short belongs perhaps to another file than the one at the
    // shorter name: that file's synced version tells nothing of it.
    const bool mayBeCut = entry.filename().string().size() + kMaxCutBytes >= kNameMax;
    const auto synced = mayBeCut ? std::nullopt : syncedHash(path);
    // The process died while a download or a deletion replaced the version last in step with
    // the server. Whichever of the two files holds that version goes, as it would have gone;
    // the other keeps the name.
    if (movedHash && (movedHash == synced || holdsContent(m_paths.localPath(path), *movedHash))) {
        ::unlink(moved->path().c_str());
        return;
    }
    if (replaceIfHolding(*moved, path, synced)) {
        if (!moved->path().empty()) {
            ::unlink(moved->path().c_str());  // the synced version that was at the name
        }
        FileLogger::shared().info("sync", "moved-aside file restored", {{"path", path}});
        return;
    }
    struct stat info {};
    if (::lstat(moved->path().c_str(), &info) != 0) {
        return;  // it found a name of its own on the way
    }
    const std::string copy = placeConflictCopy(*moved, path);
    FileLogger::shared().info("sync", "moved-aside file restored", {{"path", copy}});
}

void Transfers::updateBadge(const std::string& path, SyncBadge badge) const
{
    SyncStateProvider::shared().setBadge(m_paths.localPath(path).string(), badge);
}

}  // namespace corvane
