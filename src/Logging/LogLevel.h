#pragma once

#include <optional>
#include <ostream>
#include <string_view>

namespace corvane {

// The severity of a log entry. Levels compare by their raw value: debug < info < warn < error.
enum class LogLevel { debug = 0, info = 1, warn = 2, error = 3 };

// "DEBUG", "INFO", "WARN" or "ERROR".
std::string_view label(LogLevel level);
int rawValue(LogLevel level);
// The level whose raw value is `value`, or nothing for any integer other than 0 to 3.
std::optional<LogLevel> logLevelFromRawValue(int value);

std::ostream& operator<<(std::ostream& out, LogLevel level);

}  // namespace corvane
