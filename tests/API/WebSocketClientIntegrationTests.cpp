#include "API/WebSocketClient.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/APIClient.h"
#include "API/APITestSupport.h"
#include "API/WebSocketConnection.h"
#include "Platform/Clock.h"
#include "Platform/MainQueue.h"
#include "WebSocketClientProbe.h"
#include "support/RawHttp.h"
#include "support/ServerProcess.h"
#include "support/UploadSupport.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Probe = WebSocketClientProbe;

// The real socket, with the events it delivers and the connects it is asked for on record, so
// that a test can see what the client dropped.
class ObservedSocket final : public WebSocket,
                             public WebSocketDelegate,
                             public std::enable_shared_from_this<ObservedSocket> {
public:
    static std::shared_ptr<ObservedSocket> wrap(const WebSocketRequest& request)
    {
        auto socket = std::make_shared<ObservedSocket>();
        socket->m_inner = WebSocketConnection::make(request);
        socket->m_inner->setDelegate(socket);
        return socket;
    }

    void setDelegate(std::weak_ptr<WebSocketDelegate> delegate) override
    {
        std::lock_guard lock(m_mutex);
        m_delegate = std::move(delegate);
    }
    void connect() override
    {
        ++m_connects;
        m_inner->connect();
    }
    void disconnect(std::uint16_t closeCode) override { m_inner->disconnect(closeCode); }
    void write(std::string text) override { m_inner->write(std::move(text)); }

    void didReceive(const WebSocketEvent& event, const std::shared_ptr<WebSocket>&) override
    {
        events.push_back(event);
        std::shared_ptr<WebSocketDelegate> delegate;
        {
            std::lock_guard lock(m_mutex);
            delegate = m_delegate.lock();
        }
        if (delegate) {
            delegate->didReceive(event, shared_from_this());
        }
    }

    int connects() const { return m_connects; }

    template <typename Kind>
    int count() const
    {
        return test::countOf<Kind>(events);
    }

    bool sawText(const std::string& text) const
    {
        for (const auto& event : events) {
            if (const auto* received = std::get_if<WebSocketText>(&event);
                received && received->text == text) {
                return true;
            }
        }
        return false;
    }

    std::vector<WebSocketEvent> events;  // main thread only

private:
    std::shared_ptr<WebSocket> m_inner;
    std::mutex m_mutex;
    std::weak_ptr<WebSocketDelegate> m_delegate;
    std::atomic<int> m_connects{0};
};

std::uint16_t freePort()
{
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

class WebSocketClientIntegrationTest : public ::testing::Test {
protected:
    WebSocketClientIntegrationTest()
        : m_server(test::ServerOptions{true, "relative", {}, freePort()})
    {
    }

    void SetUp() override
    {
        m_token = m_server.signIn("alice@example.com");
        const auto folder = test::httpRequest(
            "POST", m_server.baseURL() + "/api/folders", R"({"name":"Docs"})",
            {"Authorization: Bearer " + m_token, "Content-Type: application/json"});
        ASSERT_EQ(folder.status, 201) << folder.body;
        m_folderId = nlohmann::json::parse(folder.body)["id"];
        m_client = std::make_shared<WebSocketClient>(m_server.baseURL(), m_token, m_clock,
                                                     [this](const WebSocketRequest& request) {
                                                         m_socket = ObservedSocket::wrap(request);
                                                         return m_socket;
                                                     });
    }

    void TearDown() override
    {
        if (m_client) {
            m_client->disconnect();
        }
    }

    void connect()
    {
        m_client->connect(
            [this](const WSMessage& message) {
                EXPECT_TRUE(MainQueue::isMainThread());
                m_messages.push_back(message);
            },
            [this] { ++m_disconnects; });
    }

    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s)
    {
        return m_loop.runUntil(condition, timeout);
    }

    bool waitUntilConnected()
    {
        return waitUntil([&] { return Probe::isConnected(*m_client); });
    }

    void upload(const std::string& path, const std::string& content)
    {
        test::uploadFile(m_server.baseURL(), m_token, m_folderId, path, content);
    }

    RunLoop m_loop;
    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
    test::ServerProcess m_server;
    std::string m_token;
    std::string m_folderId;
    std::shared_ptr<ObservedSocket> m_socket;
    std::shared_ptr<WebSocketClient> m_client;
    std::vector<WSMessage> m_messages;
    int m_disconnects = 0;
};

