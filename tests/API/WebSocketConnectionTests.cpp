#include "API/WebSocketConnection.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include "API/APITestSupport.h"
#include "Platform/MainQueue.h"
#include "TestWebSocketServer.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::TestCertificate;
using test::TestWebSocketServer;

// Collects the socket's events; they must arrive on the main thread.
class RecordingDelegate final : public WebSocketDelegate {
public:
    void didReceive(const WebSocketEvent& event, const std::shared_ptr<WebSocket>& client) override
    {
        EXPECT_TRUE(MainQueue::isMainThread());
        events.push_back(event);
        clients.push_back(client);
    }

    template <typename Kind>
    const Kind* last() const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (const auto* event = std::get_if<Kind>(&*it)) {
                return event;
            }
        }
        return nullptr;
    }

    template <typename Kind>
    int count() const
    {
        return test::countOf<Kind>(events);
    }

    std::vector<WebSocketEvent> events;
    std::vector<std::shared_ptr<WebSocket>> clients;
};

class WebSocketConnectionTest : public ::testing::Test {
protected:
    std::shared_ptr<WebSocket> open(const std::string& url, std::chrono::milliseconds timeout = 30s)
    {
        WebSocketRequest request;
        request.url = url;
        request.headers = {{"Authorization", "Bearer s3cret"}};
        request.timeout = timeout;
        auto socket = WebSocketConnection::make(request);
        socket->setDelegate(m_delegate);
        socket->connect();
        return socket;
    }

    static std::string address(const TestWebSocketServer& server, const std::string& scheme = "ws",
                               const std::string& host = "127.0.0.1")
    {
        return scheme + "://" + host + ":" + std::to_string(server.port()) + "/api/sync/ws";
    }

    template <typename Kind>
    bool waitFor(int count = 1, std::chrono::milliseconds timeout = 30s)
    {
        return m_loop.runUntil([&] { return m_delegate->count<Kind>() >= count; }, timeout);
    }

    // Both ends see the connection open: the client had its event, the server finished its
    // side of the handshake (only then may it send or close).
    bool connected(TestWebSocketServer& server, int count = 1)
    {
        return waitFor<WebSocketConnected>(count) && server.waitForHandshakes(count);
    }

    RunLoop m_loop;
    std::shared_ptr<RecordingDelegate> m_delegate = std::make_shared<RecordingDelegate>();
};

std::uint16_t unusedPort()
{
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();  // closed again on return: nothing listens there
}

TEST_F(WebSocketConnectionTest, OpensWithTheRequestAndExchangesText)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    const auto headers = server.requestHeaders();
    EXPECT_EQ(headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(headers.at("host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(headers.count("sec-websocket-extensions"), 0u);  // no compression offered
    EXPECT_EQ(server.requestTarget(), "/api/sync/ws");
    const auto* connected = m_delegate->last<WebSocketConnected>();
    bool hasUpgrade = false;
    for (const auto& [name, value] : connected->headers) {
        hasUpgrade = hasUpgrade || (name == "Upgrade" && value == "websocket");
    }
    EXPECT_TRUE(hasUpgrade);
    EXPECT_EQ(m_delegate->clients.back(), socket);

    server.sendText(R"({"type":"file_changed"})");
    ASSERT_TRUE(waitFor<WebSocketText>());
    EXPECT_EQ(m_delegate->last<WebSocketText>()->text, R"({"type":"file_changed"})");

    socket->write(R"({"type":"ping"})");
    socket->write("second");
    EXPECT_EQ(server.nextText(), R"({"type":"ping"})");
    EXPECT_EQ(server.nextText(), "second");
}

TEST_F(WebSocketConnectionTest, AnswersProtocolPingsWithPongs)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    server.sendPing("are you there");
    EXPECT_TRUE(server.waitForPong());
    ASSERT_TRUE(waitFor<WebSocketPing>());
    EXPECT_EQ(m_delegate->last<WebSocketPing>()->data, "are you there");
}

TEST_F(WebSocketConnectionTest, ServerCloseIsDisconnectedWithItsCodeAndReason)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    server.close(4001, "going away");
    ASSERT_TRUE(waitFor<WebSocketDisconnected>());
    EXPECT_EQ(m_delegate->last<WebSocketDisconnected>()->code, 4001);
    EXPECT_EQ(m_delegate->last<WebSocketDisconnected>()->reason, "going away");
    EXPECT_EQ(m_delegate->count<WebSocketError>(), 0);
}

