#include "WireFormat.h"

namespace corvane::server {

nlohmann::json WireFormat::user(const User& user)
{
    return {{"id", user.id}, {"email", user.email}, {"name", user.name}};
}

nlohmann::json WireFormat::folder(const FolderRecord& folder)
{
    nlohmann::json json{{"id", folder.id},
                        {"name", folder.name},
                        {"path", folder.path},
                        {"owner_id", folder.ownerId},
                        {"created_at", folder.createdAt},
                        {"updated_at", folder.updatedAt}};
    if (folder.parentId) {
        json["parent_id"] = *folder.parentId;
    }
    return json;
}

nlohmann::json WireFormat::fileInfo(const FileRecord& file, const FolderRecord& folder) const
{
    return {{"id", file.id},
            {"name", file.name},
            {"path", filePath(file.relativePath, folder)},
            {"hash", file.hash},
            {"size", file.size},
            {"version", file.version},
            {"owner_id", file.ownerId},
            {"folder_id", file.folderId},
            {"created_at", file.createdAt},
            {"updated_at", file.updatedAt}};
}

nlohmann::json WireFormat::syncEvent(const EventRecord& event)
{
    nlohmann::json json{{"id", std::to_string(event.id)}, {"file_id", event.fileId},
                        {"folder_id", event.folderId},    {"user_id", event.userId},
                        {"action", event.action},         {"path", "/" + event.relativePath},
                        {"timestamp", event.timestamp}};
    nlohmann::json metadata = nlohmann::json::object();
    if (event.hash) {
        metadata["hash"] = *event.hash;
    }
    if (event.size) {
        metadata["size"] = *event.size;
    }
    if (event.version) {
        metadata["version"] = *event.version;
    }
    if (!metadata.empty()) {
        json["metadata"] = metadata.dump();  // a JSON text, not an object
    }
    return json;
}

FileChangedNotice WireFormat::notice(const EventRecord& event)
{
    return FileChangedNotice{std::to_string(event.id),
                             event.action,
                             "/" + event.relativePath,
                             event.hash,
                             event.version,
                             event.userId,
                             event.folderId,
                             event.timestamp};
}

std::string WireFormat::filePath(const std::string& relativePath, const FolderRecord& folder) const
{
    if (m_filePaths == FilePathMode::full && !isRootFolder(folder)) {
        return folder.path + "/" + relativePath;
    }
    return "/" + relativePath;
}

bool WireFormat::isRootFolder(const FolderRecord& folder)
{
    return !folder.parentId && folder.name == kRootFolderName;
}

}  // namespace corvane::server
