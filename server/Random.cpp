#include "Random.h"

#include <vector>

#include <openssl/rand.h>

#include "Platform/Error.h"

namespace corvane::server {

namespace {

std::vector<unsigned char> randomBytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        throw Error("random generator failed");
    }
    return bytes;
}

std::string toHex(const std::vector<unsigned char>& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

}  // namespace

std::string Random::hex(std::size_t bytes)
{
    return toHex(randomBytes(bytes));
}

std::string Random::digits(std::size_t count)
{
    std::string text;
    while (text.size() < count) {
        for (const unsigned char byte : randomBytes(count)) {
            // 250 is the largest multiple of 10 below 256: rejecting the rest keeps digits uniform.
            if (byte < 250 && text.size() < count) {
                text += static_cast<char>('0' + byte % 10);
            }
        }
    }
    return text;
}

std::string Random::uuid()
{
    auto bytes = randomBytes(16);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    const std::string text = toHex(bytes);
    return text.substr(0, 8) + "-" + text.substr(8, 4) + "-" + text.substr(12, 4) + "-" +
           text.substr(16, 4) + "-" + text.substr(20);
}

}  // namespace corvane::server
