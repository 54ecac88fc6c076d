#include "API/WebSocketConnection.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/ssl.h>

#include "Platform/MainQueue.h"

namespace corvane {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

// How long our close handshake may take before the connection is dropped.
constexpr auto kCloseTimeout = std::chrono::seconds(5);
// How long a released connection keeps running to finish a close handshake under way.
constexpr auto kReleaseGrace = std::chrono::seconds(1);

// Where a "ws://" or "wss://" address leads. "http://" and "https://" are accepted as their
// plain and TLS counterparts; schemes compare without regard to case.
struct Endpoint {
    bool tls = false;
    std::string host;        // for name resolution and certificate checks, without brackets
    std::string port;        // explicit or the scheme's default
    std::string hostHeader;  // host as written, plus ":port" when the address names one
    std::string target;      // path and query, at least "/"
};

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isPort(const std::string& text)
{
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    const int value = std::stoi(text);
    return value > 0 && value <= 65535;
}

std::optional<Endpoint> parseEndpoint(const std::string& url)
{
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return std::nullopt;
    }
    Endpoint endpoint;
    const std::string scheme = lowercase(url.substr(0, schemeEnd));
    if (scheme == "wss" || scheme == "https") {
        endpoint.tls = true;
    } else if (scheme != "ws" && scheme != "http") {
        return std::nullopt;
    }
    const auto authorityStart = schemeEnd + 3;
    const auto authorityEnd = std::min(url.find_first_of("/?#", authorityStart), url.size());
    std::string authority = url.substr(authorityStart, authorityEnd - authorityStart);
    if (const auto at = authority.rfind('@'); at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    std::string port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        endpoint.host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':')) {
                return std::nullopt;
            }
            port = rest.substr(1);
        }
    } else {
        const auto colon = authority.find(':');
        endpoint.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
        }
    }
    if (endpoint.host.empty() || (!port.empty() && !isPort(port))) {
        return std::nullopt;
    }
    endpoint.hostHeader = authority;
    if (endpoint.hostHeader.ends_with(':')) {
        endpoint.hostHeader.pop_back();  // "host:" with an empty port
    }
    endpoint.port = port.empty() ? (endpoint.tls ? "443" : "80") : port;
    const auto fragment = std::min(url.find('#', authorityEnd), url.size());
    endpoint.target = url.substr(authorityEnd, fragment - authorityEnd);
    if (endpoint.target.empty() || endpoint.target.starts_with('?')) {
        endpoint.target.insert(0, "/");
    }
    return endpoint;
}

