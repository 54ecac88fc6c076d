#include "MenuBar/AccountTabUsage.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Models/ActivityItem.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Adds one entry of the open folder `dir`; true when it is a folder to walk into (a real
// folder, not a link to one).
bool measureEntry(int dir, const char* name, LocalFolderUsage& usage)
{
    struct stat itself {};
    const bool found = ::fstatat(dir, name, &itself, AT_SYMLINK_NOFOLLOW) == 0;
    if (found) {
        usage.totalBytes += static_cast<std::int64_t>(itself.st_size);
    }
    bool isFolder = false;
    if (found && !S_ISLNK(itself.st_mode)) {
        isFolder = S_ISDIR(itself.st_mode);
    } else {
        // Links count by what they point to; one that points nowhere counts as a file.
        struct stat target {};
        isFolder = ::fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    if (!isFolder) {
        ++usage.fileCount;
    }
    return found && S_ISDIR(itself.st_mode);
}

// Measures the entries of the folder `relative` below `root` and queues its subfolders. A
// folder that cannot be opened (unreadable, or gone since it was listed) is passed over.
void measureFolder(int root, const std::string& relative, LocalFolderUsage& usage,
                   std::vector<std::string>& pending, const std::stop_token& stop)
{
    UniqueFd fd(relative.empty() ? ::openat(root, ".", kFolderFlags)
                                 : ::openat(root, relative.c_str(), kFolderFlags | O_NOFOLLOW));
    if (!fd) {
        return;
    }
    DirHandle dir(::fdopendir(fd.get()));
    if (!dir) {
        return;
    }
    fd.release();  // the stream owns it now
    while (const dirent* entry = ::readdir(dir.get())) {
        if (stop.stop_requested()) {
            return;
        }
        const std::string_view name(entry->d_name);
        if (name.starts_with('.')) {
            continue;  // hidden, with everything below it; also "." and ".."
        }
        if (measureEntry(::dirfd(dir.get()), entry->d_name, usage)) {
            pending.push_back(relative.empty() ? std::string(name)
                                               : relative + '/' + std::string(name));
        }
    }
}

}  // namespace

std::optional<LocalFolderUsage> measureLocalFolder(const std::filesystem::path& folder,
                                                   std::stop_token stop)
{
    const UniqueFd root(::open(folder.c_str(), kFolderFlags));
    if (!root) {
        return std::nullopt;
    }
    LocalFolderUsage usage;
    // Folders still to read, relative to `folder`; one open at a time, however deep the tree.
    std::vector<std::string> pending{std::string()};
    while (!pending.empty() && !stop.stop_requested()) {
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        measureFolder(root.get(), relative, usage, pending, stop);
    }
    return usage;
}

std::ostream& operator<<(std::ostream& out, const LocalFolderUsage& usage)
{
    return out << usage.fileCount << " files, " << usage.totalBytes << " bytes";
}

std::string localFileCountText(const std::optional<LocalFolderUsage>& usage)
{
    return std::to_string(usage ? usage->fileCount : 0) + " files";
}

std::string localFolderSizeText(const std::optional<LocalFolderUsage>& usage)
{
    return usage ? formattedBytes(usage->totalBytes) : "0 B";
}

}  // namespace corvane
