#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "Logging/LogLevel.h"
#include "Logging/LogValue.h"

namespace corvane {

// Formats one log entry as one text line:
//   2024-05-01T09:30:00Z [INFO] [sync] file uploaded path=/a.txt size=12
// The timestamp is UTC to the whole second; fields follow the message in their given order, each
// as key=value, separated by single blanks; nothing follows the message when there are no fields.
//
// Module, message, keys and text values come from the server and from file names, so nothing in
// them may start a new line or drive a terminal. They are escaped as follows, and everything else
// (blanks, "=", backslashes, valid non-ASCII UTF-8) stays as it is:
//   line feed, carriage return, tab      -> \n  \r  \t
//   other C0 controls, DEL, C1 controls  -> \u00XX      (for example ESC -> \u001b)
//   U+2028, U+2029 (line separators)     -> \u2028  \u2029
//   a byte that is not valid UTF-8       -> \xHH        (for example \xff)
// Static operations only; any thread.
class LogLine {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    static std::string format(TimePoint time, LogLevel level, std::string_view module,
                              std::string_view message, const LogFields& fields = {});
    // Appends the line, with its line feed, to `out`.
    static void appendTo(std::string& out, TimePoint time, LogLevel level, std::string_view module,
                         std::string_view message, const LogFields& fields);
    // ISO 8601 in UTC to the second: "2024-05-01T09:30:00Z".
    static void appendTimestamp(std::string& out, TimePoint time);

    static std::string escaped(std::string_view text);
    static void appendEscaped(std::string& out, std::string_view text);
};

}  // namespace corvane
