#include "Sync/FolderResolver.h"

#include <cstdio>
#include <exception>

#include "API/APIClient.h"
#include "API/APIError.h"
#include "Platform/Error.h"

namespace corvane {
namespace {

constexpr long kStatusConflict = 409;

// Diagnostic lines of the resolver go to standard output only, never to the log file.
void printLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string withoutTrailingSlash(std::string path)
{
    if (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// Creations are keyed by folder path; the root folder has none of its own.
const std::string kRootKey;

// The error as a developer reads it: the REST error's case and payload, else its message.
std::string debugDescription(const std::exception& error)
{
    const auto* apiError = dynamic_cast<const APIError*>(&error);
    if (!apiError) {
        return error.what();
    }
    switch (apiError->kind()) {
    case APIError::Kind::serverError:
        return "serverError(\"" + std::string(error.what()) + "\")";
    case APIError::Kind::requestFailed:
        return "requestFailed";
    case APIError::Kind::unauthorized:
        return "unauthorized";
    case APIError::Kind::invalidURL:
        return "invalidURL";
    }
    return error.what();
}

}  // namespace

FolderResolver::FolderResolver(std::shared_ptr<APIClient> apiClient)
    : m_apiClient(std::move(apiClient))
{
}

std::vector<std::string> FolderResolver::load()
{
    const std::vector<Folder> folders = m_apiClient->listFolders(std::nullopt);
    std::vector<std::string> ids;
    for (const Folder& folder : folders) {
        ids.push_back(folder.id);
        {
            std::lock_guard lock(m_mutex);
            indexFolderLocked(folder);
            if (folder.name == kRootFolderName && !folder.parentId) {
                m_rootID = folder.id;
            }
        }
        try {
            const FolderTree tree = m_apiClient->getFolderTree(folder.id);
            std::lock_guard lock(m_mutex);
            indexTreeLocked(tree);
        } catch (const std::exception& error) {
            printLine("Warning: could not load tree for folder " + folder.id + ": " +
                      debugDescription(error));
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (!m_rootID.empty()) {
            return ids;
        }
    }
    try {
        const Folder root = createOrAdopt(std::string(kRootFolderName), std::nullopt);
        std::lock_guard lock(m_mutex);
        m_rootID = root.id;
        indexFolderLocked(root);
        ids.push_back(root.id);
    } catch (const std::exception&) {
        // The root stays unknown rather than falling back to an ordinary folder, whose files
        // would then be taken for top-level files; resolve() creates the root when needed.
    }
    return ids;
}

bool FolderResolver::isRootFolder(const std::string& folderId) const
{
    std::lock_guard lock(m_mutex);
    return folderId == m_rootID;
}

std::optional<Folder> FolderResolver::getFolderByID(const std::string& folderId) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_idToFolder.find(folderId);
    if (found == m_idToFolder.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> FolderResolver::folderPrefixLocked(const std::string& folderId) const
{
    if (folderId == m_rootID) {
        return std::nullopt;
    }
    const auto found = m_idToFolder.find(folderId);
    if (found == m_idToFolder.end() || found->second.path.empty()) {
        return std::nullopt;
    }
    return withoutTrailingSlash(found->second.path);
}

std::string FolderResolver::syncRelativePathLocked(std::string path,
                                                   const std::string& folderId) const
{
    const auto prefix = folderPrefixLocked(folderId);
    if (!prefix || path.starts_with(*prefix + "/")) {
        return path;
    }
    const std::string_view rest = std::string_view(path).substr(path.starts_with('/') ? 1 : 0);
    return *prefix + "/" + std::string(rest);
}

std::string FolderResolver::syncRelativePath(const std::string& path,
                                             const std::string& folderId) const
{
    std::lock_guard lock(m_mutex);
    return syncRelativePathLocked(path, folderId);
}

std::vector<FileInfo> FolderResolver::normalizeFilePaths(std::vector<FileInfo> files) const
{
    std::lock_guard lock(m_mutex);
    for (FileInfo& file : files) {
        file.path = syncRelativePathLocked(std::move(file.path), file.folderId);
    }
    return files;
}

std::string FolderResolver::stripFolderPrefix(const std::string& path,
                                              const std::string& folderId) const
{
    std::lock_guard lock(m_mutex);
    const auto prefix = folderPrefixLocked(folderId);
    if (!prefix || !path.starts_with(*prefix + "/")) {
        return path;
    }
    return path.substr(prefix->size());
}

std::string FolderResolver::directoryOf(std::string_view filePath)
{
    while (filePath.size() > 1 && filePath.back() == '/') {
        filePath.remove_suffix(1);
    }
    const std::size_t slash = filePath.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return std::string(filePath.substr(0, slash));
}

std::string FolderResolver::resolve(const std::string& filePath)
{
    const std::string directory = directoryOf(filePath);
    if (directory == "/" || directory == "." || directory.empty()) {
        return ensureRootFolder();
    }
    {
        std::lock_guard lock(m_mutex);
        if (auto id = idForPathLocked(directory)) {
            return std::move(*id);
        }
    }
    return ensureFolderPath(directory);
}

void FolderResolver::indexTree(const FolderTree& tree)
{
    std::lock_guard lock(m_mutex);
    indexTreeLocked(tree);
}

void FolderResolver::indexFolderLocked(const Folder& folder)
{
    m_pathToID[folder.path] = folder.id;
    m_idToFolder[folder.id] = folder;
}

void FolderResolver::indexTreeLocked(const FolderTree& tree)
{
    m_pathToID[tree.path] = tree.id;
    m_idToFolder[tree.id] = Folder{tree.id, tree.name, tree.path, "", std::nullopt, "", ""};
    if (tree.children) {
        for (const FolderTree& child : *tree.children) {
            indexTreeLocked(child);
        }
    }
}

std::optional<std::string> FolderResolver::idForPathLocked(const std::string& path) const
{
    const auto found = m_pathToID.find(path);
    if (found == m_pathToID.end()) {
        return std::nullopt;
    }
    return found->second;
}

Folder FolderResolver::createOnce(const std::string& key, const std::string& name,
                                  const std::optional<std::string>& parentId, bool& createdHere)
{
    std::promise<Folder> promise;
    std::shared_future<Folder> pending;
    {
        std::lock_guard lock(m_mutex);
        // Made by another call between the caller's lookup and now: nothing to create.
        const std::string knownID =
            key == kRootKey ? m_rootID : idForPathLocked(key).value_or(std::string());
        if (!knownID.empty()) {
            createdHere = false;
            const auto known = m_idToFolder.find(knownID);
            return known != m_idToFolder.end() ? known->second
                                               : Folder{knownID, name, key, "", parentId, "", ""};
        }
        const auto found = m_creating.find(key);
        if (found != m_creating.end()) {
            pending = found->second;
        } else {
            m_creating[key] = promise.get_future().share();
        }
    }
    if (pending.valid()) {
        createdHere = false;
        return pending.get();  // rethrows the creator's error
    }
    createdHere = true;
    try {
        Folder folder = createOrAdopt(name, parentId);
        {
            // Indexed before anyone waiting learns the id, so that every path sent into the
            // folder is made relative to it the same way.
            std::lock_guard lock(m_mutex);
            indexFolderLocked(folder);
            if (key == kRootKey) {
                m_rootID = folder.id;
            }
            m_creating.erase(key);
        }
        promise.set_value(folder);
        return folder;
    } catch (...) {
        promise.set_exception(std::current_exception());
        std::lock_guard lock(m_mutex);
        m_creating.erase(key);
        throw;
    }
}

Folder FolderResolver::createOrAdopt(const std::string& name,
                                     const std::optional<std::string>& parentId)
{
    try {
        return m_apiClient->createFolder(name, parentId);
    } catch (const APIError& error) {
        // Another device created it since this resolver last looked: take that one.
        if (error.httpStatus() != kStatusConflict) {
            throw;
        }
        for (const Folder& folder : m_apiClient->listFolders(parentId)) {
            if (folder.name == name && folder.parentId == parentId) {
                return folder;
            }
        }
        throw;
    }
}

std::string FolderResolver::ensureRootFolder()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_rootID.empty()) {
            return m_rootID;
        }
    }
    bool createdHere = false;
    const Folder root =
        createOnce(kRootKey, std::string(kRootFolderName), std::nullopt, createdHere);
    if (createdHere) {
        printLine("Created default root folder: " + root.name + " (" + root.id + ")");
    }
    return root.id;
}

std::string FolderResolver::ensureFolderPath(const std::string& directory)
{
    std::string_view trimmed = directory;
    while (trimmed.starts_with('/')) {
        trimmed.remove_prefix(1);
    }
    while (trimmed.ends_with('/')) {
        trimmed.remove_suffix(1);
    }
    std::vector<std::string> components;
    for (std::size_t start = 0;;) {
        const std::size_t slash = trimmed.find('/', start);
        components.emplace_back(trimmed.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }

    std::string current;
    std::optional<std::string> parentId;
    for (const std::string& component : components) {
        current += "/" + component;
        {
            std::lock_guard lock(m_mutex);
            if (auto id = idForPathLocked(current)) {
                parentId = std::move(id);
                continue;
            }
        }
        bool createdHere = false;
        const Folder folder = createOnce(current, component, parentId, createdHere);
        parentId = folder.id;
        if (createdHere) {
            printLine("Created folder: " + current + " (" + folder.id + ")");
        }
    }
    if (!parentId) {
        throw Error("Failed to resolve folder for: " + directory);
    }
    return *parentId;
}

}  // namespace corvane