bool isSafeHeaderText(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool isIPAddress(const std::string& host)
{
    boost::system::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

// Hands events to the delegate on the main thread. Shared by the connection and its sessions,
// so a session that outlives the connection object can still report how its close ended.
class EventSink {
public:
    void setDelegate(std::weak_ptr<WebSocketDelegate> delegate)
    {
        std::lock_guard lock(m_mutex);
        m_delegate = std::move(delegate);
    }

    void setSocket(std::weak_ptr<WebSocket> socket)
    {
        std::lock_guard lock(m_mutex);
        m_socket = std::move(socket);
    }

    void emit(WebSocketEvent event) const
    {
        std::weak_ptr<WebSocketDelegate> delegate;
        std::weak_ptr<WebSocket> socket;
        {
            std::lock_guard lock(m_mutex);
            delegate = m_delegate;
            socket = m_socket;
        }
        MainQueue::async(
            [delegate = std::move(delegate), socket = std::move(socket), event = std::move(event)] {
                if (const auto receiver = delegate.lock()) {
                    receiver->didReceive(event, socket.lock());
                }
            });
    }

private:
    mutable std::mutex m_mutex;
    std::weak_ptr<WebSocketDelegate> m_delegate;
    std::weak_ptr<WebSocket> m_socket;
};

// One connection attempt and, once established, the connection itself. Lives on the io thread:
// every member is touched only there. Handlers hold the session, so it lives until its last
// operation has finished.
class Session {
public:
    virtual ~Session() = default;

    virtual void start() = 0;
    virtual void write(std::string text) = 0;
    virtual void close(std::uint16_t code) = 0;
    // Ends the session at once, reporting nothing.
    virtual void abandon() = 0;
    virtual bool isClosing() const = 0;
    // Called once when the session has ended, whichever way.
    virtual void setOnFinished(std::function<void()> onFinished) = 0;
};

template <bool kTLS>
class StreamSession final : public Session,
                            public std::enable_shared_from_this<StreamSession<kTLS>> {
public:
    using Stream = std::conditional_t<kTLS, websocket::stream<beast::ssl_stream<beast::tcp_stream>>,
                                      websocket::stream<beast::tcp_stream>>;

    StreamSession(asio::io_context& io, ssl::context& tls, Endpoint endpoint,
                  const WebSocketRequest& request, std::shared_ptr<const EventSink> sink)
        : m_stream(makeStream(io, tls)), m_resolver(io), m_deadline(io),
          m_endpoint(std::move(endpoint)), m_headers(request.headers), m_timeout(request.timeout),
          m_sink(std::move(sink))
    {
    }

    void start() override
    {
        m_deadline.expires_after(m_timeout);
        m_deadline.async_wait([self = this->shared_from_this()](beast::error_code error) {
            if (!error && self->m_state == State::connecting) {
                self->fail("The request timed out.");
            }
        });
        m_resolver.async_resolve(
            m_endpoint.host, m_endpoint.port,
            [self = this->shared_from_this()](beast::error_code error,
                                              const tcp::resolver::results_type& results) {
                if (self->m_state != State::finished) {
                    error ? self->fail(error) : self->onResolved(results);
                }
            });
    }

    void write(std::string text) override
    {
        if (m_state != State::open) {
            return;
        }
        m_outbox.push_back(std::move(text));
        if (m_outbox.size() == 1) {
            writeNext();
        }
    }

    void close(std::uint16_t code) override
    {
        if (m_state == State::connecting) {
            finish(WebSocketCancelled{});
            return;
        }
        if (m_state != State::open) {
            return;
        }
        m_state = State::closing;
        m_closeCode = code;
        m_stream.async_close(websocket::close_reason(code),
                             [self = this->shared_from_this()](beast::error_code error) {
                                 if (self->m_state == State::finished) {
                                     return;
                                 }
                                 if (error) {
                                     self->finish(WebSocketCancelled{});
                                 } else {
                                     self->finishClosed();
                                 }
                             });
    }

    void abandon() override { finish(std::nullopt); }

    bool isClosing() const override { return m_state == State::closing; }

    void setOnFinished(std::function<void()> onFinished) override
    {
        m_onFinished = std::move(onFinished);
    }

private:
    enum class State { connecting, open, closing, finished };

    static Stream makeStream(asio::io_context& io, ssl::context& tls)
    {
        if constexpr (kTLS) {
            return Stream(io, tls);
        } else {
            return Stream(io);
        }
    }

    void onResolved(const tcp::resolver::results_type& results)
    {
        beast::get_lowest_layer(m_stream).async_connect(
            results,
            [self = this->shared_from_this()](beast::error_code error, const tcp::endpoint&) {
                if (self->m_state != State::finished) {
                    error ? self->fail(error) : self->onConnected();
                }
            });
    }

    void onConnected()
    {
        if constexpr (kTLS) {
            auto& tlsStream = m_stream.next_layer();
            // Name indication only for names: RFC 6066 leaves addresses out of it.
            if (!isIPAddress(m_endpoint.host) &&
                !SSL_set_tlsext_host_name(tlsStream.native_handle(), m_endpoint.host.c_str())) {
                fail("The server name could not be set for TLS.");
                return;
            }
            tlsStream.set_verify_mode(ssl::verify_peer);
            tlsStream.set_verify_callback(ssl::host_name_verification(m_endpoint.host));
            tlsStream.async_handshake(ssl::stream_base::client,
                                      [self = this->shared_from_this()](beast::error_code error) {
                                          if (self->m_state != State::finished) {
                                              error ? self->fail(error) : self->handshake();
                                          }
                                      });
        } else {
            handshake();
        }
    }

    void handshake()
    {
        m_stream.set_option(websocket::stream_base::decorator(
            [headers = m_headers](websocket::request_type& request) {
                for (const auto& [name, value] : headers) {
                    request.set(name, value);
                }
            }));
        m_stream.control_callback([this](websocket::frame_type kind, beast::string_view payload) {
            if (kind == websocket::frame_type::ping) {
                m_sink->emit(WebSocketPing{std::string(payload)});
            } else if (kind == websocket::frame_type::pong) {
                m_sink->emit(WebSocketPong{std::string(payload)});
            }
        });
        m_stream.async_handshake(
            m_response, m_endpoint.hostHeader, m_endpoint.target,
            [self = this->shared_from_this()](beast::error_code error) {
                if (self->m_state == State::finished) {
                    return;
                }
                if (error == websocket::error::upgrade_declined) {
                    self->fail("The server refused the WebSocket upgrade with HTTP status " +
                               std::to_string(self->m_response.result_int()) + ".");
                } else if (error) {
                    self->fail(error);
                } else {
                    self->onOpen();
                }
            });
    }

    void onOpen()
    {
        m_state = State::open;
        m_deadline.cancel();
        beast::get_lowest_layer(m_stream).expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = kCloseTimeout;
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        m_stream.set_option(timeouts);
        m_stream.read_message_max(WebSocketConnection::kMaxMessageBytes);
        WebSocketConnected connected;
        for (const auto& field : m_response) {
            connected.headers[std::string(field.name_string())] = std::string(field.value());
        }
        m_sink->emit(std::move(connected));
        readNext();
    }

    void readNext()
    {
        m_stream.async_read(
            m_buffer, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                self->onRead(error);
            });
    }

    void onRead(beast::error_code error)
    {
        if (m_state == State::finished) {
            return;
        }
        if (!error) {
            std::string data = beast::buffers_to_string(m_buffer.data());
            m_buffer.consume(m_buffer.size());
            if (m_stream.got_text()) {
                m_sink->emit(WebSocketText{std::move(data)});
            } else {
                m_sink->emit(WebSocketBinary{std::move(data)});
            }
            readNext();
            return;
        }
        if (error == websocket::error::closed) {
            finishClosed();  // the server's close frame, or its answer to ours
        } else if (m_state == State::closing) {
            finish(WebSocketCancelled{});
        } else if (error == asio::error::eof || error == ssl::error::stream_truncated ||
                   error == beast::http::error::end_of_stream) {
            m_sink->emit(WebSocketPeerClosed{});
            fail("The server closed the connection.");
        } else {
            fail(error);
        }
    }

    void writeNext()
    {
        m_stream.text(true);
        m_stream.async_write(
            asio::buffer(m_outbox.front()),
            [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                if (self->m_state == State::finished) {
                    return;
                }
                if (error) {
                    if (self->m_state != State::closing) {
                        self->fail(error);
                    }
                    return;
                }
                self->m_outbox.pop_front();
                if (!self->m_outbox.empty() && self->m_state == State::open) {
                    self->writeNext();
                }
            });
    }

    void finishClosed()
    {
        const auto& reason = m_stream.reason();
        const std::uint16_t code = reason.code != websocket::close_code::none
                                       ? static_cast<std::uint16_t>(reason.code)
                                       : m_closeCode;
        finish(WebSocketDisconnected{std::string(reason.reason.c_str()), code});
    }

    void fail(const beast::error_code& error) { fail(error.message()); }

    void fail(std::string message) { finish(WebSocketError{std::move(message)}); }

    void finish(std::optional<WebSocketEvent> event)
    {
        if (m_state == State::finished) {
            return;
        }
        m_state = State::finished;
        m_resolver.cancel();
        m_deadline.cancel();
        beast::get_lowest_layer(m_stream).close();
        m_outbox.clear();
        if (event) {
            m_sink->emit(std::move(*event));
        }
        if (auto onFinished = std::exchange(m_onFinished, nullptr)) {
            onFinished();
        }
    }

    Stream m_stream;
    tcp::resolver m_resolver;
    asio::steady_timer m_deadline;
    const Endpoint m_endpoint;
    const std::vector<std::pair<std::string, std::string>> m_headers;
    const std::chrono::milliseconds m_timeout;
    const std::shared_ptr<const EventSink> m_sink;
    State m_state = State::connecting;
    std::uint16_t m_closeCode = WebSocket::kNormalClosure;
    websocket::response_type m_response;
    beast::flat_buffer m_buffer;
    std::deque<std::string> m_outbox;  // the front one is being written
    std::function<void()> m_onFinished;
};

}  // namespace

