#include "Logging/LogLine.h"

#include <array>
#include <cstdio>

#include "Platform/Unicode.h"

namespace corvane {
namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";

void appendHex(std::string& out, unsigned char byte)
{
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0f];
}

void appendControl(std::string& out, unsigned char code)
{
    switch (code) {
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        out += "\\u00";
        appendHex(out, code);
    }
}

bool needsAttention(unsigned char byte)
{
    return byte < 0x20 || byte >= 0x7f;
}

}  // namespace

std::string LogLine::format(TimePoint time, LogLevel level, std::string_view module,
                            std::string_view message, const LogFields& fields)
{
    std::string out;
    appendTo(out, time, level, module, message, fields);
    return out;
}

void LogLine::appendTo(std::string& out, TimePoint time, LogLevel level, std::string_view module,
                       std::string_view message, const LogFields& fields)
{
    appendTimestamp(out, time);
    out += " [";
    out += label(level);
    out += "] [";
    appendEscaped(out, module);
    out += "] ";
    appendEscaped(out, message);
    for (const auto& [key, value] : fields) {
        out += ' ';
        appendEscaped(out, key);
        out += '=';
        value.appendTo(out);
    }
    out += '\n';
}

void LogLine::appendTimestamp(std::string& out, TimePoint time)
{
    using namespace std::chrono;
    // Many lines share a second: format each second once per thread.
    struct Cache {
        sys_seconds second = sys_seconds::min();
        std::array<char, 40> text{};
        int length = 0;
    };
    thread_local Cache cache;

    const auto second = floor<seconds>(time);
    if (second != cache.second) {
        const auto day = floor<days>(second);
        const year_month_day date{day};
        const hh_mm_ss clock{second - day};
        cache.length = std::snprintf(
            cache.text.data(), cache.text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
            static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
            static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
        cache.second = second;
    }
    out.append(cache.text.data(), static_cast<std::size_t>(cache.length));
}

std::string LogLine::escaped(std::string_view text)
{
    std::string out;
    appendEscaped(out, text);
    return out;
}

void LogLine::appendEscaped(std::string& out, std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t runStart = at;
        while (at < text.size() && !needsAttention(static_cast<unsigned char>(text[at]))) {
            ++at;
        }
        out.append(text.data() + runStart, at - runStart);
        if (at == text.size()) {
            return;
        }
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            appendControl(out, byte);
            ++at;
            continue;
        }
        const std::size_t length = Unicode::sequenceLength(text, at);
        if (length == 0) {
            out += "\\x";
            appendHex(out, byte);
            ++at;
            continue;
        }
        const auto second = static_cast<unsigned char>(text[at + 1]);
        if (byte == 0xc2 && second < 0xa0) {  // U+0080 to U+009F
            appendControl(out, second);
        } else if (byte == 0xe2 && second == 0x80 &&
                   (text[at + 2] == '\xa8' || text[at + 2] == '\xa9')) {
            out += text[at + 2] == '\xa8' ? "\\u2028" : "\\u2029";
        } else {
            out.append(text.data() + at, length);
        }
        at += length;
    }
}

}  // namespace corvane