TEST_F(WebSocketConnectionTest, DisconnectSendsTheCloseCode)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    socket->disconnect();
    EXPECT_EQ(server.waitForClientClose(), 1000);
    ASSERT_TRUE(waitFor<WebSocketDisconnected>());
    EXPECT_EQ(m_delegate->last<WebSocketDisconnected>()->code, 1000);
    socket->write("after close");  // dropped, no event
    EXPECT_FALSE(server.nextText(50ms).has_value());
}

TEST_F(WebSocketConnectionTest, ReleasedRightAfterDisconnectStillFinishesTheClose)
{
    TestWebSocketServer server;
    auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    socket->disconnect();
    m_delegate->clients.clear();  // so that `socket` is the last owner
    const auto start = std::chrono::steady_clock::now();
    socket.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(server.waitForClientClose(), 1000);
    ASSERT_TRUE(waitFor<WebSocketDisconnected>());
    EXPECT_EQ(m_delegate->clients.back(), nullptr);  // the socket is gone
}

TEST_F(WebSocketConnectionTest, DroppedConnectionIsPeerClosedThenError)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    server.drop();
    ASSERT_TRUE(waitFor<WebSocketError>());
    ASSERT_GE(m_delegate->events.size(), 3u);
    EXPECT_TRUE(std::holds_alternative<WebSocketPeerClosed>(
        m_delegate->events[m_delegate->events.size() - 2]));
}

TEST_F(WebSocketConnectionTest, SecondConnectOpensAgainWithTheSameRequest)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    server.drop();
    ASSERT_TRUE(waitFor<WebSocketError>());
    socket->connect();
    ASSERT_TRUE(connected(server, 2));
    EXPECT_EQ(server.requestHeaders().at("authorization"), "Bearer s3cret");
    server.sendText("again");
    ASSERT_TRUE(waitFor<WebSocketText>());
}

TEST_F(WebSocketConnectionTest, FailuresToConnectAreErrors)
{
    {
        SCOPED_TRACE("nothing listens");
        const auto socket = open("ws://127.0.0.1:" + std::to_string(unusedPort()) + "/api/sync/ws");
        ASSERT_TRUE(waitFor<WebSocketError>(1));
        EXPECT_EQ(m_delegate->count<WebSocketConnected>(), 0);
    }
    {
        SCOPED_TRACE("handshake refused");
        TestWebSocketServer server(TestWebSocketServer::Mode::refuse);
        const auto socket = open(address(server));
        ASSERT_TRUE(waitFor<WebSocketError>(2));
        EXPECT_NE(m_delegate->last<WebSocketError>()->message->find("401"), std::string::npos);
    }
    {
        SCOPED_TRACE("no answer within the request's timeout");
        TestWebSocketServer server(TestWebSocketServer::Mode::silent);
        const auto start = std::chrono::steady_clock::now();
        const auto socket = open(address(server), 150ms);
        ASSERT_TRUE(waitFor<WebSocketError>(3));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
        EXPECT_EQ(m_delegate->last<WebSocketError>()->message, "The request timed out.");
    }
    for (const std::string url : {"ftp://127.0.0.1/api/sync/ws", "/api/sync/ws", "ws:///api"}) {
        SCOPED_TRACE(url);
        const int before = m_delegate->count<WebSocketError>();
        const auto socket = open(url);
        ASSERT_TRUE(waitFor<WebSocketError>(before + 1));
    }
    EXPECT_EQ(m_delegate->count<WebSocketConnected>(), 0);
}

