#pragma once

#include <nlohmann/json.hpp>

#include "ChangeSink.h"
#include "ServerOptions.h"
#include "StoreRecords.h"

namespace corvane::server {

// Writes the wire records (User, Folder, FileInfo, SyncEvent, file_changed notices) from stored
// rows. Absent optionals are left out, ids and timestamps are texts. Immutable; any thread.
class WireFormat {
public:
    static constexpr const char* kRootFolderName = "__root__";

    explicit WireFormat(FilePathMode filePaths) : m_filePaths(filePaths) {}

    static nlohmann::json user(const User& user);
    static nlohmann::json folder(const FolderRecord& folder);
    nlohmann::json fileInfo(const FileRecord& file, const FolderRecord& folder) const;
    static nlohmann::json syncEvent(const EventRecord& event);
    static FileChangedNotice notice(const EventRecord& event);

    // "/" + relative path, or the folder's path in front of it in full mode; the files of the
    // top-level "__root__" folder always carry the relative form.
    std::string filePath(const std::string& relativePath, const FolderRecord& folder) const;
    static bool isRootFolder(const FolderRecord& folder);

private:
    FilePathMode m_filePaths;
};

}  // namespace corvane::server
