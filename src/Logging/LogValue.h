#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane {

// The value of one key-value field of a log entry: text, an integer, a truth value or a
// floating-point number. Converts implicitly so that fields read {{"path", path}, {"size", n}}.
// A plain value; any thread.
class LogValue {
public:
    LogValue(std::string text) : m_value(std::move(text)) {}
    LogValue(std::string_view text) : m_value(std::string(text)) {}
    LogValue(const char* text) : m_value(std::string(text)) {}
    LogValue(const std::filesystem::path& path) : m_value(path.string()) {}
    LogValue(bool value) : m_value(value) {}
    LogValue(double value) : m_value(value) {}
    template <std::signed_integral T>
    requires(!std::same_as<T, bool>) LogValue(T value) : m_value(static_cast<std::int64_t>(value))
    {
    }
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) LogValue(T value) : m_value(static_cast<std::uint64_t>(value))
    {
    }

    // The value's textual form: text unchanged, integers in decimal, truth values as "true" and
    // "false", numbers in their shortest exact form ("1.5", "2.0").
    std::string description() const;
    // Appends the description, with control characters escaped as in a log line.
    void appendTo(std::string& out) const;

    bool operator==(const LogValue&) const = default;

private:
    std::variant<std::string, std::int64_t, std::uint64_t, bool, double> m_value;
};

std::ostream& operator<<(std::ostream& out, const LogValue& value);

// The key-value fields of one entry, written in this order.
using LogFields = std::vector<std::pair<std::string, LogValue>>;

}  // namespace corvane
