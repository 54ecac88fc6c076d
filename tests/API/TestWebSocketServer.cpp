#include "TestWebSocketServer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace corvane::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* handle) const { Free(handle); }
};
using KeyHandle = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertificateHandle = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtensionHandle =
    std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BioHandle = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

std::string bioText(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

void require(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + what);
    }
}

}  // namespace

TestCertificate TestCertificate::selfSigned(const std::string& dnsName)
{
    KeyHandle key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key");
    CertificateHandle certificate(X509_new());
    require(certificate != nullptr, "certificate");
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(dnsName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    const std::string altName = "DNS:" + dnsName;
    ExtensionHandle extension(
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, altName.c_str()));
    require(extension != nullptr, "extension");
    X509_add_ext(cert, extension.get(), -1);
    require(X509_sign(cert, key.get(), EVP_sha256()) > 0, "signature");

    BioHandle certificateBio(BIO_new(BIO_s_mem()));
    BioHandle keyBio(BIO_new(BIO_s_mem()));
    require(PEM_write_bio_X509(certificateBio.get(), cert) == 1, "certificate PEM");
    require(PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                     nullptr) == 1,
            "key PEM");
    return TestCertificate{bioText(certificateBio.get()), bioText(keyBio.get())};
}

class TestWebSocketServer::Impl {
public:
    Impl(Mode mode, std::optional<TestCertificate> certificate)
        : m_mode(mode), m_tlsEnabled(certificate.has_value()), m_acceptor(m_io)
    {
        if (certificate) {
            m_tls.use_certificate_chain(asio::buffer(certificate->certificatePem));
            m_tls.use_private_key(asio::buffer(certificate->privateKeyPem), ssl::context::pem);
        }
        const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
        m_acceptor.open(endpoint.protocol());
        m_acceptor.set_option(asio::socket_base::reuse_address(true));
        m_acceptor.bind(endpoint);
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        accept();
        m_thread = std::jthread([this] { m_io.run(); });
    }

    ~Impl()
    {
        asio::post(m_io, [this] {
            beast::error_code ignored;
            m_acceptor.close(ignored);
            if (m_connection) {
                m_connection->drop();
            }
            m_connection.reset();
            m_silent.clear();
        });
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    // What the connections report, guarded by one mutex.
    struct Observed {
        int handshakes = 0;
        std::map<std::string, std::string> headers;
        std::string target;
        std::optional<std::string> serverName;
        std::deque<std::string> texts;
        int pongs = 0;
        std::optional<std::uint16_t> clientCloseCode;
    };

    template <typename Predicate>
    bool waitFor(std::chrono::milliseconds timeout, Predicate predicate)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return predicate(m_observed); });
    }

    template <typename Change>
    void observe(Change change)
    {
        {
            std::lock_guard lock(m_mutex);
            change(m_observed);
        }
        m_changed.notify_all();
    }

    template <typename Work>
    void onConnection(Work work)
    {
        asio::post(m_io, [this, work = std::move(work)] {
            if (m_connection) {
                work(*m_connection);
            }
        });
    }

    class Connection {
    public:
        virtual ~Connection() = default;
        virtual void sendText(std::string text) = 0;
        virtual void sendPing(std::string payload) = 0;
        virtual void close(std::uint16_t code, std::string reason) = 0;
        virtual void drop() = 0;
    };

