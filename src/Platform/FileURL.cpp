#include "Platform/FileURL.h"

#include <array>

namespace corvane {
namespace {

bool keptAsIs(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
           byte == '~' || byte == '/';
}

}  // namespace

std::string fileURL(const std::filesystem::path& path)
{
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string url = "file://";
    for (const char c : path.string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (keptAsIs(byte)) {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

}  // namespace corvane
