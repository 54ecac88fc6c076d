#pragma once

// Private to the core libraries: the JSON plumbing behind encode() and decode() of Models.h.
// Only .cpp files include it, so that public headers see no more than <nlohmann/json_fwd.hpp>.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "Models/DecodingError.h"
#include "Models/EncodingError.h"
#include "Models/JsonReader.h"
#include "Models/Models.h"

namespace corvane {

// Parses JSON text; malformed text throws DecodingError (dataCorrupted).
nlohmann::json parseJson(std::string_view text);
// Compact JSON text; a text that is not UTF-8 throws EncodingError.
std::string dumpJson(const nlohmann::json& value);

inline void encodeValue(nlohmann::json& out, const std::string& value)
{
    out = value;
}

inline void encodeValue(nlohmann::json& out, std::int64_t value)
{
    out = value;
}

inline void encodeValue(nlohmann::json& out, double value)
{
    out = value;
}

inline void encodeValue(nlohmann::json& out, bool value)
{
    out = value;
}

template <typename T>
void encodeValue(nlohmann::json& out, const T& record)
{
    encodeJson(out, record);
}

template <typename T>
void encodeValue(nlohmann::json& out, const std::vector<T>& list)
{
    out = nlohmann::json::array();
    for (const T& element : list) {
        encodeValue(out.emplace_back(), element);
    }
}

template <typename T>
void encodeValue(nlohmann::json& out, const std::map<std::string, T>& map)
{
    out = nlohmann::json::object();
    for (const auto& [key, value] : map) {
        encodeValue(out[key], value);
    }
}

// Writes a required field under its key.
template <typename T>
void putRequired(nlohmann::json& object, const char* key, const T& value)
{
    encodeValue(object[key], value);
}

// Writes an optional field only when present: absent fields are left out, never null.
template <typename T>
void putOptional(nlohmann::json& object, const char* key, const std::optional<T>& value)
{
    if (value) {
        encodeValue(object[key], *value);
    }
}

// One member of a record and the key it is coded under: a record names its keys once, in one
// table, for both directions. A std::optional member is optional on the wire (left out when
// absent, absent when missing or null); any other member is required.
template <typename Record, typename Member>
struct JsonField {
    const char* key;
    Member Record::*member;
};

template <typename Record, typename Member>
constexpr JsonField<Record, Member> jsonField(const char* key, Member Record::*member)
{
    return {key, member};
}

template <typename T>
void putField(nlohmann::json& object, const char* key, const T& value)
{
    putRequired(object, key, value);
}

template <typename T>
void putField(nlohmann::json& object, const char* key, const std::optional<T>& value)
{
    putOptional(object, key, value);
}

template <typename T>
void readField(const JsonReader& reader, const char* key, T& value)
{
    value = reader.required<T>(key);
}

template <typename T>
void readField(const JsonReader& reader, const char* key, std::optional<T>& value)
{
    value = reader.optional<T>(key);
}

// Writes every field of `fields` (a tuple of JsonField) into a new object.
template <typename Record, typename Fields>
void encodeFields(nlohmann::json& out, const Record& value, const Fields& fields)
{
    out = nlohmann::json::object();
    std::apply([&](const auto&... field) { (putField(out, field.key, value.*field.member), ...); },
               fields);
}

// Reads the fields in the table's order, so that the first failing key decides the error.
template <typename Record, typename Fields>
Record decodeFields(const JsonReader& reader, const Fields& fields)
{
    reader.expectObject();
    Record value;
    std::apply(
        [&](const auto&... field) { (readField(reader, field.key, value.*field.member), ...); },
        fields);
    return value;
}

template <typename T>
std::string encode(const T& value)
{
    nlohmann::json out;
    encodeValue(out, value);
    return dumpJson(out);
}

template <typename T>
T decode(std::string_view text)
{
    const nlohmann::json root = parseJson(text);
    return JsonReader(root, {}).read<T>();
}

}  // namespace corvane
