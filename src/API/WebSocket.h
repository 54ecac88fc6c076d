#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "API/WebSocketDelegate.h"
#include "API/WebSocketRequest.h"

namespace corvane {

// One WebSocket opened from a request. Events (WebSocketEvent) go to the delegate, which the
// socket holds weakly, on the main thread. The socket answers protocol-level pings itself.
// Thread-safe: every operation only hands the work to the socket and returns.
class WebSocket {
public:
    static constexpr std::uint16_t kNormalClosure = 1000;

    virtual ~WebSocket() = default;

    virtual void setDelegate(std::weak_ptr<WebSocketDelegate> delegate) = 0;
    // Opens the connection; on a socket that already has one, drops it first and opens anew with
    // the same request.
    virtual void connect() = 0;
    // Starts the close handshake with `closeCode` (an established connection) or gives up the
    // attempt in progress (a connection not yet established).
    virtual void disconnect(std::uint16_t closeCode = kNormalClosure) = 0;
    // Sends one text message; dropped when the connection is not established.
    virtual void write(std::string text) = 0;
};

// Makes the socket for a request; the default one is WebSocketConnection::make.
using WebSocketFactory = std::function<std::shared_ptr<WebSocket>(const WebSocketRequest&)>;

}  // namespace corvane
