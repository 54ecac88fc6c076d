#pragma once

#include <string>

#include "API/WebSocketClient.h"

namespace corvane {

// Looks at the client's queue-confined fields, through the queue.
class WebSocketClientProbe {
    template <typename Read>
    static auto read(WebSocketClient& client, Read read)
    {
        decltype(read()) value{};
        client.m_queue.sync([&] { value = read(); });
        return value;
    }

public:
    static int reconnectAttempt(WebSocketClient& client)
    {
        return read(client, [&] { return client.m_reconnectAttempt; });
    }
    static bool isConnected(WebSocketClient& client)
    {
        return read(client, [&] { return client.m_isConnected; });
    }
    static bool hasSocket(WebSocketClient& client)
    {
        return read(client, [&] { return client.m_socket != nullptr; });
    }
    static bool hasPingTimer(WebSocketClient& client)
    {
        return read(client, [&] { return client.m_pingTimer != nullptr; });
    }
    // Waits until everything due on the client's queue has run.
    static void drain(WebSocketClient& client)
    {
        client.m_queue.sync([] {});
    }
    static const std::string& queueLabel(const WebSocketClient& client)
    {
        return client.m_queue.label();
    }
};

}  // namespace corvane
