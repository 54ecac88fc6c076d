#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane::server {

// A request body that must be one JSON object, with typed member access. Every failure is an
// HttpError 400 whose text names the member. One thread at a time.
class JsonBody {
public:
    explicit JsonBody(const std::string& text);

    std::string text(const std::string& key) const;
    std::optional<std::string> optionalText(const std::string& key) const;  // null = absent
    std::int64_t integer(const std::string& key) const;
    std::optional<std::int64_t> optionalInteger(const std::string& key) const;
    std::optional<bool> optionalBoolean(const std::string& key) const;
    std::optional<nlohmann::json> optionalArray(const std::string& key) const;
    // A member that is itself an object; its own failures name its members only.
    std::optional<JsonBody> optionalObject(const std::string& key) const;
    bool contains(const std::string& key) const;

private:
    explicit JsonBody(nlohmann::json value) : m_value(std::move(value)) {}

    const nlohmann::json* member(const std::string& key) const;  // null when absent or null

    nlohmann::json m_value;
};

}  // namespace corvane::server