TEST_F(WebSocketClientIntegrationTest, UploadArrivesAsFileChangedOnTheMainThread)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    APIClient api(m_server.baseURL());
    api.setToken(m_token);
    const std::string content = "quarterly numbers";
    const UploadInitResponse started =
        api.uploadInit({"/Sub/report.txt", m_folderId, test::sha256Hex(content),
                        static_cast<std::int64_t>(content.size()), 0});
    ASSERT_TRUE(started.uploadId.has_value());
    api.uploadChunk(*started.uploadId, content);
    ASSERT_TRUE(waitUntil([&] { return !m_messages.empty(); }));
    const auto& message = m_messages[0];
    EXPECT_EQ(message.type, "file_changed");
    ASSERT_TRUE(message.event.has_value());
    EXPECT_EQ(message.event->action, "create");
    EXPECT_EQ(message.event->path, "/Sub/report.txt");
    EXPECT_EQ(message.event->hash, test::sha256Hex("quarterly numbers"));
    EXPECT_EQ(message.event->version, 1);
    EXPECT_EQ(message.event->folderId, m_folderId);
    EXPECT_TRUE(message.event->userId.has_value());
    EXPECT_TRUE(message.event->timestamp.has_value());
}

TEST_F(WebSocketClientIntegrationTest, PingEveryTwentyFiveSecondsAndTheServersPongIsDropped)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    m_clock->advance(25s);
    ASSERT_TRUE(waitUntil([&] { return m_socket->sawText(R"({"type":"pong"})"); }));
    EXPECT_TRUE(m_messages.empty());
    upload("/after-pong.txt", "x");
    ASSERT_TRUE(waitUntil([&] { return !m_messages.empty(); }));
    EXPECT_EQ(m_messages[0].type, "file_changed");
}

TEST_F(WebSocketClientIntegrationTest, ServerRestartIsFollowedByAReconnect)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    m_server.restart();  // same port, same data
    ASSERT_TRUE(waitUntil([&] { return Probe::reconnectAttempt(*m_client) == 1; }));
    EXPECT_FALSE(Probe::isConnected(*m_client));
    EXPECT_EQ(m_socket->connects(), 1);
    m_clock->advance(1s);
    ASSERT_TRUE(waitUntilConnected());
    EXPECT_EQ(m_socket->connects(), 2);
    EXPECT_EQ(Probe::reconnectAttempt(*m_client), 0);
    upload("/after-restart.txt", "still here");
    ASSERT_TRUE(waitUntil([&] { return !m_messages.empty(); }));
    EXPECT_EQ(m_messages.back().event->path, "/after-restart.txt");
}

TEST_F(WebSocketClientIntegrationTest, RefusedHandshakesBackOffUntilTheServerAccepts)
{
    m_server.injectFault({{"path_prefix", "/api/sync/ws"}, {"status", 503}, {"count", 3}});
    connect();
    // Refusal n is followed by a reconnect 2^(n-1) seconds later.
    const std::vector<Clock::Duration> delays = {1s, 2s, 4s};
    for (std::size_t refusal = 1; refusal <= delays.size(); ++refusal) {
        ASSERT_TRUE(waitUntil([&] { return m_socket->count<WebSocketError>() == int(refusal); }));
        ASSERT_EQ(Probe::reconnectAttempt(*m_client), int(refusal));
        m_clock->advance(delays[refusal - 1] - 1ms);
        m_loop.runUntil([] { return false; }, 20ms);
        EXPECT_EQ(m_socket->connects(), int(refusal));  // not yet
        m_clock->advance(1ms);
        ASSERT_TRUE(waitUntil([&] { return m_socket->connects() == int(refusal) + 1; }));
    }
    ASSERT_TRUE(waitUntilConnected());
    EXPECT_EQ(Probe::reconnectAttempt(*m_client), 0);
    EXPECT_EQ(m_disconnects, 0);  // refusals are errors, not disconnections
}

TEST_F(WebSocketClientIntegrationTest, DroppedSocketReconnectsAfterASecond)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    ASSERT_EQ(test::httpRequest("POST", m_server.baseURL() + "/__test/ws/drop", "{}").status, 200);
    ASSERT_TRUE(waitUntil([&] { return Probe::reconnectAttempt(*m_client) == 1; }));
    m_clock->advance(1s);
    ASSERT_TRUE(waitUntilConnected());
    upload("/after-drop.txt", "again");
    ASSERT_TRUE(waitUntil([&] { return !m_messages.empty(); }));
}

