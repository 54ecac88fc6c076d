#pragma once

// Private bodies of the REST client; coded by the same rules as the wire records.

#include <optional>
#include <string>
#include <type_traits>

#include <nlohmann/json_fwd.hpp>

#include "Models/Models.h"

namespace corvane {

// Body of the folder creation; "parent_id" is left out when absent.
struct CreateFolderRequest {
    std::string name;
    std::optional<std::string> parent_id;
};

// Body of the server-side deletion.
struct DeleteRequest {
    std::string path;
    std::string folder_id;
};

// Answer of the chunk upload: only "file" is read; missing or null gives none.
struct ChunkResponse {
    std::optional<FileInfo> file;
};

void encodeJson(nlohmann::json& out, const CreateFolderRequest& value);
void encodeJson(nlohmann::json& out, const DeleteRequest& value);
void encodeJson(nlohmann::json& out, const ChunkResponse& value);

CreateFolderRequest decodeJson(const JsonReader& reader, std::type_identity<CreateFolderRequest>);
DeleteRequest decodeJson(const JsonReader& reader, std::type_identity<DeleteRequest>);
ChunkResponse decodeJson(const JsonReader& reader, std::type_identity<ChunkResponse>);

}  // namespace corvane
