#include "WebSocketSession.h"

#include <iostream>
#include <iterator>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

namespace corvane::server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace websocket = beast::websocket;

namespace {

const auto kPong = std::make_shared<const std::string>(R"({"type":"pong"})");

bool isPing(const std::string& text)
{
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        return false;
    }
    const auto type = json.find("type");
    return type != json.end() && type->is_string() && *type == "ping";
}

}  // namespace

WebSocketSession::WebSocketSession(beast::tcp_stream stream, std::string accountId,
                                   std::chrono::milliseconds idleTimeout)
    : m_stream(std::move(stream)), m_accountId(std::move(accountId)), m_idleTimeout(idleTimeout)
{
}

void WebSocketSession::run(http::request<http::string_body> request)
{
    m_request = std::move(request);
    net::dispatch(m_stream.get_executor(), [self = shared_from_this()] {
        beast::get_lowest_layer(self->m_stream).expires_never();
        websocket::stream_base::timeout timeouts =
            websocket::stream_base::timeout::suggested(beast::role_type::server);
        timeouts.idle_timeout = self->m_idleTimeout;
        timeouts.keep_alive_pings = true;
        self->m_stream.set_option(timeouts);
        self->m_stream.set_option(
            websocket::stream_base::decorator([](websocket::response_type& response) {
                response.set(http::field::server, "corvane-server");
            }));
        self->m_stream.read_message_max(kMaxIncomingMessage);
        self->m_stream.async_accept(self->m_request,
                                    [self](ErrorCode error) { self->onAccept(error); });
    });
}

void WebSocketSession::send(Message message)
{
    net::post(m_stream.get_executor(),
              [self = shared_from_this(), message = std::move(message)]() mutable {
                  self->enqueue(std::move(message));
              });
}

void WebSocketSession::drop()
{
    net::post(m_stream.get_executor(), [self = shared_from_this()] { self->end(); });
}

void WebSocketSession::onAccept(ErrorCode error)
{
    m_request = {};
    if (error) {
        return end();
    }
    m_open = true;
    if (!m_outbox.empty()) {
        writeNext();
    }
    readNext();
}

void WebSocketSession::readNext()
{
    m_stream.async_read(m_buffer, [self = shared_from_this()](ErrorCode error, std::size_t) {
        self->onRead(error);
    });
}

void WebSocketSession::onRead(ErrorCode error)
{
    if (error) {
        return end();  // closed by the client, timed out, or dropped
    }
    const bool text = m_stream.got_text();
    const std::string message = beast::buffers_to_string(m_buffer.data());
    m_buffer.consume(m_buffer.size());
    if (text && isPing(message)) {
        enqueue(kPong);
    }
    readNext();
}

void WebSocketSession::enqueue(Message message)
{
    if (m_ended) {
        return;
    }
    if (m_outbox.size() > kMaxQueuedMessages) {
        std::cerr << "push socket of account " << m_accountId << " is too far behind; dropping it"
                  << std::endl;
        return end();
    }
    m_outbox.push_back(std::move(message));
    if (m_open && m_outbox.size() == 1) {
        writeNext();
    }
}

void WebSocketSession::writeNext()
{
    m_writing = true;
    m_stream.text(true);
    m_stream.async_write(
        net::buffer(*m_outbox.front()),
        [self = shared_from_this()](ErrorCode error, std::size_t) { self->onWrite(error); });
}

void WebSocketSession::onWrite(ErrorCode error)
{
    m_writing = false;
    m_outbox.pop_front();
    if (m_ended) {
        return;
    }
    if (error) {
        return end();
    }
    if (!m_outbox.empty()) {
        writeNext();
    }
}

void WebSocketSession::end()
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_open = false;
    // A message being written must outlive its write: Asio reads it until onWrite runs.
    m_outbox.erase(m_writing ? std::next(m_outbox.begin()) : m_outbox.begin(), m_outbox.end());
    beast::get_lowest_layer(m_stream).close();
}

}  // namespace corvane::server
