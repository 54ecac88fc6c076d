#include "Platform/Unicode.h"

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

}  // namespace corvane
