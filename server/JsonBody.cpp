#include "JsonBody.h"

#include "HttpError.h"

namespace corvane::server {

JsonBody::JsonBody(const std::string& text)
{
    m_value = nlohmann::json::parse(text, nullptr, false);
    if (m_value.is_discarded()) {
        throw HttpError(400, "invalid JSON");
    }
    if (!m_value.is_object()) {
        throw HttpError(400, "expected a JSON object");
    }
}

const nlohmann::json* JsonBody::member(const std::string& key) const
{
    const auto found = m_value.find(key);
    if (found == m_value.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

bool JsonBody::contains(const std::string& key) const
{
    return member(key) != nullptr;
}

std::string JsonBody::text(const std::string& key) const
{
    auto value = optionalText(key);
    if (!value) {
        throw HttpError(400, "missing " + key);
    }
    return *value;
}

std::optional<std::string> JsonBody::optionalText(const std::string& key) const
{
    const auto* value = member(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw HttpError(400, key + " must be a string");
    }
    return value->get<std::string>();
}

std::int64_t JsonBody::integer(const std::string& key) const
{
    auto value = optionalInteger(key);
    if (!value) {
        throw HttpError(400, "missing " + key);
    }
    return *value;
}

std::optional<std::int64_t> JsonBody::optionalInteger(const std::string& key) const
{
    const auto* value = member(key);
    if (!value) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(INT64_MAX)) {
            throw HttpError(400, key + " is out of range");
        }
        return static_cast<std::int64_t>(number);
    }
    if (!value->is_number_integer()) {
        throw HttpError(400, key + " must be an integer");
    }
    return value->get<std::int64_t>();
}

std::optional<bool> JsonBody::optionalBoolean(const std::string& key) const
{
    const auto* value = member(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_boolean()) {
        throw HttpError(400, key + " must be a boolean");
    }
    return value->get<bool>();
}

std::optional<nlohmann::json> JsonBody::optionalArray(const std::string& key) const
{
    const auto* value = member(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_array()) {
        throw HttpError(400, key + " must be an array");
    }
    return *value;
}

std::optional<JsonBody> JsonBody::optionalObject(const std::string& key) const
{
    const auto* value = member(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_object()) {
        throw HttpError(400, key + " must be an object");
    }
    return JsonBody(*value);
}

}  // namespace corvane::server
