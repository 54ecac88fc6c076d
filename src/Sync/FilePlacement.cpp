#include "Sync/FilePlacement.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Platform/UUID.h"
#include "Sync/ContentHash.h"

namespace corvane {
namespace {

// Unfinished downloads: removed at the next start.
constexpr std::string_view kDownloadPrefix = ".corvane-download-";
// A user's file moved aside while it is looked at: put back at the next start. The name is the
// prefix, a random tag, "-" and the file's own name.
constexpr std::string_view kAsidePrefix = ".corvane-aside-";
constexpr std::size_t kAsideTagLength = 8;
// The longest file name the file systems take, in bytes.
constexpr std::size_t kNameMax = 255;
// How much shorter than the room a cut name can come out: it ends at a character boundary.
constexpr std::size_t kMaxCutBytes = 3;

// `text` cut to at most `room` bytes, never inside a UTF-8 character.
std::string_view cutAtCharacter(std::string_view text, std::size_t room)
{
    if (text.size() <= room) {
        return text;
    }
    std::size_t length = room;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return text.substr(0, length);
}

// A fresh moved-aside name for the file `name`. A name too long to fit is shortened (at a
// character boundary): the file then comes back under the shorter name.
std::string asideName(std::string_view name)
{
    const std::size_t room = kNameMax - kAsidePrefix.size() - kAsideTagLength - 1;
    return std::string(kAsidePrefix) + UUID::make().substr(0, kAsideTagLength) + "-" +
           std::string(cutAtCharacter(name, room));
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

std::string accepted(SyncPaths::Checked checked, const std::string& what)
{
    if (!checked.path) {
        throw Error("Refused the server " + what + ": " + checked.refusal);
    }
    return std::move(*checked.path);
}

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

HiddenFile::HiddenFile(const std::filesystem::path& folder)
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

HiddenFile::HiddenFile(int folder, NoFileYet) : m_folder(folder) {}

HiddenFile::~HiddenFile()
{
    if (holdsFile() && !m_kept) {
        ::unlink(m_path.c_str());
    }
    ::close(m_folder);
}

std::unique_ptr<HiddenFile> HiddenFile::moveAside(const std::filesystem::path& file)
{
    const int folder = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return nullptr;
        }
        throw FileError("Could not move aside", file.string(), errno);
    }
    auto moved = std::make_unique<HiddenFile>(folder, NoFileYet{});
    if (!moved->renameAside(file, file.filename().string())) {
        return nullptr;
    }
    return moved;
}

std::unique_ptr<HiddenFile> HiddenFile::adopt(const std::filesystem::path& file)
{
    auto adopted =
        std::make_unique<HiddenFile>(openFolder(file.parent_path(), "Could not open"), NoFileYet{});
    adopted->m_path = adopted->folderPrefix() + file.filename().string();
    adopted->release();
    return adopted;
}

void HiddenFile::markAside(std::string_view name)
{
    renameAside(m_path, name);
}

void HiddenFile::exchange(const std::filesystem::path& target)
{
    if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
        throw FileError("Could not write", target.string(), errno);
    }
}

bool HiddenFile::placeIfFree(const std::filesystem::path& target)
{
    if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        m_path.clear();
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    throw FileError("Could not write", target.string(), errno);
}

int HiddenFile::openFolder(const std::filesystem::path& folder, const char* action)
{
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError(action, folder.string(), errno);
    }
    return fd;
}

std::string HiddenFile::folderPrefix() const
{
    return "/proc/self/fd/" + std::to_string(m_folder) + "/";
}

