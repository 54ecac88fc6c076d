#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

template <typename T>
struct IsVector : std::false_type {
};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {
};

template <typename T>
struct IsTextKeyedMap : std::false_type {
};
template <typename T>
struct IsTextKeyedMap<std::map<std::string, T>> : std::true_type {
};

// A read-only view of one JSON value and the key path that led to it, for decoding records.
// Every accessor throws DecodingError naming that path. Records decode through an overload
// `T decodeJson(const JsonReader&, std::type_identity<T>)` found by argument-dependent lookup.
// The viewed value must outlive the reader. Thread-safety: that of the viewed value.
class JsonReader {
public:
    JsonReader(const nlohmann::json& value, std::string path);

    const std::string& path() const { return m_path; }

    std::string string() const;
    // Integer numbers within the 64-bit range; a number with a fraction is a type mismatch.
    std::int64_t int64() const;
    // Any number, whole or not.
    double number() const;
    bool boolean() const;

    // Throws a type mismatch unless this value is an object.
    void expectObject() const;
    // The value under `key` of this object: a missing key or null fails.
    JsonReader member(std::string_view key) const;
    // The value under `key` of this object, absent when the key is missing or null.
    std::optional<JsonReader> optionalMember(std::string_view key) const;
    // The members of this object in the text's order.
    std::vector<std::pair<std::string, JsonReader>> members() const;
    // Number of elements of this array; throws a type mismatch unless it is one.
    std::size_t arraySize() const;
    JsonReader element(std::size_t index) const;

    template <typename T>
    T read() const;

    template <typename T>
    T required(std::string_view key) const
    {
        return member(key).read<T>();
    }

    template <typename T>
    std::optional<T> optional(std::string_view key) const
    {
        const std::optional<JsonReader> value = optionalMember(key);
        if (!value) {
            return std::nullopt;
        }
        return value->read<T>();
    }

private:
    const nlohmann::json* m_value;
    std::string m_path;
};

template <typename T>
T JsonReader::read() const
{
    if constexpr (std::is_same_v<T, std::string>) {
        return string();
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return int64();
    } else if constexpr (std::is_same_v<T, double>) {
        return number();
    } else if constexpr (std::is_same_v<T, bool>) {
        return boolean();
    } else if constexpr (IsVector<T>::value) {
        const std::size_t count = arraySize();
        T result;
        result.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            result.push_back(element(i).template read<typename T::value_type>());
        }
        return result;
    } else if constexpr (IsTextKeyedMap<T>::value) {
        expectObject();
        T result;
        for (auto& [key, value] : members()) {
            result.insert_or_assign(key, value.template read<typename T::mapped_type>());
        }
        return result;
    } else {
        return decodeJson(*this, std::type_identity<T>{});
    }
}

}  // namespace corvane
