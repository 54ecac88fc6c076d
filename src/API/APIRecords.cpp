#include "API/APIRecords.h"

#include <tuple>

#include "Models/JsonCoding.h"

namespace corvane {
namespace {

constexpr auto kCreateFolderRequestFields = std::tuple{
    jsonField("name", &CreateFolderRequest::name),
    jsonField("parent_id", &CreateFolderRequest::parent_id),
};

constexpr auto kDeleteRequestFields = std::tuple{
    jsonField("path", &DeleteRequest::path),
    jsonField("folder_id", &DeleteRequest::folder_id),
};

constexpr auto kChunkResponseFields = std::tuple{
    jsonField("file", &ChunkResponse::file),
};

}  // namespace

void encodeJson(nlohmann::json& out, const CreateFolderRequest& value)
{
    encodeFields(out, value, kCreateFolderRequestFields);
}

void encodeJson(nlohmann::json& out, const DeleteRequest& value)
{
    encodeFields(out, value, kDeleteRequestFields);
}

void encodeJson(nlohmann::json& out, const ChunkResponse& value)
{
    encodeFields(out, value, kChunkResponseFields);
}

CreateFolderRequest decodeJson(const JsonReader& reader, std::type_identity<CreateFolderRequest>)
{
    return decodeFields<CreateFolderRequest>(reader, kCreateFolderRequestFields);
}

DeleteRequest decodeJson(const JsonReader& reader, std::type_identity<DeleteRequest>)
{
    return decodeFields<DeleteRequest>(reader, kDeleteRequestFields);
}

ChunkResponse decodeJson(const JsonReader& reader, std::type_identity<ChunkResponse>)
{
    return decodeFields<ChunkResponse>(reader, kChunkResponseFields);
}

}  // namespace corvane
