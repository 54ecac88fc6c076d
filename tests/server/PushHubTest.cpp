#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "PushHub.h"
#include "PushSocket.h"
#include "WebSocketSession.h"

namespace corvane::server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using test::PushSocket;

// The hub behind a bare listener, in this process: the bearer token names the account.
class InProcessHub {
public:
    InProcessHub() : m_acceptor(m_io, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0))
    {
        accept();
        for (int i = 0; i < 2; ++i) {
            m_threads.emplace_back([this] { m_io.run(); });
        }
    }
    ~InProcessHub()
    {
        m_hub.dropAll();
        m_io.stop();
    }

    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    PushHub& hub() { return m_hub; }

private:
    struct Upgrade {
        explicit Upgrade(tcp::socket socket) : stream(std::move(socket)) {}
        beast::tcp_stream stream;
        beast::flat_buffer buffer;
        http::request<http::string_body> request;
    };

    void accept()
    {
        m_acceptor.async_accept(
            net::make_strand(m_io), [this](beast::error_code error, tcp::socket socket) {
                if (error) {
                    return;
                }
                // A small, fixed send buffer: the kernel cannot hide a stalled reader for long.
                beast::error_code ignored;
                socket.set_option(net::socket_base::send_buffer_size(4096), ignored);
                auto upgrade = std::make_shared<Upgrade>(std::move(socket));
                http::async_read(
                    upgrade->stream, upgrade->buffer, upgrade->request,
                    [this, upgrade](beast::error_code readError, std::size_t) {
                        if (readError) {
                            return;
                        }
                        const std::string auth(upgrade->request[http::field::authorization]);
                        const User user{auth.substr(auth.find(' ') + 1), "", ""};
                        m_hub.accept(std::move(upgrade->stream), std::move(upgrade->request), user);
                    });
                accept();
            });
    }

    PushHub m_hub{WebSocketSession::kIdleTimeout};
    net::io_context m_io{2};
    tcp::acceptor m_acceptor;
    std::vector<std::jthread> m_threads;
};

FileChangedNotice notice(int i)
{
    return FileChangedNotice{std::to_string(i),
                             "create",
                             "/" + std::string(150, 'p') + ".txt",
                             std::string(64, 'a'),
                             1,
                             "alice",
                             "folder",
                             "2024-01-01T00:00:00Z"};
}

TEST(PushHub, MessageCarriesTheEventWithoutAbsentFields)
{
    auto change = notice(7);
    auto message = nlohmann::json::parse(PushHub::fileChangedMessage(change));
    EXPECT_EQ(message["type"], "file_changed");
    EXPECT_EQ(message["event"], (nlohmann::json{{"id", "7"},
                                                {"action", "create"},
                                                {"path", change.path},
                                                {"hash", change.hash.value()},
                                                {"version", 1},
                                                {"timestamp", "2024-01-01T00:00:00Z"},
                                                {"user_id", "alice"},
                                                {"folder_id", "folder"}}));
    change.action = "delete";
    change.hash.reset();
    change.version.reset();
    message = nlohmann::json::parse(PushHub::fileChangedMessage(change));
    EXPECT_FALSE(message["event"].contains("hash"));
    EXPECT_FALSE(message["event"].contains("version"));
}

TEST(PushHub, AStalledSocketIsDroppedWhileTheOthersKeepUp)
{
    InProcessHub server;
    PushSocket stalled(server.port(), {"alice", false});
    PushSocket live(server.port(), {"alice", true});
    PushSocket stranger(server.port(), {"bob", true});
    ASSERT_EQ(stalled.handshakeStatus(), 101);
    ASSERT_EQ(live.handshakeStatus(), 101);
    ASSERT_EQ(stranger.handshakeStatus(), 101);

    // Far more than the kernel's buffers and the socket's queue can hold, in bursts the live
    // socket reads as they come.
    constexpr int kBursts = 20;
    constexpr int kBurst = 200;
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kBurst; ++i) {
            server.hub().fileChanged("alice", notice(burst * kBurst + i));
        }
        for (int i = 0; i < kBurst; ++i) {
            const auto text = live.next();
            ASSERT_TRUE(text.has_value()) << "burst " << burst << ", message " << i;
            ASSERT_EQ(nlohmann::json::parse(*text)["event"]["id"],
                      std::to_string(burst * kBurst + i));
        }
    }

    stalled.startReading();
    int received = 0;
    while (stalled.next(500ms)) {
        ++received;
    }
    EXPECT_TRUE(stalled.waitForEnd(1s));
    EXPECT_LT(received, kBursts * kBurst);
    EXPECT_GT(received, 0);
    EXPECT_EQ(stranger.next(10ms), std::nullopt);
}

}  // namespace
}  // namespace corvane::server
