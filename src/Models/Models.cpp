#include "Models/Models.h"

#include <ostream>
#include <tuple>

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

// Each record's keys in its key order, which decoding follows (it differs from the declaration
// order for SyncEvent, UploadInitRequest, UploadInitResponse and FileChangedEvent), so the first
// failing key decides the error. Member order in the written text is not significant.

namespace {

constexpr auto kUserFields = std::tuple{
    jsonField("id", &User::id),
    jsonField("email", &User::email),
    jsonField("name", &User::name),
};

constexpr auto kFolderFields = std::tuple{
    jsonField("id", &Folder::id),
    jsonField("name", &Folder::name),
    jsonField("path", &Folder::path),
    jsonField("owner_id", &Folder::ownerId),
    jsonField("parent_id", &Folder::parentId),
    jsonField("created_at", &Folder::createdAt),
    jsonField("updated_at", &Folder::updatedAt),
};

constexpr auto kFileInfoFields = std::tuple{
    jsonField("id", &FileInfo::id),
    jsonField("name", &FileInfo::name),
    jsonField("path", &FileInfo::path),
    jsonField("hash", &FileInfo::hash),
    jsonField("size", &FileInfo::size),
    jsonField("version", &FileInfo::version),
    jsonField("owner_id", &FileInfo::ownerId),
    jsonField("folder_id", &FileInfo::folderId),
    jsonField("created_at", &FileInfo::createdAt),
    jsonField("updated_at", &FileInfo::updatedAt),
};

constexpr auto kFolderTreeFields = std::tuple{
    jsonField("id", &FolderTree::id),       jsonField("name", &FolderTree::name),
    jsonField("path", &FolderTree::path),   jsonField("children", &FolderTree::children),
    jsonField("files", &FolderTree::files),
};

constexpr auto kSyncEventFields = std::tuple{
    jsonField("id", &SyncEvent::id),
    jsonField("action", &SyncEvent::action),
    jsonField("path", &SyncEvent::path),
    jsonField("metadata", &SyncEvent::metadata),
    jsonField("timestamp", &SyncEvent::timestamp),
    jsonField("file_id", &SyncEvent::fileId),
    jsonField("folder_id", &SyncEvent::folderId),
    jsonField("user_id", &SyncEvent::userId),
};

constexpr auto kUploadInitRequestFields = std::tuple{
    jsonField("path", &UploadInitRequest::path),
    jsonField("hash", &UploadInitRequest::hash),
    jsonField("size", &UploadInitRequest::size),
    jsonField("folder_id", &UploadInitRequest::folderId),
    jsonField("base_version", &UploadInitRequest::baseVersion),
};

constexpr auto kUploadInitResponseFields = std::tuple{
    jsonField("status", &UploadInitResponse::status),
    jsonField("file", &UploadInitResponse::file),
    jsonField("upload_id", &UploadInitResponse::uploadId),
};

constexpr auto kVerifyResponseFields = std::tuple{
    jsonField("token", &VerifyResponse::token),
    jsonField("user", &VerifyResponse::user),
};

constexpr auto kFileChangedEventFields = std::tuple{
    jsonField("id", &FileChangedEvent::id),
    jsonField("action", &FileChangedEvent::action),
    jsonField("path", &FileChangedEvent::path),
    jsonField("hash", &FileChangedEvent::hash),
    jsonField("version", &FileChangedEvent::version),
    jsonField("timestamp", &FileChangedEvent::timestamp),
    jsonField("user_id", &FileChangedEvent::userId),
    jsonField("folder_id", &FileChangedEvent::folderId),
};

constexpr auto kWSMessageFields = std::tuple{
    jsonField("type", &WSMessage::type),
    jsonField("event", &WSMessage::event),
};

}  // namespace

void encodeJson(nlohmann::json& out, const User& value)
{
    encodeFields(out, value, kUserFields);
}

User decodeJson(const JsonReader& reader, std::type_identity<User>)
{
    return decodeFields<User>(reader, kUserFields);
}

void encodeJson(nlohmann::json& out, const Folder& value)
{
    encodeFields(out, value, kFolderFields);
}

Folder decodeJson(const JsonReader& reader, std::type_identity<Folder>)
{
    return decodeFields<Folder>(reader, kFolderFields);
}

void encodeJson(nlohmann::json& out, const FileInfo& value)
{
    encodeFields(out, value, kFileInfoFields);
}

FileInfo decodeJson(const JsonReader& reader, std::type_identity<FileInfo>)
{
    return decodeFields<FileInfo>(reader, kFileInfoFields);
}

void encodeJson(nlohmann::json& out, const FolderTree& value)
{
    encodeFields(out, value, kFolderTreeFields);
}

FolderTree decodeJson(const JsonReader& reader, std::type_identity<FolderTree>)
{
    return decodeFields<FolderTree>(reader, kFolderTreeFields);
}

void encodeJson(nlohmann::json& out, const SyncEvent& value)
{
    encodeFields(out, value, kSyncEventFields);
}

SyncEvent decodeJson(const JsonReader& reader, std::type_identity<SyncEvent>)
{
    return decodeFields<SyncEvent>(reader, kSyncEventFields);
}

void encodeJson(nlohmann::json& out, const UploadInitRequest& value)
{
    encodeFields(out, value, kUploadInitRequestFields);
}

UploadInitRequest decodeJson(const JsonReader& reader, std::type_identity<UploadInitRequest>)
{
    return decodeFields<UploadInitRequest>(reader, kUploadInitRequestFields);
}

void encodeJson(nlohmann::json& out, const UploadInitResponse& value)
{
    encodeFields(out, value, kUploadInitResponseFields);
}

UploadInitResponse decodeJson(const JsonReader& reader, std::type_identity<UploadInitResponse>)
{
    return decodeFields<UploadInitResponse>(reader, kUploadInitResponseFields);
}

void encodeJson(nlohmann::json& out, const VerifyResponse& value)
{
    encodeFields(out, value, kVerifyResponseFields);
}

VerifyResponse decodeJson(const JsonReader& reader, std::type_identity<VerifyResponse>)
{
    return decodeFields<VerifyResponse>(reader, kVerifyResponseFields);
}

void encodeJson(nlohmann::json& out, const FileChangedEvent& value)
{
    encodeFields(out, value, kFileChangedEventFields);
}

FileChangedEvent decodeJson(const JsonReader& reader, std::type_identity<FileChangedEvent>)
{
    return decodeFields<FileChangedEvent>(reader, kFileChangedEventFields);
}

void encodeJson(nlohmann::json& out, const WSMessage& value)
{
    encodeFields(out, value, kWSMessageFields);
}

WSMessage decodeJson(const JsonReader& reader, std::type_identity<WSMessage>)
{
    return decodeFields<WSMessage>(reader, kWSMessageFields);
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