TEST_F(WebSocketClientIntegrationTest, GarbagePushesAreDroppedAndTheConnectionStays)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    const std::vector<nlohmann::json> garbage = {
        {{"kind", "not_json"}},
        {{"kind", "wrong_types"}},
        {{"kind", "huge"}, {"size", 4 * 1024 * 1024}},
        {{"text", R"({"type":"file_changed","event":{"action":"create","path":"/x"}})"}},
        {{"text", R"({"type":"file_changed","event":"create"})"}},
        {{"text", R"({"type":7})"}},
        {{"text", "[]"}},
        {{"text", ""}},
        // Once a foreign exception that escaped the client on the main thread.
        {{"text", R"({"type":"file_changed","size":1e400})"}},
        {{"text", std::string(10'000, '[')}},
    };
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        SCOPED_TRACE(garbage[i].dump().substr(0, 80));
        // The garbage goes out ahead of the announcement of the upload that triggers it.
        m_server.injectFault({{"path_prefix", "/api/sync/upload/chunk"}, {"push", garbage[i]}});
        const std::string path = "/after-garbage-" + std::to_string(i) + ".txt";
        upload(path, "content " + std::to_string(i));
        ASSERT_TRUE(waitUntil([&] { return m_messages.size() == i + 1; }));
        ASSERT_TRUE(m_messages.back().event.has_value());
        EXPECT_EQ(m_messages.back().event->path, path);
    }
    // Every garbage text reached the client and was dropped there, on one connection.
    EXPECT_EQ(m_socket->count<WebSocketText>(), int(2 * garbage.size()));
    EXPECT_EQ(m_socket->connects(), 1);
    EXPECT_TRUE(Probe::isConnected(*m_client));
    EXPECT_EQ(Probe::reconnectAttempt(*m_client), 0);
    EXPECT_EQ(m_disconnects, 0);
}

TEST_F(WebSocketClientIntegrationTest, FileChangedWithoutEventIsHandedOnForTheOwnerToIgnore)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    m_server.injectFault(
        {{"path_prefix", "/api/sync/upload/chunk"}, {"push", {{"kind", "no_event"}}}});
    upload("/real.txt", "real");
    ASSERT_TRUE(waitUntil([&] { return m_messages.size() == 2; }));
    EXPECT_EQ(m_messages[0].type, "file_changed");
    EXPECT_FALSE(m_messages[0].event.has_value());
    EXPECT_EQ(m_messages[1].event->path, "/real.txt");
}

TEST_F(WebSocketClientIntegrationTest, PushOverTheSizeLimitCostsOneReconnect)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    const auto size = WebSocketConnection::kMaxMessageBytes + 1;
    m_server.injectFault(
        {{"path_prefix", "/api/folders"}, {"push", {{"kind", "huge"}, {"size", size}}}});
    ASSERT_EQ(test::httpRequest("GET", m_server.baseURL() + "/api/folders", {},
                                {"Authorization: Bearer " + m_token})
                  .status,
              200);
    ASSERT_TRUE(waitUntil([&] { return Probe::reconnectAttempt(*m_client) == 1; }));
    EXPECT_EQ(m_socket->count<WebSocketError>(), 1);
    EXPECT_EQ(m_socket->count<WebSocketText>(), 0);
    m_clock->advance(1s);
    ASSERT_TRUE(waitUntilConnected());
    upload("/after-huge.txt", "small again");
    ASSERT_TRUE(waitUntil([&] { return !m_messages.empty(); }));
    EXPECT_EQ(m_messages.back().event->path, "/after-huge.txt");
}

TEST_F(WebSocketClientIntegrationTest, DisconnectClosesNormally)
{
    connect();
    ASSERT_TRUE(waitUntilConnected());
    m_client->disconnect();
    EXPECT_FALSE(Probe::hasSocket(*m_client));
    ASSERT_TRUE(waitUntil([&] { return m_socket->count<WebSocketDisconnected>() == 1; }));
    const auto* disconnected = std::get_if<WebSocketDisconnected>(&m_socket->events.back());
    ASSERT_NE(disconnected, nullptr);
    EXPECT_EQ(disconnected->code, 1000);
    EXPECT_EQ(m_disconnects, 1);  // the late event still reaches the callback
}

}  // namespace
}  // namespace corvane
