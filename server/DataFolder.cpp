#include "DataFolder.h"

#include <sys/stat.h>

namespace corvane::server {

namespace {

namespace fs = std::filesystem;

constexpr fs::perms kFolderMode = fs::perms::owner_all;
constexpr fs::perms kFileMode = fs::perms::owner_read | fs::perms::owner_write;

// Symbolic links are left alone: the server makes none, and following one could change the
// mode of a file outside the folder.
void tighten(const fs::path& path)
{
    const auto status = fs::symlink_status(path);
    if (fs::is_directory(status) && status.permissions() != kFolderMode) {
        fs::permissions(path, kFolderMode, fs::perm_options::replace);
    } else if (fs::is_regular_file(status) && status.permissions() != kFileMode) {
        fs::permissions(path, kFileMode, fs::perm_options::replace);
    }
}

}  // namespace

void DataFolder::makePrivate(const fs::path& folder)
{
    ::umask(S_IRWXG | S_IRWXO);
    fs::create_directories(folder);
    tighten(folder);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        tighten(entry.path());
    }
}

}  // namespace corvane::server
