#include "Models/Models.h"

#include <ostream>

#include "Models/JsonCoding.h"
#include "Platform/Unicode.h"

namespace corvane {

namespace {

// Deeper texts are refused before they are read: decoding nested records (a folder tree nests
// two levels per folder) recurses once per level, and each level lengthens the key path that
// errors carry. 512 leaves room for folder trees 255 folders deep.
constexpr std::size_t kMaxNestingDepth = 512;

// Counts brackets outside strings; stops at the first one past the limit. Malformed text may be
// miscounted, but the parser refuses it anyway.
bool nestsTooDeep(std::string_view text)
{
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNestingDepth) {
                return true;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

}  // namespace

nlohmann::json parseJson(std::string_view text)
{
    if (nestsTooDeep(text)) {
        throw DecodingError::dataCorrupted("arrays and objects nested more than " +
                                           std::to_string(kMaxNestingDepth) + " deep");
    }
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        // parse_error, and out_of_range for a number too large for a double ("1e400").
        // Drop the library's "[json.exception.parse_error.101] " prefix: users see this text,
        // which quotes the offending bytes and so must be made UTF-8.
        const std::string message = error.what();
        const std::size_t end = message.find("] ");
        throw DecodingError::dataCorrupted(
            Unicode::validUTF8(end == std::string::npos ? message : message.substr(end + 2)));
    }
}

std::string dumpJson(const nlohmann::json& value)
{
    try {
        return value.dump();
    } catch (const nlohmann::json::type_error&) {
        throw EncodingError("a text is not valid UTF-8");
    }
}

// Encoding. Member order in the written text is not significant.

void encodeJson(nlohmann::json& out, const User& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "email", value.email);
    putRequired(out, "name", value.name);
}

void encodeJson(nlohmann::json& out, const Folder& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "name", value.name);
    putRequired(out, "path", value.path);
    putRequired(out, "owner_id", value.ownerId);
    putOptional(out, "parent_id", value.parentId);
    putRequired(out, "created_at", value.createdAt);
    putRequired(out, "updated_at", value.updatedAt);
}

void encodeJson(nlohmann::json& out, const FileInfo& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "name", value.name);
    putRequired(out, "path", value.path);
    putRequired(out, "hash", value.hash);
    putRequired(out, "size", value.size);
    putRequired(out, "version", value.version);
    putRequired(out, "owner_id", value.ownerId);
    putRequired(out, "folder_id", value.folderId);
    putRequired(out, "created_at", value.createdAt);
    putRequired(out, "updated_at", value.updatedAt);
}

void encodeJson(nlohmann::json& out, const FolderTree& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "name", value.name);
    putRequired(out, "path", value.path);
    putOptional(out, "children", value.children);
    putOptional(out, "files", value.files);
}

void encodeJson(nlohmann::json& out, const SyncEvent& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "action", value.action);
    putOptional(out, "path", value.path);
    putOptional(out, "metadata", value.metadata);
    putRequired(out, "timestamp", value.timestamp);
    putOptional(out, "file_id", value.fileId);
    putOptional(out, "folder_id", value.folderId);
    putRequired(out, "user_id", value.userId);
}

void encodeJson(nlohmann::json& out, const UploadInitRequest& value)
{
    out = nlohmann::json::object();
    putRequired(out, "path", value.path);
    putRequired(out, "hash", value.hash);
    putRequired(out, "size", value.size);
    putRequired(out, "folder_id", value.folderId);
    putRequired(out, "base_version", value.baseVersion);
}

void encodeJson(nlohmann::json& out, const UploadInitResponse& value)
{
    out = nlohmann::json::object();
    putRequired(out, "status", value.status);
    putOptional(out, "file", value.file);
    putOptional(out, "upload_id", value.uploadId);
}

void encodeJson(nlohmann::json& out, const VerifyResponse& value)
{
    out = nlohmann::json::object();
    putRequired(out, "token", value.token);
    putRequired(out, "user", value.user);
}

void encodeJson(nlohmann::json& out, const FileChangedEvent& value)
{
    out = nlohmann::json::object();
    putRequired(out, "id", value.id);
    putRequired(out, "action", value.action);
    putOptional(out, "path", value.path);
    putOptional(out, "hash", value.hash);
    putOptional(out, "version", value.version);
    putOptional(out, "timestamp", value.timestamp);
    putOptional(out, "user_id", value.userId);
    putOptional(out, "folder_id", value.folderId);
}

void encodeJson(nlohmann::json& out, const WSMessage& value)
{
    out = nlohmann::json::object();
    putRequired(out, "type", value.type);
    putOptional(out, "event", value.event);
}

// Decoding. Fields are read in each record's key order (which differs from the declaration order
// for SyncEvent, UploadInitRequest, UploadInitResponse and FileChangedEvent), so the first failing
// key decides the error.

User decodeJson(const JsonReader& reader, std::type_identity<User>)
{
    reader.expectObject();
    User value;
    value.id = reader.required<std::string>("id");
    value.email = reader.required<std::string>("email");
    value.name = reader.required<std::string>("name");
    return value;
}

Folder decodeJson(const JsonReader& reader, std::type_identity<Folder>)
{
    reader.expectObject();
    Folder value;
    value.id = reader.required<std::string>("id");
    value.name = reader.required<std::string>("name");
    value.path = reader.required<std::string>("path");
    value.ownerId = reader.required<std::string>("owner_id");
    value.parentId = reader.optional<std::string>("parent_id");
    value.createdAt = reader.required<std::string>("created_at");
    value.updatedAt = reader.required<std::string>("updated_at");
    return value;
}

