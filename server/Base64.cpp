#include "Base64.h"

#include <array>

namespace corvane::server {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::string Base64::encode(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned value = (static_cast<unsigned char>(bytes[i]) << 16) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                               static_cast<unsigned char>(bytes[i + 2]);
        text += kAlphabet[(value >> 18) & 63];
        text += kAlphabet[(value >> 12) & 63];
        text += kAlphabet[(value >> 6) & 63];
        text += kAlphabet[value & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) {
            value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        text += kAlphabet[(value >> 18) & 63];
        text += kAlphabet[(value >> 12) & 63];
        text += rest == 2 ? kAlphabet[(value >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::optional<std::string> Base64::decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::array<int, 4> values{};
        int padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && last && j >= 2) {
                values[j] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) {
                return std::nullopt;  // data after padding
            }
            values[j] = valueOf(c);
            if (values[j] < 0) {
                return std::nullopt;
            }
        }
        const unsigned value = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
        bytes += static_cast<char>((value >> 16) & 0xff);
        if (padding < 2) {
            bytes += static_cast<char>((value >> 8) & 0xff);
        }
        if (padding < 1) {
            bytes += static_cast<char>(value & 0xff);
        }
    }
    return bytes;
}

}  // namespace corvane::server
