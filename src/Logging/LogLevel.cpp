#include "Logging/LogLevel.h"

#include <array>

namespace corvane {
namespace {

constexpr std::array<std::string_view, 4> kLabels{"DEBUG", "INFO", "WARN", "ERROR"};

}  // namespace

std::string_view label(LogLevel level)
{
    return kLabels.at(static_cast<std::size_t>(rawValue(level)));
}

int rawValue(LogLevel level)
{
    return static_cast<int>(level);
}

std::optional<LogLevel> logLevelFromRawValue(int value)
{
    if (value < rawValue(LogLevel::debug) || value > rawValue(LogLevel::error)) {
        return std::nullopt;
    }
    return static_cast<LogLevel>(value);
}

std::ostream& operator<<(std::ostream& out, LogLevel level)
{
    return out << label(level);
}

}  // namespace corvane