private:
    template <bool kTLS>
    class StreamConnection final : public Connection,
                                   public std::enable_shared_from_this<StreamConnection<kTLS>> {
    public:
        using Stream =
            std::conditional_t<kTLS, websocket::stream<beast::ssl_stream<beast::tcp_stream>>,
                               websocket::stream<beast::tcp_stream>>;

        StreamConnection(Impl& owner, tcp::socket socket)
            : m_owner(owner), m_stream(makeStream(owner, std::move(socket)))
        {
        }

        void start()
        {
            if constexpr (kTLS) {
                m_stream.next_layer().async_handshake(
                    ssl::stream_base::server,
                    [self = this->shared_from_this()](beast::error_code error) {
                        if (error) {
                            return;
                        }
                        const char* name = SSL_get_servername(
                            self->m_stream.next_layer().native_handle(), TLSEXT_NAMETYPE_host_name);
                        self->m_owner.observe([&](Observed& observed) {
                            observed.serverName =
                                name ? std::optional<std::string>(name) : std::nullopt;
                        });
                        self->readRequest();
                    });
            } else {
                readRequest();
            }
        }

        void sendText(std::string text) override
        {
            m_outbox.push_back(std::move(text));
            if (m_outbox.size() == 1) {
                writeNext();
            }
        }

        void sendPing(std::string payload) override
        {
            m_stream.async_ping(websocket::ping_data(payload.c_str()),
                                [self = this->shared_from_this()](beast::error_code) {});
        }

        void close(std::uint16_t code, std::string reason) override
        {
            m_stream.async_close(
                websocket::close_reason(static_cast<websocket::close_code>(code), reason.c_str()),
                [self = this->shared_from_this()](beast::error_code) {});
        }

        void drop() override { beast::get_lowest_layer(m_stream).close(); }

    private:
        static Stream makeStream(Impl& owner, tcp::socket socket)
        {
            if constexpr (kTLS) {
                return Stream(std::move(socket), owner.m_tls);
            } else {
                return Stream(std::move(socket));
            }
        }

        void readRequest()
        {
            http::async_read(
                m_stream.next_layer(), m_buffer, m_request,
                [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                    if (!error) {
                        self->onRequest();
                    }
                });
        }

        void onRequest()
        {
            if (m_owner.m_mode == Mode::refuse) {
                m_refusal.result(http::status::unauthorized);
                m_refusal.set(http::field::content_type, "application/json");
                m_refusal.body() = R"({"error":"unauthorized"})";
                m_refusal.prepare_payload();
                http::async_write(m_stream.next_layer(), m_refusal,
                                  [self = this->shared_from_this()](beast::error_code,
                                                                    std::size_t) { self->drop(); });
                return;
            }
            std::map<std::string, std::string> headers;
            for (const auto& field : m_request) {
                std::string name(field.name_string());
                for (auto& c : name) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                headers[name] = std::string(field.value());
            }
            const std::string target(m_request.target());
            m_stream.control_callback([this](websocket::frame_type kind, beast::string_view) {
                if (kind == websocket::frame_type::pong) {
                    m_owner.observe([](Observed& observed) { ++observed.pongs; });
                }
            });
            m_stream.async_accept(m_request, [self = this->shared_from_this(), headers,
                                              target](beast::error_code error) {
                if (error) {
                    return;
                }
                self->m_owner.observe([&](Observed& observed) {
                    ++observed.handshakes;
                    observed.headers = headers;
                    observed.target = target;
                });
                self->readNext();
            });
        }

        void readNext()
        {
            m_stream.async_read(m_messages, [self = this->shared_from_this()](
                                                beast::error_code error, std::size_t) {
                if (error == websocket::error::closed) {
                    const auto code = static_cast<std::uint16_t>(self->m_stream.reason().code);
                    self->m_owner.observe(
                        [&](Observed& observed) { observed.clientCloseCode = code; });
                    return;
                }
                if (error) {
                    return;
                }
                std::string text = beast::buffers_to_string(self->m_messages.data());
                self->m_messages.consume(self->m_messages.size());
                self->m_owner.observe(
                    [&](Observed& observed) { observed.texts.push_back(std::move(text)); });
                self->readNext();
            });
        }

        void writeNext()
        {
            m_stream.text(true);
            m_stream.async_write(
                asio::buffer(m_outbox.front()),
                [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                    if (error) {
                        return;
                    }
                    self->m_outbox.pop_front();
                    if (!self->m_outbox.empty()) {
                        self->writeNext();
                    }
                });
        }

        Impl& m_owner;
        Stream m_stream;
        beast::flat_buffer m_buffer;
        beast::flat_buffer m_messages;
        http::request<http::string_body> m_request;
        http::response<http::string_body> m_refusal;
        std::deque<std::string> m_outbox;
    };

    void accept()
    {
        m_acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error) {
                return;  // closed
            }
            if (m_mode == Mode::silent) {
                m_silent.push_back(std::move(socket));
            } else if (m_tlsEnabled) {
                auto connection =
                    std::make_shared<StreamConnection<true>>(*this, std::move(socket));
                replace(connection);
                connection->start();
            } else {
                auto connection =
                    std::make_shared<StreamConnection<false>>(*this, std::move(socket));
                replace(connection);
                connection->start();
            }
            accept();
        });
    }

    void replace(std::shared_ptr<Connection> connection)
    {
        if (m_connection) {
            m_connection->drop();
        }
        m_connection = std::move(connection);
    }

    const Mode m_mode;
    const bool m_tlsEnabled;
    ssl::context m_tls{ssl::context::tls_server};
    asio::io_context m_io{1};
    tcp::acceptor m_acceptor;
    std::uint16_t m_port = 0;
    std::shared_ptr<Connection> m_connection;
    std::vector<tcp::socket> m_silent;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Observed m_observed;
    std::jthread m_thread;

