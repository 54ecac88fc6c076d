#include "API/APIRecords.h"

#include "Models/JsonCoding.h"

namespace corvane {

void encodeJson(nlohmann::json& out, const CreateFolderRequest& value)
{
    out = nlohmann::json::object();
    putRequired(out, "name", value.name);
    putOptional(out, "parent_id", value.parent_id);
}

void encodeJson(nlohmann::json& out, const DeleteRequest& value)
{
    out = nlohmann::json::object();
    putRequired(out, "path", value.path);
    putRequired(out, "folder_id", value.folder_id);
}

void encodeJson(nlohmann::json& out, const ChunkResponse& value)
{
    out = nlohmann::json::object();
    putOptional(out, "file", value.file);
}

CreateFolderRequest decodeJson(const JsonReader& reader, std::type_identity<CreateFolderRequest>)
{
    reader.expectObject();
    CreateFolderRequest value;
    value.name = reader.required<std::string>("name");
    value.parent_id = reader.optional<std::string>("parent_id");
    return value;
}

DeleteRequest decodeJson(const JsonReader& reader, std::type_identity<DeleteRequest>)
{
    reader.expectObject();
    DeleteRequest value;
    value.path = reader.required<std::string>("path");
    value.folder_id = reader.required<std::string>("folder_id");
    return value;
}

ChunkResponse decodeJson(const JsonReader& reader, std::type_identity<ChunkResponse>)
{
    reader.expectObject();
    return ChunkResponse{reader.optional<FileInfo>("file")};
}

}  // namespace corvane
