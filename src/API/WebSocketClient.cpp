#include "API/WebSocketClient.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string_view>
#include <variant>

#include "API/APIError.h"
#include "API/HeaderValue.h"
#include "API/WebSocketConnection.h"
#include "Models/DecodingError.h"
#include "Models/EncodingError.h"
#include "Platform/MainQueue.h"

namespace corvane {
namespace {

constexpr std::string_view kChannelPath = "/api/sync/ws";

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool isHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// A URL reference in the sense of RFC 3986: only its characters (percent escapes complete, at
// most one "#"), and a scheme, when the text has one, of a letter followed by letters, digits,
// "+", "-" or ".".
bool isValidURL(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    static constexpr std::string_view kAllowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
        "0123456789-._~:/?#[]@!$&'()*+,;=";
    bool seenFragment = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
                return false;
            }
            i += 2;
        } else if (c == '#') {
            if (seenFragment) {
                return false;
            }
            seenFragment = true;
        } else if (kAllowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    const auto colon = text.find(':');
    if (colon != std::string_view::npos && colon < text.find_first_of("/?#")) {
        const auto scheme = text.substr(0, colon);
        const auto isSchemeChar = [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        };
        if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front())) ||
            !std::all_of(scheme.begin(), scheme.end(), isSchemeChar)) {
            return false;
        }
    }
    return true;
}

}  // namespace

WebSocketClient::WebSocketClient(std::string serverURL, std::string token,
                                 std::shared_ptr<Clock> clock, WebSocketFactory socketFactory)
    : m_serverURL(std::move(serverURL)), m_token(std::move(token)),
      m_socketFactory(socketFactory ? std::move(socketFactory) : WebSocketConnection::make),
      m_queue("com.corvane.websocket", std::move(clock))
{
    // As for the REST calls: a token that could end the header never reaches the handshake.
    if (!isSafeHeaderValue(m_token)) {
        throw APIError::unauthorized();
    }
}

WebSocketClient::~WebSocketClient() = default;

void WebSocketClient::connect(MessageCallback onMessage, DisconnectCallback onDisconnect,
                              ConnectCallback onConnect)
{
    m_queue.sync([&] {
        {
            std::lock_guard lock(m_callbackMutex);
            m_onMessage = std::move(onMessage);
            m_onDisconnect = std::move(onDisconnect);
            m_onConnect = std::move(onConnect);
        }
        // Literal, case-sensitive replacements anywhere in the text; "https://" does not contain
        // "http://", so the first one leaves it for the second.
        std::string address = replaceAll(m_serverURL, "http://", "ws://");
        address = replaceAll(std::move(address), "https://", "wss://");
        address += kChannelPath;
        if (!isValidURL(address)) {
            return;
        }
        if (m_socket) {
            m_socket->setDelegate({});
            m_socket->disconnect(WebSocket::kNormalClosure);
        }
        WebSocketRequest request;
        request.url = std::move(address);
        request.headers = {{"Authorization", "Bearer " + m_token}};
        request.timeout = WebSocketRequest::kDefaultTimeout;
        m_socket = m_socketFactory(request);
        m_socket->setDelegate(weak_from_this());
        m_socket->connect();
    });
}

void WebSocketClient::disconnect()
{
    m_queue.sync([this] {
        stopPingTimer();
        if (m_socket) {
            m_socket->disconnect(WebSocket::kNormalClosure);
        }
        m_socket.reset();
        m_isConnected = false;
    });
}

void WebSocketClient::didReceive(const WebSocketEvent& event, const std::shared_ptr<WebSocket>&)
{
    MainQueue::assertMainThread("WebSocketClient::didReceive");
    // Field changes happen on the queue; the owner's callbacks are called here, outside it.
    if (std::holds_alternative<WebSocketConnected>(event)) {
        ConnectCallback onConnect;
        m_queue.sync([&] {
            m_isConnected = true;
            m_reconnectAttempt = 0;
            startPingTimer();
            std::lock_guard lock(m_callbackMutex);
            onConnect = m_onConnect;
        });
        if (onConnect) {
            onConnect();
        }
    } else if (std::holds_alternative<WebSocketDisconnected>(event)) {
        DisconnectCallback onDisconnect;
        m_queue.sync([&] {
            m_isConnected = false;
            stopPingTimer();
            std::lock_guard lock(m_callbackMutex);
            onDisconnect = m_onDisconnect;
        });
        if (onDisconnect) {
            onDisconnect();
        }
        m_queue.sync([this] { scheduleReconnect(); });
    } else if (const auto* text = std::get_if<WebSocketText>(&event)) {
        std::optional<WSMessage> message;
        try {
            message = decode<WSMessage>(text->text);
        } catch (const DecodingError&) {
            return;  // not a message of the channel: dropped without a trace on purpose
        }
        if (message->type == "pong") {
            return;
        }
        // Read without a round trip to the queue: one message per pushed change adds up.
        MessageCallback onMessage;
        {
            std::lock_guard lock(m_callbackMutex);
            onMessage = m_onMessage;
        }
        if (onMessage) {
            onMessage(*message);
        }
    } else if (std::holds_alternative<WebSocketError>(event)) {
        m_queue.sync([this] {
            m_isConnected = false;
            stopPingTimer();
            scheduleReconnect();
        });
    } else if (std::holds_alternative<WebSocketCancelled>(event)) {
        m_queue.sync([this] {
            m_isConnected = false;
            stopPingTimer();
        });
    }
    // binary, ping, pong and peerClosed change nothing.
}

void WebSocketClient::startPingTimer()
{
    stopPingTimer();
    m_pingTimer = std::make_unique<TimerSource>(
        m_queue, kPingInterval, kPingInterval, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || !self->m_isConnected || !self->m_socket) {
                return;
            }
            std::string text;
            try {
                text = encode(TextMap{{"type", "ping"}});
            } catch (const EncodingError&) {
                return;  // no text, no ping
            }
            self->m_socket->write(std::move(text));
        });
}

void WebSocketClient::stopPingTimer()
{
    if (m_pingTimer) {
        m_pingTimer->cancel();
    }
    m_pingTimer.reset();
}

void WebSocketClient::scheduleReconnect()
{
    if (m_reconnectAttempt >= m_maxReconnectAttempts) {
        return;  // given up; only a connected event lowers the count again
    }
    const double delay = std::min(std::pow(2.0, m_reconnectAttempt), m_maxReconnectDelay);
    ++m_reconnectAttempt;
    // Never cancelled: each block looks at the state it finds when its time has come.
    m_queue.asyncAfter(
        std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(delay)),
        [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || self->m_isConnected || !self->m_socket) {
                return;
            }
            self->m_socket->connect();
        });
}

}  // namespace corvane
