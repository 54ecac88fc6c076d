#include "Models/JsonReader.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "Models/DecodingError.h"

namespace corvane {
namespace {

std::string memberPath(const std::string& objectPath, std::string_view key)
{
    std::string path = objectPath;
    if (!path.empty()) {
        path += '.';
    }
    path += key;
    return path;
}

// An integral number within the 64-bit range, whichever way the text wrote it (2, 2.0, 1e3).
std::optional<std::int64_t> integerValue(const nlohmann::json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is exactly representable; every double below it and at or above -2^63 fits.
        constexpr double kLimit = 9223372036854775808.0;
        if (std::trunc(number) != number || number < -kLimit || number >= kLimit) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

}  // namespace

JsonReader::JsonReader(const nlohmann::json& value, std::string path)
    : m_value(&value), m_path(std::move(path))
{
}

std::string JsonReader::string() const
{
    if (!m_value->is_string()) {
        throw DecodingError::typeMismatch("string", m_path);
    }
    return m_value->get<std::string>();
}

std::int64_t JsonReader::int64() const
{
    const std::optional<std::int64_t> number = integerValue(*m_value);
    if (!number) {
        throw DecodingError::typeMismatch("64-bit integer", m_path);
    }
    return *number;
}

double JsonReader::number() const
{
    if (!m_value->is_number()) {
        throw DecodingError::typeMismatch("number", m_path);
    }
    return m_value->get<double>();
}

bool JsonReader::boolean() const
{
    if (!m_value->is_boolean()) {
        throw DecodingError::typeMismatch("boolean", m_path);
    }
    return m_value->get<bool>();
}

void JsonReader::expectObject() const
{
    if (!m_value->is_object()) {
        throw DecodingError::typeMismatch("object", m_path);
    }
}

JsonReader JsonReader::member(std::string_view key) const
{
    expectObject();
    const auto found = m_value->find(key);
    if (found == m_value->end()) {
        throw DecodingError::keyNotFound(std::string(key), m_path);
    }
    if (found->is_null()) {
        throw DecodingError::valueNotFound(std::string(key), m_path);
    }
    return JsonReader(*found, memberPath(m_path, key));
}

std::optional<JsonReader> JsonReader::optionalMember(std::string_view key) const
{
    expectObject();
    const auto found = m_value->find(key);
    if (found == m_value->end() || found->is_null()) {
        return std::nullopt;
    }
    return JsonReader(*found, memberPath(m_path, key));
}

std::vector<std::pair<std::string, JsonReader>> JsonReader::members() const
{
    expectObject();
    std::vector<std::pair<std::string, JsonReader>> result;
    result.reserve(m_value->size());
    for (const auto& [key, value] : m_value->items()) {
        result.emplace_back(key, JsonReader(value, memberPath(m_path, key)));
    }
    return result;
}

std::size_t JsonReader::arraySize() const
{
    if (!m_value->is_array()) {
        throw DecodingError::typeMismatch("array", m_path);
    }
    return m_value->size();
}

JsonReader JsonReader::element(std::size_t index) const
{
    return JsonReader((*m_value)[index], m_path + "[" + std::to_string(index) + "]");
}

}  // namespace corvane
