#include "Platform/UUID.h"

#include <array>
#include <cstdint>
#include <random>

namespace corvane {
namespace {

// Seeded with 256 bits, not the 32 that one random_device value gives: with 32, any two threads
// (or processes) start the same sequence, and so make the same UUIDs, with a chance of 1 in 2^32.
std::mt19937_64 seededEngine()
{
    std::random_device device;
    std::array<std::uint32_t, 8> words{};
    for (auto& word : words) {
        word = device();
    }
    std::seed_seq seed(words.begin(), words.end());
    return std::mt19937_64(seed);
}

}  // namespace

std::string UUID::make()
{
    thread_local std::mt19937_64 engine = seededEngine();
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t word = engine();
        for (std::size_t j = 0; j < 8; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace corvane
