#pragma once

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Models/Models.h"

namespace corvane {

class APIClient;

// Maps the sync folder's layout onto the server's folders: top-level directories are the
// account's top-level folders, top-level files belong to the folder "__root__". Learns folder
// ids at start (load()), finds or creates the folder of a file (resolve()) and converts file
// paths between folder-relative and sync-relative form.
//
// Thread-safe. One mutex guards the maps; it is released while the resolver waits for the
// server, so calls from several tasks interleave between server calls. A folder that is being
// created is created once: later callers for the same path wait for that creation.
class FolderResolver {
public:
    static constexpr std::string_view kRootFolderName = "__root__";

    explicit FolderResolver(std::shared_ptr<APIClient> apiClient);

    // Reads the top-level folders and their trees; returns the ids of the folders to sync.
    // Throws when the folder list cannot be read.
    std::vector<std::string> load();

    bool isRootFolder(const std::string& folderId) const;
    std::optional<Folder> getFolderByID(const std::string& folderId) const;
    // A path in the folder `folderId` in sync-relative form: joined with the folder's path unless
    // it already begins with it; unchanged for the root folder and for a folder not known here.
    std::string syncRelativePath(const std::string& path, const std::string& folderId) const;
    // The same records with their paths in sync-relative form.
    std::vector<FileInfo> normalizeFilePaths(std::vector<FileInfo> files) const;
    // A sync-relative path made relative to the folder `folderId`.
    std::string stripFolderPrefix(const std::string& path, const std::string& folderId) const;
    // The id of the folder that holds `filePath`, created on the server when missing.
    std::string resolve(const std::string& filePath);
    // Learns every folder of a tree (also one fetched after load()).
    void indexTree(const FolderTree& tree);

    // "/a/b.txt" -> "/a", "/b.txt" -> "/", "b.txt" -> "".
    static std::string directoryOf(std::string_view filePath);

private:
    void indexFolderLocked(const Folder& folder);
    void indexTreeLocked(const FolderTree& tree);
    std::optional<std::string> folderPrefixLocked(const std::string& folderId) const;
    std::string syncRelativePathLocked(std::string path, const std::string& folderId) const;
    std::string ensureRootFolder();
    std::string ensureFolderPath(const std::string& directory);
    // Creates the folder, or takes the one of that name that another client created meanwhile.
    Folder createOrAdopt(const std::string& name, const std::optional<std::string>& parentId);
    // The id indexed for the folder path `path`; nothing when none is.
    std::optional<std::string> idForPathLocked(const std::string& path) const;
    // Creates one folder, or waits for the creation already in flight under `key`.
    Folder createOnce(const std::string& key, const std::string& name,
                      const std::optional<std::string>& parentId, bool& createdHere);

    const std::shared_ptr<APIClient> m_apiClient;
    mutable std::mutex m_mutex;  // guards everything below
    std::map<std::string, std::string> m_pathToID;
    std::map<std::string, Folder> m_idToFolder;
    std::string m_rootID;
    std::map<std::string, std::shared_future<Folder>> m_creating;
};

}  // namespace corvane
