#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace corvane {

// A table from each case of an enumeration to its text (a raw value, a label), read both ways.
template <typename Enum, std::size_t N>
using EnumTexts = std::array<std::pair<Enum, std::string_view>, N>;

// The text of `value`; nothing for a value the table does not list.
template <typename Enum, std::size_t N>
constexpr std::optional<std::string_view> textOf(const EnumTexts<Enum, N>& table, Enum value)
{
    for (const auto& [candidate, text] : table) {
        if (candidate == value) {
            return text;
        }
    }
    return std::nullopt;
}

// The case whose text is exactly `text`, or nothing.
template <typename Enum, std::size_t N>
constexpr std::optional<Enum> valueOf(const EnumTexts<Enum, N>& table, std::string_view text)
{
    for (const auto& [value, candidate] : table) {
        if (candidate == text) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace corvane
