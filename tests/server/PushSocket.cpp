#include "PushSocket.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

namespace corvane::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

class PushSocket::Impl {
public:
    Impl(std::uint16_t port, const Options& options)
        : m_stream(m_io), m_work(asio::make_work_guard(m_io))
    {
        auto& socket = m_stream.next_layer();
        socket.open(tcp::v4());
        if (!options.reading) {
            socket.set_option(asio::socket_base::receive_buffer_size(1024));
        }
        beast::error_code error;
        socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), error);
        if (error) {
            m_ended = true;
            return;
        }
        m_stream.set_option(websocket::stream_base::decorator(
            [token = options.token](websocket::request_type& request) {
                if (token) {
                    request.set(beast::http::field::authorization, "Bearer " + *token);
                }
            }));
        // The asynchronous handshake keeps the response of a refused upgrade; the blocking one
        // does not.
        std::promise<beast::error_code> done;
        m_stream.async_handshake(m_response, "127.0.0.1:" + std::to_string(port), "/api/sync/ws",
                                 [&done](beast::error_code result) { done.set_value(result); });
        m_thread = std::jthread([this] { m_io.run(); });
        error = done.get_future().get();
        m_status = static_cast<int>(m_response.result_int());
        if (error) {
            std::lock_guard lock(m_mutex);
            m_ended = true;
            return;
        }
        if (options.reading) {
            asio::post(m_io, [this] { readNext(); });
        }
    }

    ~Impl()
    {
        asio::post(m_io, [this] {
            beast::error_code ignored;
            m_stream.next_layer().close(ignored);
            m_work.reset();
        });
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    int status() const { return m_status; }

    void send(std::string text)
    {
        asio::post(m_io, [this, text = std::move(text)]() mutable {
            m_outbox.push_back(std::move(text));
            if (m_outbox.size() == 1) {
                writeNext();
            }
        });
    }

    void startReading()
    {
        asio::post(m_io, [this] { readNext(); });
    }

    std::optional<std::string> next(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return !m_texts.empty() || m_ended; });
        if (m_texts.empty()) {
            return std::nullopt;
        }
        auto text = std::move(m_texts.front());
        m_texts.pop_front();
        return text;
    }

    bool waitForEnd(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_ended; });
    }

private:
    void readNext()
    {
        m_stream.async_read(m_buffer, [this](beast::error_code error, std::size_t) {
            std::lock_guard lock(m_mutex);
            if (error) {
                m_ended = true;
            } else {
                m_texts.push_back(beast::buffers_to_string(m_buffer.data()));
                m_buffer.consume(m_buffer.size());
            }
            m_changed.notify_all();
            if (!error) {
                readNext();
            }
        });
    }

    void writeNext()
    {
        m_stream.text(true);
        m_stream.async_write(asio::buffer(m_outbox.front()),
                             [this](beast::error_code error, std::size_t) {
                                 if (error) {
                                     return;
                                 }
                                 m_outbox.pop_front();
                                 if (!m_outbox.empty()) {
                                     writeNext();
                                 }
                             });
    }

    asio::io_context m_io;
    websocket::stream<tcp::socket> m_stream;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    beast::flat_buffer m_buffer;
    websocket::response_type m_response;
    std::deque<std::string> m_outbox;
    int m_status = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_texts;
    bool m_ended = false;
    std::jthread m_thread;
};

PushSocket::PushSocket(std::uint16_t port, Options options)
    : m_impl(std::make_unique<Impl>(port, options))
{
}

PushSocket::~PushSocket() = default;

int PushSocket::handshakeStatus() const
{
    return m_impl->status();
}

void PushSocket::startReading()
{
    m_impl->startReading();
}

void PushSocket::send(const std::string& text)
{
    m_impl->send(text);
}

std::optional<std::string> PushSocket::next(std::chrono::milliseconds timeout)
{
    return m_impl->next(timeout);
}

bool PushSocket::waitForEnd(std::chrono::milliseconds timeout)
{
    return m_impl->waitForEnd(timeout);
}

}  // namespace corvane::test
