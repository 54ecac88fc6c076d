#include "FolderApi.h"

#include <nlohmann/json.hpp>

#include "HttpError.h"
#include "JsonBody.h"
#include "PathRules.h"
#include "Request.h"
#include "ServerClock.h"
#include "Services.h"
#include "Store.h"

namespace corvane::server {

Response FolderApi::list(const Request& request, const User& user)
{
    const auto parentId = request.queryValue("parent_id");
    if (parentId && !m_services.store.folder(user.id, *parentId)) {
        return Response::error(404, "folder not found");
    }
    nlohmann::json folders = nlohmann::json::array();
    for (const auto& folder : m_services.store.folders(user.id, parentId)) {
        folders.push_back(WireFormat::folder(folder));
    }
    return Response::json(200, folders);
}

Response FolderApi::create(const Request& request, const User& user)
{
    const JsonBody body(request.body);
    const std::string name = body.text("name");
    const auto parentId = body.optionalText("parent_id");
    if (!PathRules::isValidName(name)) {
        return Response::error(400, "invalid folder name");
    }
    if (parentId) {
        const auto parent = m_services.store.folder(user.id, *parentId);
        if (!parent) {
            return Response::error(404, "parent folder not found");
        }
        if (parent->path.size() + 1 + name.size() > PathRules::kMaxPathBytes) {
            return Response::error(400, "folder path too long");
        }
        if (PathRules::folderDepth(parent->path) >= PathRules::kMaxFolderDepth) {
            return Response::error(400, "folders nest at most " +
                                            std::to_string(PathRules::kMaxFolderDepth) + " deep");
        }
    }
    const auto [outcome, folder] =
        m_services.store.createFolder(user.id, parentId, name, m_services.clock.nowText());
    switch (outcome) {
    case CreateFolderOutcome::created:
        return Response::json(201, WireFormat::folder(*folder));
    case CreateFolderOutcome::duplicate:
        return Response::error(409, "a folder with this name already exists");
    case CreateFolderOutcome::parentMissing:
        break;
    }
    return Response::error(404, "parent folder not found");
}

Response FolderApi::tree(const std::string& folderId, const User& user)
{
    const auto folder = m_services.store.folder(user.id, folderId);
    if (!folder) {
        return Response::error(404, "folder not found");
    }
    return Response::json(200, treeOf(*folder, user));
}

Response FolderApi::files(const Request& request, const User& user)
{
    const auto folderId = request.queryValue("folder_id");
    if (!folderId) {
        return Response::error(400, "missing folder_id");
    }
    const auto folder = m_services.store.folder(user.id, *folderId);
    if (!folder) {
        return Response::error(404, "folder not found");
    }
    return Response::json(200, filesOf(*folder));
}

nlohmann::json FolderApi::treeOf(const FolderRecord& folder, const User& user)
{
    // Folder paths are at most PathRules::kMaxPathBytes long and PathRules::kMaxFolderDepth
    // deep, which bounds this recursion.
    nlohmann::json children = nlohmann::json::array();
    for (const auto& child : m_services.store.folders(user.id, folder.id)) {
        children.push_back(treeOf(child, user));
    }
    return {{"id", folder.id},
            {"name", folder.name},
            {"path", folder.path},
            {"children", std::move(children)},
            {"files", filesOf(folder)}};
}

nlohmann::json FolderApi::filesOf(const FolderRecord& folder)
{
    nlohmann::json files = nlohmann::json::array();
    for (const auto& file : m_services.store.files(folder.id)) {
        files.push_back(m_services.wire.fileInfo(file, folder));
    }
    return files;
}

}  // namespace corvane::server
