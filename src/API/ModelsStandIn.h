#pragma once

// Temporary stand-in for Models/Models.h until the wire records land; same names and shapes.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Platform/Error.h"

namespace corvane {

class DecodingError : public Error {
public:
    using Error::Error;
};

struct FileChangedEvent {
    std::string id;
    std::string action;
    std::optional<std::string> path;
    std::optional<std::string> hash;
    std::optional<std::int64_t> version;
    std::optional<std::string> userId;
    std::optional<std::string> folderId;
    std::optional<std::string> timestamp;
};

struct WSMessage {
    std::string type;
    std::optional<FileChangedEvent> event;
};

using TextMap = std::map<std::string, std::string>;

template <typename T>
T decode(std::string_view text);

template <>
inline WSMessage decode<WSMessage>(std::string_view text)
{
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("type") || !json["type"].is_string()) {
        throw DecodingError("not a message");
    }
    WSMessage message{json["type"].get<std::string>(), std::nullopt};
    if (json.contains("event") && !json["event"].is_null()) {
        const auto& e = json["event"];
        if (!e.is_object() || !e.contains("id") || !e["id"].is_string() || !e.contains("action") ||
            !e["action"].is_string()) {
            throw DecodingError("bad event");
        }
        FileChangedEvent event{
            e["id"].get<std::string>(), e["action"].get<std::string>(), {}, {}, {}, {}, {}, {}};
        const auto text = [&](const char* key) -> std::optional<std::string> {
            if (!e.contains(key) || e[key].is_null()) {
                return std::nullopt;
            }
            if (!e[key].is_string()) {
                throw DecodingError("bad field");
            }
            return e[key].get<std::string>();
        };
        event.path = text("path");
        event.hash = text("hash");
        if (e.contains("version") && !e["version"].is_null()) {
            if (!e["version"].is_number_integer()) {
                throw DecodingError("bad version");
            }
            event.version = e["version"].get<std::int64_t>();
        }
        event.timestamp = text("timestamp");
        event.userId = text("user_id");
        event.folderId = text("folder_id");
        message.event = event;
    }
    return message;
}

template <typename T>
std::string encode(const T& value);

template <>
inline std::string encode<TextMap>(const TextMap& value)
{
    return nlohmann::json(value).dump();
}

}  // namespace corvane
