#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Models/Models.h"
#include "Sync/SyncPaths.h"

namespace corvane {

// The local half of the full sync cycle: the walk of the sync folder and the folders of the
// server's trees. Stateless apart from the sync folder; may be used from any thread.
class LocalScanner {
public:
    // Called with a path that was left out of the scan and why.
    using Report = std::function<void(const std::string& path, const std::string& reason)>;

    explicit LocalScanner(SyncPaths paths);

    // Sync-relative path -> content hash of every regular file below the sync folder. Entries
    // with a component beginning with "." are skipped, symbolic links are not followed, files
    // that cannot be read are left out silently and names that are not valid UTF-8 are left out
    // with a report.
    std::map<std::string, std::string> scanLocalFiles(const Report& onSkipped) const;

    // Sync-relative paths of the regular files below the sync-relative folder `folder`, left out
    // as the scan leaves them out.
    std::vector<std::string> filesBelow(const std::string& folder, const Report& onSkipped) const;

    // The tree's own files, then each child's, depth first.
    static std::vector<FileInfo> collectFiles(const FolderTree& tree);

    // Creates the local folder of the tree (unless skipSelf) and of every descendant. A server
    // folder path that fails the path check is reported and nothing is created for it.
    void createLocalFolders(const FolderTree& tree, bool skipSelf, const Report& onRefused) const;

private:
    // Calls `visit` with the sync-relative path of every file the scan takes below `root`.
    void walkFiles(const std::filesystem::path& root, const Report& onSkipped,
                   const std::function<void(const std::string& path,
                                            const std::filesystem::path& file)>& visit) const;

    SyncPaths m_paths;
};

}  // namespace corvane
