#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "API/WebSocket.h"
#include "Models/Models.h"
#include "Platform/Clock.h"
#include "Platform/SerialQueue.h"
#include "Platform/TimerSource.h"

namespace corvane {

class WebSocketClientProbe;

// The push channel to the sync server: opens a WebSocket at the server address's "/api/sync/ws"
// with the bearer token, hands every decoded message but "pong" to its owner, sends
// {"type":"ping"} every 25 seconds while connected and reconnects with exponential back-off
// (1, 2, 4, 8, 16, then 30 seconds; at most 50 reconnects between two connected events).
// It logs nothing and reports nothing beyond the two callbacks.
//
// Must be owned by a std::shared_ptr: the socket, the ping timer and pending reconnects hold it
// weakly, so releasing it stops everything (owners call disconnect() first for a close frame).
// Threads: construct and connect() from any thread, disconnect() from any thread (the main
// thread in the application), never from the client's own queue; socket events arrive on the
// main thread, where the callbacks are called. Every mutable field lives on the serial queue
// "com.corvane.websocket"; the callbacks are also read, under a lock of their own, on the main
// thread.
class WebSocketClient : public WebSocketDelegate,
                        public std::enable_shared_from_this<WebSocketClient> {
public:
    using MessageCallback = std::function<void(const WSMessage&)>;
    using DisconnectCallback = std::function<void()>;
    using ConnectCallback = std::function<void()>;

    static constexpr std::chrono::seconds kPingInterval{25};

    // `clock` drives the ping timer and the reconnect delays; `socketFactory` makes the socket
    // (empty: the real WebSocketConnection). Both exist for tests. A token holding a control
    // character (CR, LF, ...) cannot be sent in a header: APIError::unauthorized is thrown.
    WebSocketClient(std::string serverURL, std::string token,
                    std::shared_ptr<Clock> clock = Clock::system(),
                    WebSocketFactory socketFactory = {});
    ~WebSocketClient() override;
    WebSocketClient(const WebSocketClient&) = delete;
    WebSocketClient& operator=(const WebSocketClient&) = delete;

    // Stores the callbacks and opens the socket. Returns quietly without a socket when the channel
    // address is not a valid URL; connection failures arrive later as socket events. A second
    // call lets the previous socket go (closing it normally) and opens a new one. `onConnect`
    // is called at every connected event, reconnections included: what the server announced
    // while the socket was down never arrives, and the owner may want to look it up.
    virtual void connect(MessageCallback onMessage, DisconnectCallback onDisconnect,
                         ConnectCallback onConnect = {});
    // Stops the pings, closes the socket with the normal close code (1000), drops it and clears
    // the connected flag before returning. Keeps the callbacks and the reconnect count.
    virtual void disconnect();
    // The socket's events. Main thread only.
    void didReceive(const WebSocketEvent& event, const std::shared_ptr<WebSocket>& client) override;

private:
    friend class WebSocketClientProbe;  // lets tests look at the fields and the queue

    void startPingTimer();
    void stopPingTimer();
    void scheduleReconnect();

    std::shared_ptr<WebSocket> m_socket;
    const std::string m_serverURL;
    const std::string m_token;
    mutable std::mutex m_callbackMutex;  // guards the three callbacks, set on the queue
    MessageCallback m_onMessage;
    DisconnectCallback m_onDisconnect;
    ConnectCallback m_onConnect;
    bool m_isConnected = false;
    int m_reconnectAttempt = 0;
    const int m_maxReconnectAttempts = 50;
    const double m_maxReconnectDelay = 30.0;
    std::unique_ptr<TimerSource> m_pingTimer;
    const WebSocketFactory m_socketFactory;
    // Declared last, destroyed first: no queued work runs while the fields above go away.
    SerialQueue m_queue;
};

}  // namespace corvane