FileInfo decodeJson(const JsonReader& reader, std::type_identity<FileInfo>)
{
    reader.expectObject();
    FileInfo value;
    value.id = reader.required<std::string>("id");
    value.name = reader.required<std::string>("name");
    value.path = reader.required<std::string>("path");
    value.hash = reader.required<std::string>("hash");
    value.size = reader.required<std::int64_t>("size");
    value.version = reader.required<std::int64_t>("version");
    value.ownerId = reader.required<std::string>("owner_id");
    value.folderId = reader.required<std::string>("folder_id");
    value.createdAt = reader.required<std::string>("created_at");
    value.updatedAt = reader.required<std::string>("updated_at");
    return value;
}

FolderTree decodeJson(const JsonReader& reader, std::type_identity<FolderTree>)
{
    reader.expectObject();
    FolderTree value;
    value.id = reader.required<std::string>("id");
    value.name = reader.required<std::string>("name");
    value.path = reader.required<std::string>("path");
    value.children = reader.optional<std::vector<FolderTree>>("children");
    value.files = reader.optional<std::vector<FileInfo>>("files");
    return value;
}

SyncEvent decodeJson(const JsonReader& reader, std::type_identity<SyncEvent>)
{
    reader.expectObject();
    SyncEvent value;
    value.id = reader.required<std::string>("id");
    value.action = reader.required<std::string>("action");
    value.path = reader.optional<std::string>("path");
    value.metadata = reader.optional<std::string>("metadata");
    value.timestamp = reader.required<std::string>("timestamp");
    value.fileId = reader.optional<std::string>("file_id");
    value.folderId = reader.optional<std::string>("folder_id");
    value.userId = reader.required<std::string>("user_id");
    return value;
}

UploadInitRequest decodeJson(const JsonReader& reader, std::type_identity<UploadInitRequest>)
{
    reader.expectObject();
    UploadInitRequest value;
    value.path = reader.required<std::string>("path");
    value.hash = reader.required<std::string>("hash");
    value.size = reader.required<std::int64_t>("size");
    value.folderId = reader.required<std::string>("folder_id");
    value.baseVersion = reader.required<std::int64_t>("base_version");
    return value;
}

UploadInitResponse decodeJson(const JsonReader& reader, std::type_identity<UploadInitResponse>)
{
    reader.expectObject();
    UploadInitResponse value;
    value.status = reader.required<std::string>("status");
    value.file = reader.optional<FileInfo>("file");
    value.uploadId = reader.optional<std::string>("upload_id");
    return value;
}

VerifyResponse decodeJson(const JsonReader& reader, std::type_identity<VerifyResponse>)
{
    reader.expectObject();
    VerifyResponse value;
    value.token = reader.required<std::string>("token");
    value.user = reader.required<User>("user");
    return value;
}

FileChangedEvent decodeJson(const JsonReader& reader, std::type_identity<FileChangedEvent>)
{
    reader.expectObject();
    FileChangedEvent value;
    value.id = reader.required<std::string>("id");
    value.action = reader.required<std::string>("action");
    value.path = reader.optional<std::string>("path");
    value.hash = reader.optional<std::string>("hash");
    value.version = reader.optional<std::int64_t>("version");
    value.timestamp = reader.optional<std::string>("timestamp");
    value.userId = reader.optional<std::string>("user_id");
    value.folderId = reader.optional<std::string>("folder_id");
    return value;
}

WSMessage decodeJson(const JsonReader& reader, std::type_identity<WSMessage>)
{
    reader.expectObject();
    WSMessage value;
    value.type = reader.required<std::string>("type");
    value.event = reader.optional<FileChangedEvent>("event");
    return value;
}

namespace {

// Printing must never fail, so bytes that are not UTF-8 are shown replaced.
template <typename T>
std::ostream& print(std::ostream& out, const T& value)
{
    nlohmann::json json;
    encodeValue(json, value);
    return out << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const User& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const Folder& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const FileInfo& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const FolderTree& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const SyncEvent& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const UploadInitRequest& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const UploadInitResponse& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const VerifyResponse& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const FileChangedEvent& value)
{
    return print(out, value);
}

std::ostream& operator<<(std::ostream& out, const WSMessage& value)
{
    return print(out, value);
}

// The public encode() and decode() for every record, every list of records and the two maps.
#define CORVANE_INSTANTIATE_CODING(Type)                                                           \
    template std::string encode<Type>(const Type&);                                                \
    template Type decode<Type>(std::string_view);                                                  \
    template std::string encode<std::vector<Type>>(const std::vector<Type>&);                      \
    template std::vector<Type> decode<std::vector<Type>>(std::string_view);

CORVANE_INSTANTIATE_CODING(User)
CORVANE_INSTANTIATE_CODING(Folder)
CORVANE_INSTANTIATE_CODING(FileInfo)
CORVANE_INSTANTIATE_CODING(FolderTree)
CORVANE_INSTANTIATE_CODING(SyncEvent)
CORVANE_INSTANTIATE_CODING(UploadInitRequest)
CORVANE_INSTANTIATE_CODING(UploadInitResponse)
CORVANE_INSTANTIATE_CODING(VerifyResponse)
CORVANE_INSTANTIATE_CODING(FileChangedEvent)
CORVANE_INSTANTIATE_CODING(WSMessage)
template std::string encode<TextMap>(const TextMap&);
template TextMap decode<TextMap>(std::string_view);
template std::string encode<BooleanMap>(const BooleanMap&);
template BooleanMap decode<BooleanMap>(std::string_view);

#undef CORVANE_INSTANTIATE_CODING

}  // namespace corvane
