#include "FuzzChecks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Models/DecodingError.h"

namespace corvane::fuzz {

void fail(std::string_view what, std::string_view detail)
{
    std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) {
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    std::abort();
}

bool isUTF8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t code = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else if (lead >= 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0x80) {
            return false;
        }
        if (lead > 0xF4 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
}

std::size_t nestingDepth(std::string_view text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

void checkDecodingError(const DecodingError& error)
{
    const std::string description = error.localizedDescription();
    if (description.empty()) {
        fail("decoding error without a description");
    }
    if (!isUTF8(description)) {
        fail("decoding error description is not UTF-8", description);
    }
    switch (error.kind()) {
    case DecodingError::Kind::keyNotFound:
    case DecodingError::Kind::valueNotFound:
    case DecodingError::Kind::typeMismatch:
    case DecodingError::Kind::dataCorrupted:
        return;
    }
    fail("decoding error of an unknown kind");
}

}  // namespace corvane::fuzz