bool HiddenFile::renameAside(const std::filesystem::path& from, std::string_view name)
{
    while (true) {
        const std::string aside = folderPrefix() + asideName(name);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
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

FilePlacement::FilePlacement(SyncPaths paths, std::shared_ptr<LocalStateStore> state)
    : m_paths(std::move(paths)), m_state(std::move(state))
{
}

std::string FilePlacement::checkedPath(const std::string& path) const
{
    return accepted(m_paths.checkRemotePath(path), "path " + path);
}

std::string FilePlacement::conflictCopyPlace(const std::string& path, const std::string& name) const
{
    return parentOf(path) + "/" + accepted(SyncPaths::checkRemoteName(name), "name " + name);
}

std::unique_ptr<HiddenFile> FilePlacement::createTemporary(const std::string& path) const
{
    const std::filesystem::path folder = m_paths.localPath(path).parent_path();
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        throw FileError("Could not create", folder.string(), folderError.value());
    }
    return std::make_unique<HiddenFile>(folder);
}

std::string FilePlacement::placeConflictCopy(HiddenFile& temporary, const std::string& path,
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

bool FilePlacement::replaceIfHolding(HiddenFile& temporary, const std::string& path,
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
    if (m_hooks.beforeSwap) {
        m_hooks.beforeSwap(path);
    }
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

std::optional<std::string> FilePlacement::syncedHash(const std::string& path) const
{
    const auto stored = m_state->get(path);
    return stored ? std::optional<std::string>(stored->hash) : std::nullopt;
}

bool FilePlacement::holdsContent(const std::filesystem::path& file, const std::string& hash) const
{
    return regularFileHash(file) == hash;
}

void FilePlacement::keepBeside(HiddenFile& moved, const std::string& path) const
{
    moved.release();  // the user's file now: nothing that fails from here on removes it
    // Whatever keeps the name from being taken back, not only another file there, the file
    // goes to a conflict-copy name.
    if (::renameat2(AT_FDCWD, moved.path().c_str(), AT_FDCWD, m_paths.localPath(path).c_str(),
                    RENAME_NOREPLACE) != 0) {
        placeConflictCopy(moved, path);
    }
}

bool FilePlacement::removeIfHolding(const std::string& path, const std::string& hash) const
{
    // Moved aside in one step and only then looked at, so that an edit saved just before the
    // removal is never removed with it; a file saved under the name after the move is another
    // file and stays. A process killed in between leaves the moved file for the next start to
    // put back.
    auto aside = HiddenFile::moveAside(m_paths.localPath(path));
    if (!aside) {
        return true;  // already gone
    }
    if (m_hooks.afterMoveAside) {
        m_hooks.afterMoveAside(path);
    }
    if (!holdsContent(aside->path(), hash)) {
        keepBeside(*aside, path);
        return false;
    }
    return true;  // removed as `aside` goes
}

void FilePlacement::removeFile(const std::string& path) const
{
    const std::filesystem::path file = m_paths.localPath(path);
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(file.c_str());  // a file already gone is no error
    }
}

void FilePlacement::removeStaleDownloads() const
{
    for (const std::filesystem::path& entry : engineFiles(m_paths.syncDir(), kDownloadPrefix)) {
        struct stat info {};
        if (::lstat(entry.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            ::unlink(entry.c_str());  // one that cannot be removed is tried again next start
        }
    }
}

void FilePlacement::restoreMovedAside() const
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

void FilePlacement::restore(const std::filesystem::path& entry) const
{
    const auto name = originalNameOf(entry.filename().string());
    const auto folder = m_paths.relativePath(entry.parent_path().string());
    if (!name || !folder) {
        return;  // not a name this engine gives
    }
    const std::string path = (folder->empty() ? "" : "/" + *folder) + "/" + *name;
    const auto moved = HiddenFile::adopt(entry);
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

namespace {

// "<stem><marker>.<extension>" within kNameMax bytes: the stem gives way first, then, for an
// extension too long to leave room for the marker, the extension's end.
std::string fittedName(std::string_view stem, const std::string& marker, std::string_view extension)
{
    const std::size_t fixed = marker.size() + 1;
    const std::string_view keptExtension =
        cutAtCharacter(extension, kNameMax > fixed ? kNameMax - fixed : 0);
    const std::string_view keptStem =
        cutAtCharacter(stem, kNameMax - std::min(kNameMax, fixed + keptExtension.size()));
    return std::string(keptStem) + marker + "." + std::string(keptExtension);
}

}  // namespace

std::string conflictCopyName(std::string_view remoteName, std::string_view stamp,
                             const std::function<bool(const std::string&)>& taken)
{
    // Only the part after the last dot is the extension; a name without one still ends in ".".
    const std::size_t dot = remoteName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot != 0;
    const std::string_view stem = hasExtension ? remoteName.substr(0, dot) : remoteName;
    const std::string_view extension = hasExtension ? remoteName.substr(dot + 1) : "";
    const std::string marker = " (conflict - remote - " + std::string(stamp) + ")";
    std::string name = fittedName(stem, marker, extension);
    for (int counter = 2; taken(name); ++counter) {
        name = fittedName(stem, marker + " " + std::to_string(counter), extension);
    }
    return name;
}

std::string conflictTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M%S", &local);
    return text;
}

}  // namespace corvane