public:
    Observed snapshot() const
    {
        std::lock_guard lock(m_mutex);
        return m_observed;
    }
};

TestWebSocketServer::TestWebSocketServer(Mode mode, std::optional<TestCertificate> tls)
    : m_impl(std::make_unique<Impl>(mode, std::move(tls)))
{
}

TestWebSocketServer::~TestWebSocketServer() = default;

std::uint16_t TestWebSocketServer::port() const
{
    return m_impl->port();
}

bool TestWebSocketServer::waitForHandshakes(int count, std::chrono::milliseconds timeout)
{
    return m_impl->waitFor(timeout,
                           [&](const auto& observed) { return observed.handshakes >= count; });
}

std::map<std::string, std::string> TestWebSocketServer::requestHeaders() const
{
    return m_impl->snapshot().headers;
}

std::string TestWebSocketServer::requestTarget() const
{
    return m_impl->snapshot().target;
}

std::optional<std::string> TestWebSocketServer::serverName() const
{
    return m_impl->snapshot().serverName;
}

void TestWebSocketServer::sendText(const std::string& text)
{
    m_impl->onConnection([text](auto& connection) { connection.sendText(text); });
}

void TestWebSocketServer::sendPing(const std::string& payload)
{
    m_impl->onConnection([payload](auto& connection) { connection.sendPing(payload); });
}

void TestWebSocketServer::close(std::uint16_t code, const std::string& reason)
{
    m_impl->onConnection([code, reason](auto& connection) { connection.close(code, reason); });
}

void TestWebSocketServer::drop()
{
    m_impl->onConnection([](auto& connection) { connection.drop(); });
}

std::optional<std::string> TestWebSocketServer::nextText(std::chrono::milliseconds timeout)
{
    std::optional<std::string> text;
    m_impl->waitFor(timeout, [&](auto& observed) {
        if (observed.texts.empty()) {
            return false;
        }
        text = observed.texts.front();
        observed.texts.pop_front();
        return true;
    });
    return text;
}

bool TestWebSocketServer::waitForPong(std::chrono::milliseconds timeout)
{
    return m_impl->waitFor(timeout, [](const auto& observed) { return observed.pongs > 0; });
}

std::optional<std::uint16_t>
TestWebSocketServer::waitForClientClose(std::chrono::milliseconds timeout)
{
    std::optional<std::uint16_t> code;
    m_impl->waitFor(timeout, [&](const auto& observed) {
        code = observed.clientCloseCode;
        return code.has_value();
    });
    return code;
}

}  // namespace corvane::test
