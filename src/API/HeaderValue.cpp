#include "API/HeaderValue.h"

#include <algorithm>

namespace corvane {

bool isSafeHeaderValue(std::string_view value)
{
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

}  // namespace corvane
