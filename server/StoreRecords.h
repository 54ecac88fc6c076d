#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

// The rows the Store reads and writes. Plain values; any thread.
namespace corvane::server {

struct User {
    std::string id;
    std::string email;
    std::string name;
};

struct FolderRecord {
    std::string id;
    std::string ownerId;
    std::optional<std::string> parentId;  // absent for a top-level folder
    std::string name;
    std::string path;  // "/" + names joined by "/"
    std::string createdAt;
    std::string updatedAt;
};

struct FileRecord {
    std::string id;
    std::string folderId;
    std::string ownerId;
    std::string relativePath;  // relative to the folder, no leading "/": "Sub/a.txt"
    std::string name;          // last component
    std::string hash;
    std::int64_t size = 0;
    std::int64_t version = 0;
    std::string createdAt;
    std::string updatedAt;
};

// One entry of the change log: a create, update or delete of one file.
struct EventRecord {
    std::int64_t id = 0;
    std::string userId;
    std::string fileId;
    std::string folderId;
    std::string action;        // "create", "update", "delete"
    std::string relativePath;  // as in FileRecord
    std::optional<std::string> hash;
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> version;
    std::string timestamp;
};

// An upload that init accepted and whose content has not arrived yet.
struct PendingUpload {
    std::string id;
    std::string userId;
    std::string folderId;
    std::string relativePath;
    std::string hash;
    std::int64_t size = 0;
    std::int64_t baseVersion = 0;
};

// What a stored change produced: the file as it is now (as it was, for a delete) and its event.
struct FileChange {
    FileRecord file;
    EventRecord event;
};

// What storing an upload produced: the file's change and, when the upload replaced content that
// its sender had not seen (its base version was not the file's version), the creation of the
// conflict copy that keeps that content.
struct StoredUpload {
    FileChange change;
    std::optional<FileChange> keptCopy;
};

enum class CodeCheck { accepted, wrong, expired, missing };

enum class CreateFolderOutcome { created, duplicate, parentMissing };

inline std::ostream& operator<<(std::ostream& out, const FileRecord& file)
{
    return out << "FileRecord{" << file.folderId << ":" << file.relativePath << " v" << file.version
               << " " << file.hash << " " << file.size << "}";
}

}  // namespace corvane::server
