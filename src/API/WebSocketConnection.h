#pragma once

#include <cstddef>
#include <memory>

#include "API/WebSocket.h"

namespace corvane {

// The WebSocket over Boost.Beast: "ws://" over plain TCP, "wss://" over TLS with the server's
// certificate checked against the system's trust store and its host name. No compression
// extension is offered. A connection not established within the request's timeout is reported
// as an error event. A message over kMaxMessageBytes ends the connection with an error event,
// so that a server cannot make the client hold unbounded text. Each connection runs its network
// work on a thread of its own.
// Thread-safe; must be owned by a std::shared_ptr (use make()). Releasing it gives an open
// connection up without a close frame; a close handshake already under way gets a short grace
// period to finish.
class WebSocketConnection final : public WebSocket {
    struct Key {
        explicit Key() = default;
    };

public:
    static constexpr std::size_t kMaxMessageBytes = 16 * 1024 * 1024;

    static std::shared_ptr<WebSocket> make(const WebSocketRequest& request);

    // For make() only.
    WebSocketConnection(Key, const WebSocketRequest& request);

    ~WebSocketConnection() override;
    WebSocketConnection(const WebSocketConnection&) = delete;
    WebSocketConnection& operator=(const WebSocketConnection&) = delete;

    void setDelegate(std::weak_ptr<WebSocketDelegate> delegate) override;
    void connect() override;
    void disconnect(std::uint16_t closeCode = kNormalClosure) override;
    void write(std::string text) override;

private:
    class Impl;

    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane
