#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::server {

// Standard base64 with padding. Static only; any thread.
class Base64 {
public:
    static std::string encode(std::string_view bytes);
    // Nothing when the text is not valid base64.
    static std::optional<std::string> decode(std::string_view text);
};

}  // namespace corvane::server
