#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace corvane::server {

// One socket of the push channel, after HttpSession checked its token: accepts the upgrade,
// answers {"type":"ping"} with {"type":"pong"}, and sends what the push hub hands it. One write in
// flight; at most kMaxQueuedMessages wait behind it, and a socket that falls further behind is
// dropped so that it cannot hold up memory or anyone else. A socket that stays silent through
// the idle timeout (Beast's keep-alive pings included) is closed. Runs on the connection's
// strand; send() and drop() may be called from any thread.
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
public:
    static constexpr std::size_t kMaxQueuedMessages = 1024;
    static constexpr std::size_t kMaxIncomingMessage = 64 * 1024;
    static constexpr std::chrono::milliseconds kIdleTimeout{60'000};

    using Message = std::shared_ptr<const std::string>;

    WebSocketSession(boost::beast::tcp_stream stream, std::string accountId,
                     std::chrono::milliseconds idleTimeout);

    const std::string& accountId() const { return m_accountId; }

    // Answers the upgrade request and starts reading.
    void run(boost::beast::http::request<boost::beast::http::string_body> request);
    // Queues one text message (shared between the sockets it goes to).
    void send(Message message);
    // Closes the connection at once, without a close frame.
    void drop();

private:
    using ErrorCode = boost::beast::error_code;

    void onAccept(ErrorCode error);
    void readNext();
    void onRead(ErrorCode error);
    void enqueue(Message message);
    void writeNext();
    void onWrite(ErrorCode error);
    void end();

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_stream;
    const std::string m_accountId;
    const std::chrono::milliseconds m_idleTimeout;
    boost::beast::http::request<boost::beast::http::string_body> m_request;
    boost::beast::flat_buffer m_buffer;
    std::deque<Message> m_outbox;  // the front one is being written while m_writing
    bool m_writing = false;
    bool m_open = false;
    bool m_ended = false;
};

}  // namespace corvane::server
