#include "Logging/LogValue.h"

#include <array>
#include <charconv>

#include "Logging/LogLine.h"

namespace corvane {
namespace {

template <typename Number>
void appendNumber(std::string& out, Number value)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

void appendDouble(std::string& out, double value)
{
    const std::size_t start = out.size();
    appendNumber(out, value);
    // A whole number still reads as a floating-point one: "2.0", not "2".
    if (out.find_first_not_of("-0123456789", start) == std::string::npos) {
        out += ".0";
    }
}

}  // namespace

std::string LogValue::description() const
{
    if (const auto* text = std::get_if<std::string>(&m_value)) {
        return *text;
    }
    std::string out;
    appendTo(out);
    return out;
}

void LogValue::appendTo(std::string& out) const
{
    std::visit(
        [&out](const auto& value) {
            using Type = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Type, std::string>) {
                LogLine::appendEscaped(out, value);
            } else if constexpr (std::is_same_v<Type, bool>) {
                out += value ? "true" : "false";
            } else if constexpr (std::is_same_v<Type, double>) {
                appendDouble(out, value);
            } else {
                appendNumber(out, value);
            }
        },
        m_value);
}

std::ostream& operator<<(std::ostream& out, const LogValue& value)
{
    return out << value.description();
}

}  // namespace corvane
