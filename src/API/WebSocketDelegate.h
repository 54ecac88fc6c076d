#pragma once

#include <memory>

#include "API/WebSocketEvent.h"

namespace corvane {

class WebSocket;

// Receives the events of a WebSocket, one at a time and in order, on the main thread.
class WebSocketDelegate {
public:
    virtual ~WebSocketDelegate() = default;

    // `client` is the socket that delivered the event, or null when it has been released since.
    virtual void didReceive(const WebSocketEvent& event,
                            const std::shared_ptr<WebSocket>& client) = 0;
};

}  // namespace corvane
