#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace corvane {

// The opening handshake succeeded; the server's response headers.
struct WebSocketConnected {
    std::map<std::string, std::string> headers;
};

// The close handshake finished: the server's (or, when it gave none, our) reason and code.
struct WebSocketDisconnected {
    std::string reason;
    std::uint16_t code = 0;
};

// One complete text message.
struct WebSocketText {
    std::string text;
};

// One complete binary message.
struct WebSocketBinary {
    std::string data;
};

// A protocol-level ping from the server (already answered with a pong) and its payload.
struct WebSocketPing {
    std::string data;
};

// A protocol-level pong from the server and its payload.
struct WebSocketPong {
    std::string data;
};

// The server ended the connection without a close handshake. An error event follows.
struct WebSocketPeerClosed {};

// The connection failed or could not be established; the reason when one is known.
struct WebSocketError {
    std::optional<std::string> message;
};

// The connection was given up from our side before it was established, or its close handshake
// could not be finished.
struct WebSocketCancelled {};

using WebSocketEvent = std::variant<WebSocketConnected, WebSocketDisconnected, WebSocketText,
                                    WebSocketBinary, WebSocketPing, WebSocketPong,
                                    WebSocketPeerClosed, WebSocketError, WebSocketCancelled>;

// Test and log output, e.g. `disconnected(code 1000, "bye")`.
std::ostream& operator<<(std::ostream& out, const WebSocketEvent& event);

}  // namespace corvane
