#include "Sync/LocalScanner.h"

#include <system_error>

#include "Platform/Unicode.h"
#include "Sync/ContentHash.h"

namespace corvane {

LocalScanner::LocalScanner(SyncPaths paths) : m_paths(std::move(paths)) {}

std::map<std::string, std::string> LocalScanner::scanLocalFiles(const Report& onSkipped) const
{
    std::map<std::string, std::string> hashes;
    walkFiles(m_paths.syncDir(), onSkipped,
              [&](const std::string& path, const std::filesystem::path& file) {
                  try {
                      hashes[path] = hashFile(file);
                  } catch (const std::exception&) {
                      // A file that cannot be read now is left out; the next cycle sees it.
                  }
              });
    return hashes;
}

std::vector<std::string> LocalScanner::filesBelow(const std::string& folder,
                                                  const Report& onSkipped) const
{
    std::vector<std::string> paths;
    walkFiles(
        m_paths.localPath(folder), onSkipped,
        [&](const std::string& path, const std::filesystem::path&) { paths.push_back(path); });
    return paths;
}

void LocalScanner::walkFiles(
    const std::filesystem::path& root, const Report& onSkipped,
    const std::function<void(const std::string& path, const std::filesystem::path& file)>& visit)
    const
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied,
                                          error);
    if (error) {
        return;
    }
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) {
            break;
        }
        const fs::directory_entry& entry = *walk;
        const std::string name = entry.path().filename().string();
        if (name.starts_with('.')) {
            walk.disable_recursion_pending();  // nothing below a hidden folder is synced
            continue;
        }
        const auto relative = m_paths.relativePath(entry.path().string());
        if (!relative) {
            continue;
        }
        if (!Unicode::isValidUTF8(name)) {
            walk.disable_recursion_pending();
            onSkipped("/" + *relative, "name is not valid UTF-8");
            continue;
        }
        std::error_code statusError;
        const fs::file_status status = entry.symlink_status(statusError);
        if (statusError || !fs::is_regular_file(status)) {
            continue;  // folders are walked, links and special files are not synced
        }
        visit("/" + *relative, entry.path());
    }
}

std::vector<FileInfo> LocalScanner::collectFiles(const FolderTree& tree)
{
    std::vector<FileInfo> files = tree.files.value_or(std::vector<FileInfo>{});
    if (tree.children) {
        for (const FolderTree& child : *tree.children) {
            std::vector<FileInfo> below = collectFiles(child);
            files.insert(files.end(), std::make_move_iterator(below.begin()),
                         std::make_move_iterator(below.end()));
        }
    }
    return files;
}

void LocalScanner::createLocalFolders(const FolderTree& tree, bool skipSelf,
                                      const Report& onRefused) const
{
    if (!skipSelf && !tree.path.empty()) {
        const auto checked = m_paths.checkRemotePath(tree.path);
        if (checked.path) {
            std::error_code ignored;  // an existing folder, or one that cannot be made, is fine
            std::filesystem::create_directories(m_paths.localPath(*checked.path), ignored);
        } else {
            onRefused(tree.path, checked.refusal);
        }
    }
    if (tree.children) {
        for (const FolderTree& child : *tree.children) {
            createLocalFolders(child, false, onRefused);
        }
    }
}

}  // namespace corvane