TEST_F(WebSocketConnectionTest, DisconnectWhileConnectingIsCancelled)
{
    TestWebSocketServer server(TestWebSocketServer::Mode::silent);
    const auto socket = open(address(server));
    m_loop.runUntil([] { return false; }, 50ms);
    socket->disconnect();
    ASSERT_TRUE(waitFor<WebSocketCancelled>());
    EXPECT_EQ(m_delegate->count<WebSocketError>(), 0);
}

TEST_F(WebSocketConnectionTest, HoldsItsDelegateWeakly)
{
    TestWebSocketServer server;
    const auto socket = open(address(server));
    ASSERT_TRUE(connected(server));
    std::weak_ptr<RecordingDelegate> weak = m_delegate;
    m_delegate.reset();
    EXPECT_TRUE(weak.expired());
    server.sendText("nobody listens");
    m_loop.runUntil([] { return false; }, 50ms);  // delivered to no one, without harm
    m_delegate = std::make_shared<RecordingDelegate>();
}

// --- TLS -------------------------------------------------------------------------------------

// Points OpenSSL's default trust store at one certificate file for the test's duration.
class TrustedCertificate {
public:
    explicit TrustedCertificate(const TestCertificate& certificate)
    {
        const auto file = m_dir.path() / "trusted.pem";
        std::ofstream(file) << certificate.certificatePem;
        const char* previous = std::getenv("SSL_CERT_FILE");
        m_previous = previous ? std::optional<std::string>(previous) : std::nullopt;
        setenv("SSL_CERT_FILE", file.c_str(), 1);
    }
    ~TrustedCertificate()
    {
        if (m_previous) {
            setenv("SSL_CERT_FILE", m_previous->c_str(), 1);
        } else {
            unsetenv("SSL_CERT_FILE");
        }
    }

private:
    test::TempDir m_dir;
    std::optional<std::string> m_previous;
};

TEST_F(WebSocketConnectionTest, TlsRefusesACertificateTheSystemDoesNotTrust)
{
    TestWebSocketServer server(TestWebSocketServer::Mode::webSocket,
                               TestCertificate::selfSigned("localhost"));
    const auto socket = open(address(server, "wss", "localhost"));
    ASSERT_TRUE(waitFor<WebSocketError>());
    EXPECT_EQ(m_delegate->count<WebSocketConnected>(), 0);
    EXPECT_FALSE(server.waitForHandshakes(1, 50ms));
}

TEST_F(WebSocketConnectionTest, TlsConnectsToATrustedCertificateForTheHostName)
{
    const auto certificate = TestCertificate::selfSigned("localhost");
    TrustedCertificate trusted(certificate);
    TestWebSocketServer server(TestWebSocketServer::Mode::webSocket, certificate);
    const auto socket = open(address(server, "wss", "localhost"));
    ASSERT_TRUE(connected(server)) << ::testing::PrintToString(m_delegate->events);
    EXPECT_EQ(server.serverName(), "localhost");
    EXPECT_EQ(server.requestHeaders().at("authorization"), "Bearer s3cret");
    socket->write("over tls");
    EXPECT_EQ(server.nextText(), "over tls");
    server.sendText("back");
    ASSERT_TRUE(waitFor<WebSocketText>());
    socket->disconnect();
    EXPECT_EQ(server.waitForClientClose(), 1000);
}

TEST_F(WebSocketConnectionTest, TlsRefusesATrustedCertificateForAnotherName)
{
    const auto certificate = TestCertificate::selfSigned("sync.example");
    TrustedCertificate trusted(certificate);
    TestWebSocketServer server(TestWebSocketServer::Mode::webSocket, certificate);
    const auto socket = open(address(server, "wss", "localhost"));
    ASSERT_TRUE(waitFor<WebSocketError>());
    EXPECT_EQ(m_delegate->count<WebSocketConnected>(), 0);
}

}  // namespace
}  // namespace corvane
