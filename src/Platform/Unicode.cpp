#include "Platform/Unicode.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <utf8proc.h>

namespace corvane {
namespace {

struct FreeDeleter {
    void operator()(utf8proc_uint8_t* buffer) const { std::free(buffer); }
};

// ASCII is already in NFC, and almost every path is ASCII: skip the library for it.
bool isAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string Unicode::nfc(std::string_view text)
{
    if (isAscii(text)) {
        return std::string(text);
    }
    utf8proc_uint8_t* raw = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &raw,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> result(raw);
    if (length < 0 || !result) {
        return std::string(text);  // not UTF-8: the bytes are the name
    }
    return std::string(reinterpret_cast<const char*>(result.get()),
                       static_cast<std::size_t>(length));
}

bool Unicode::canonicallyEqual(std::string_view a, std::string_view b)
{
    if (a == b) {
        return true;
    }
    return nfc(a) == nfc(b);
}

std::optional<std::string> Unicode::pathBelow(std::string_view path, std::string_view folder)
{
    while (!folder.empty() && folder.back() == '/') {
        folder.remove_suffix(1);
    }
    const std::string wanted = nfc(folder);
    const auto folderSlashes = std::count(wanted.begin(), wanted.end(), '/');
    // NFC keeps every "/" and composes nothing across one, so an equivalent prefix of `path`
    // holds as many "/" as the folder and ends at the next "/" or at the end.
    std::ptrdiff_t slashes = 0;
    std::size_t end = 0;
    for (; end < path.size(); ++end) {
        if (path[end] == '/') {
            if (slashes == folderSlashes) {
                break;
            }
            ++slashes;
        }
    }
    if (slashes != folderSlashes || nfc(path.substr(0, end)) != wanted) {
        return std::nullopt;
    }
    return std::string(path.substr(end));
}

bool Unicode::isValidUTF8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

namespace {

// `text` with each byte that is not part of a valid sequence replaced by `replacement(byte)`.
template <typename Replacement>
std::string replacingInvalidBytes(std::string_view text, Replacement replacement)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Unicode::sequenceLength(text, at);
        if (length == 0) {
            result += replacement(static_cast<unsigned char>(text[at]));
            ++at;
        } else {
            result += text.substr(at, length);
            at += length;
        }
    }
    return result;
}

}  // namespace

std::string Unicode::validUTF8(std::string_view text)
{
    return replacingInvalidBytes(text, [](unsigned char) { return "\xEF\xBF\xBD"; });
}

std::string Unicode::escapedUTF8(std::string_view text)
{
    return replacingInvalidBytes(text, [](unsigned char byte) {
        // U+EF00 plus the byte, which is 0x80 or more: ASCII is always valid.
        const unsigned codePoint = 0xEF00u + byte;
        return std::string{static_cast<char>(0xE0u | (codePoint >> 12)),
                           static_cast<char>(0x80u | ((codePoint >> 6) & 0x3Fu)),
                           static_cast<char>(0x80u | (codePoint & 0x3Fu))};
    });
}

std::size_t Unicode::sequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

}  // namespace corvane
