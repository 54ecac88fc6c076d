#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

// What a WebSocket opens: the channel address ("ws://..." or "wss://..."), the extra headers of
// the opening handshake and how long establishing the connection may take. A plain value.
struct WebSocketRequest {
    static constexpr std::chrono::milliseconds kDefaultTimeout{30'000};

    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::milliseconds timeout = kDefaultTimeout;
};

}  // namespace corvane
