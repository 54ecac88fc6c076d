#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

class JsonReader;

// The JSON records exchanged with the sync server. Plain values: build them with every field in
// declaration order, e.g. Folder{id, name, path, ownerId, parentId, createdAt, updatedAt}.
// Timestamps stay texts exactly as received. Ids are opaque texts. A value may be used from any
// thread; sharing one value between threads follows the usual rules for std::string.

// The signed-in account.
struct User {
    std::string id;
    std::string email;
    std::string name;
};

// One folder of the account on the server. Identified by `id`.
struct Folder {
    std::string id;
    std::string name;
    std::string path;
    std::string ownerId;
    std::optional<std::string> parentId;  // absent for a top-level folder
    std::string createdAt;
    std::string updatedAt;
};

// The server's view of one file. Identified by `id`.
struct FileInfo {
    std::string id;
    std::string name;
    std::string path;
    std::string hash;  // SHA-256 of the content, 64 lower-case hexadecimal digits
    std::int64_t size = 0;
    std::int64_t version = 0;
    std::string ownerId;
    std::string folderId;
    std::string createdAt;
    std::string updatedAt;
};

// A folder with its whole subtree. An absent list and an empty list are different values;
// readers treat an absent list as empty.
struct FolderTree {
    std::string id;
    std::string name;
    std::string path;
    std::optional<std::vector<FolderTree>> children;
    std::optional<std::vector<FileInfo>> files;
};

// One entry of the server's change log.
struct SyncEvent {
    std::string id;
    std::optional<std::string> fileId;
    std::optional<std::string> folderId;
    std::string userId;
    std::string action;
    std::optional<std::string> path;
    std::optional<std::string> metadata;  // a JSON text, kept as text
    std::string timestamp;
};

// The body that starts an upload.
struct UploadInitRequest {
    std::string path;  // relative to the folder
    std::string folderId;
    std::string hash;
    std::int64_t size = 0;
    std::int64_t baseVersion = 0;  // version of the server's copy being replaced, 0 for a new file
};

// The server's answer to an upload start; status "exists" means no bytes need to be sent.
struct UploadInitResponse {
    std::string status;
    std::optional<std::string> uploadId;
    std::optional<FileInfo> file;
};

// The server's answer to a correct sign-in code.
struct VerifyResponse {
    std::string token;
    User user;
};

// The payload of a "file_changed" push message.
struct FileChangedEvent {
    std::string id;
    std::string action;  // "create", "update", "delete" or anything else, passed on unchanged
    std::optional<std::string> path;
    std::optional<std::string> hash;
    std::optional<std::int64_t> version;
    std::optional<std::string> userId;
    std::optional<std::string> folderId;
    std::optional<std::string> timestamp;
};

// The envelope of every push-channel message ("file_changed", "ping", "pong", ...).
struct WSMessage {
    std::string type;
    std::optional<FileChangedEvent> event;
};

// Answers that are JSON objects whose every member is a text, or a boolean.
using TextMap = std::map<std::string, std::string>;
using BooleanMap = std::map<std::string, bool>;

// Encodes a record or a list of records as compact JSON text. Absent optional fields are left
// out, never written as null. Throws EncodingError only for a text that is not valid UTF-8.
template <typename T>
std::string encode(const T& value);

// Decodes JSON text as a record, a list of records, a TextMap or a BooleanMap. Members with other
// keys are ignored; the first failing key in the record's key order decides the DecodingError.
template <typename T>
T decode(std::string_view text);

template <typename T>
std::vector<T> decodeList(std::string_view text)
{
    return decode<std::vector<T>>(text);
}

// JSON coding of single records, for records that nest them. Found by argument-dependent lookup.
void encodeJson(nlohmann::json& out, const User& value);
void encodeJson(nlohmann::json& out, const Folder& value);
void encodeJson(nlohmann::json& out, const FileInfo& value);
void encodeJson(nlohmann::json& out, const FolderTree& value);
void encodeJson(nlohmann::json& out, const SyncEvent& value);
void encodeJson(nlohmann::json& out, const UploadInitRequest& value);
void encodeJson(nlohmann::json& out, const UploadInitResponse& value);
void encodeJson(nlohmann::json& out, const VerifyResponse& value);
void encodeJson(nlohmann::json& out, const FileChangedEvent& value);
void encodeJson(nlohmann::json& out, const WSMessage& value);

User decodeJson(const JsonReader& reader, std::type_identity<User>);
Folder decodeJson(const JsonReader& reader, std::type_identity<Folder>);
FileInfo decodeJson(const JsonReader& reader, std::type_identity<FileInfo>);
FolderTree decodeJson(const JsonReader& reader, std::type_identity<FolderTree>);
SyncEvent decodeJson(const JsonReader& reader, std::type_identity<SyncEvent>);
UploadInitRequest decodeJson(const JsonReader& reader, std::type_identity<UploadInitRequest>);
UploadInitResponse decodeJson(const JsonReader& reader, std::type_identity<UploadInitResponse>);
VerifyResponse decodeJson(const JsonReader& reader, std::type_identity<VerifyResponse>);
FileChangedEvent decodeJson(const JsonReader& reader, std::type_identity<FileChangedEvent>);
WSMessage decodeJson(const JsonReader& reader, std::type_identity<WSMessage>);

// Test and log output: the record as JSON text.
std::ostream& operator<<(std::ostream& out, const User& value);
std::ostream& operator<<(std::ostream& out, const Folder& value);
std::ostream& operator<<(std::ostream& out, const FileInfo& value);
std::ostream& operator<<(std::ostream& out, const FolderTree& value);
std::ostream& operator<<(std::ostream& out, const SyncEvent& value);
std::ostream& operator<<(std::ostream& out, const UploadInitRequest& value);
std::ostream& operator<<(std::ostream& out, const UploadInitResponse& value);
std::ostream& operator<<(std::ostream& out, const VerifyResponse& value);
std::ostream& operator<<(std::ostream& out, const FileChangedEvent& value);
std::ostream& operator<<(std::ostream& out, const WSMessage& value);

}  // namespace corvane