class WebSocketConnection::Impl {
public:
    explicit Impl(const WebSocketRequest& request)
        : m_request(request), m_endpoint(parseEndpoint(request.url)),
          m_sink(std::make_shared<EventSink>()), m_work(asio::make_work_guard(m_io)),
          m_tls(ssl::context::tls_client), m_grace(m_io)
    {
        boost::system::error_code error;
        m_tls.set_default_verify_paths(error);
        m_tlsReady = !error;
        m_tls.set_verify_mode(ssl::verify_peer);
        m_thread = std::jthread([this] { run(); });
    }

    ~Impl()
    {
        asio::post(m_io, [this] { shutdown(); });
        m_thread.join();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    EventSink& sink() { return *m_sink; }

    void connect()
    {
        asio::post(m_io, [this] { startSession(); });
    }

    void disconnect(std::uint16_t code)
    {
        asio::post(m_io, [this, code] {
            if (m_session) {
                m_session->close(code);
            }
        });
    }

    void write(std::string text)
    {
        asio::post(m_io, [this, text = std::move(text)]() mutable {
            if (m_session) {
                m_session->write(std::move(text));
            }
        });
    }

private:
    void run()
    {
        while (true) {
            try {
                m_io.run();
                return;
            } catch (const std::exception& error) {
                // Handlers report failures as events; this is the last boundary of the thread.
                std::fprintf(stderr, "websocket: network handler failed: %s\n", error.what());
            }
        }
    }

    void startSession()
    {
        if (m_session) {
            m_session->abandon();
            m_session.reset();
        }
        if (!m_endpoint) {
            m_sink->emit(WebSocketError{"Unsupported URL: " + m_request.url});
            return;
        }
        for (const auto& [name, value] : m_request.headers) {
            if (name.empty() || !isSafeHeaderText(name) || !isSafeHeaderText(value)) {
                m_sink->emit(WebSocketError{"The request carries an invalid header."});
                return;
            }
        }
        if (m_endpoint->tls && !m_tlsReady) {
            m_sink->emit(WebSocketError{"The system's trusted certificates could not be loaded."});
            return;
        }
        if (m_endpoint->tls) {
            m_session =
                std::make_shared<StreamSession<true>>(m_io, m_tls, *m_endpoint, m_request, m_sink);
        } else {
            m_session =
                std::make_shared<StreamSession<false>>(m_io, m_tls, *m_endpoint, m_request, m_sink);
        }
        m_session->start();
    }

    // Lets the io thread end: at once, or once a close handshake under way has finished.
    void shutdown()
    {
        m_work.reset();
        if (!m_session) {
            return;
        }
        if (m_session->isClosing()) {
            m_grace.expires_after(kReleaseGrace);
            m_grace.async_wait([session = m_session](beast::error_code error) {
                if (!error) {
                    session->abandon();
                }
            });
            m_session->setOnFinished([this] { m_grace.cancel(); });
        } else {
            m_session->abandon();
        }
        m_session.reset();
    }

    const WebSocketRequest m_request;
    const std::optional<Endpoint> m_endpoint;
    const std::shared_ptr<EventSink> m_sink;
    asio::io_context m_io{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    ssl::context m_tls;
    bool m_tlsReady = false;
    asio::steady_timer m_grace;
    std::shared_ptr<Session> m_session;
    std::jthread m_thread;
};

std::shared_ptr<WebSocket> WebSocketConnection::make(const WebSocketRequest& request)
{
    auto connection = std::make_shared<WebSocketConnection>(Key{}, request);
    connection->m_impl->sink().setSocket(connection);
    return connection;
}

WebSocketConnection::WebSocketConnection(Key, const WebSocketRequest& request)
    : m_impl(std::make_unique<Impl>(request))
{
}

WebSocketConnection::~WebSocketConnection() = default;

void WebSocketConnection::setDelegate(std::weak_ptr<WebSocketDelegate> delegate)
{
    m_impl->sink().setDelegate(std::move(delegate));
}

void WebSocketConnection::connect()
{
    m_impl->connect();
}

void WebSocketConnection::disconnect(std::uint16_t closeCode)
{
    m_impl->disconnect(closeCode);
}

void WebSocketConnection::write(std::string text)
{
    m_impl->write(std::move(text));
}

}  // namespace corvane
