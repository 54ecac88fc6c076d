#include "API/WebSocketClient.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API/APIError.h"
#include "Platform/Clock.h"
#include "Platform/MainQueue.h"
#include "WebSocketClientProbe.h"
#include "support/PollUntil.h"

namespace corvane {

namespace {

using namespace std::chrono_literals;
using Probe = WebSocketClientProbe;

// Records what the client asks of its socket. Called on the client's queue.
class FakeSocket final : public WebSocket {
public:
    explicit FakeSocket(WebSocketRequest request) : m_request(std::move(request)) {}

    void setDelegate(std::weak_ptr<WebSocketDelegate> delegate) override
    {
        std::lock_guard lock(m_mutex);
        m_delegate = std::move(delegate);
    }
    void connect() override
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_mutex);
            ++m_connects;
            hook = m_onConnect;
        }
        if (hook) {
            hook();
        }
    }
    void disconnect(std::uint16_t closeCode) override
    {
        std::lock_guard lock(m_mutex);
        m_closeCodes.push_back(closeCode);
    }
    void write(std::string text) override
    {
        std::lock_guard lock(m_mutex);
        m_writes.push_back(std::move(text));
    }

    const WebSocketRequest& request() const { return m_request; }
    int connects() const
    {
        std::lock_guard lock(m_mutex);
        return m_connects;
    }
    std::vector<std::uint16_t> closeCodes() const
    {
        std::lock_guard lock(m_mutex);
        return m_closeCodes;
    }
    std::vector<std::string> writes() const
    {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }
    std::shared_ptr<WebSocketDelegate> delegate() const
    {
        std::lock_guard lock(m_mutex);
        return m_delegate.lock();
    }
    void onConnect(std::function<void()> hook)
    {
        std::lock_guard lock(m_mutex);
        m_onConnect = std::move(hook);
    }

private:
    const WebSocketRequest m_request;
    mutable std::mutex m_mutex;
    std::weak_ptr<WebSocketDelegate> m_delegate;
    int m_connects = 0;
    std::vector<std::uint16_t> m_closeCodes;
    std::vector<std::string> m_writes;
    std::function<void()> m_onConnect;
};

class FakeSockets {
public:
    WebSocketFactory factory()
    {
        return [this](const WebSocketRequest& request) {
            auto socket = std::make_shared<FakeSocket>(request);
            std::lock_guard lock(m_mutex);
            m_made.push_back(socket);
            return socket;
        };
    }
    std::vector<std::shared_ptr<FakeSocket>> made() const
    {
        std::lock_guard lock(m_mutex);
        return m_made;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<FakeSocket>> m_made;
};

class WebSocketClientTest : public ::testing::Test {
protected:
    std::shared_ptr<WebSocketClient>
    makeClient(const std::string& serverURL = "http://127.0.0.1:8080",
               const std::string& token = "t0k3n")
    {
        return std::make_shared<WebSocketClient>(serverURL, token, m_clock, m_sockets.factory());
    }

    // A client that has opened its (fake) socket.
    std::shared_ptr<WebSocketClient> connectedClient(bool sendConnected = true)
    {
        auto client = makeClient();
        connect(*client);
        if (sendConnected) {
            deliver(*client, WebSocketConnected{});
        }
        return client;
    }

    void connect(WebSocketClient& client)
    {
        client.connect(
            [this](const WSMessage& message) {
                EXPECT_TRUE(MainQueue::isMainThread());
                m_messages.push_back(message);
            },
            [this] {
                EXPECT_TRUE(MainQueue::isMainThread());
                ++m_disconnects;
            });
    }

    void deliver(WebSocketClient& client, const WebSocketEvent& event)
    {
        client.didReceive(event, socket());
    }

    void advance(WebSocketClient& client, Clock::Duration by)
    {
        m_clock->advance(by);
        Probe::drain(client);
    }

    std::shared_ptr<FakeSocket> socket() const
    {
        const auto made = m_sockets.made();
        return made.empty() ? nullptr : made.back();
    }

    RunLoop m_loop;  // the test's thread is the main thread
    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
    FakeSockets m_sockets;
    std::vector<WSMessage> m_messages;
    int m_disconnects = 0;
};

// --- channel address -------------------------------------------------------------------------

struct AddressCase {
    std::string serverURL;
    std::optional<std::string> channelURL;  // none: not a valid URL, no socket
};

std::ostream& operator<<(std::ostream& out, const AddressCase& c)
{
    return out << '"' << c.serverURL << '"';
}

class WebSocketAddressTest : public WebSocketClientTest,
                             public ::testing::WithParamInterface<AddressCase> {};

TEST_P(WebSocketAddressTest, DerivesTheChannelAddress)
{
    const auto& param = GetParam();
    auto client = makeClient(param.serverURL, "abc.DEF-123");
    connect(*client);
    const auto made = m_sockets.made();
    if (!param.channelURL) {
        EXPECT_TRUE(made.empty());
        EXPECT_FALSE(Probe::hasSocket(*client));
        // The callbacks stay stored even without a socket.
        deliver(*client, WebSocketText{R"({"type":"hello"})"});
        EXPECT_EQ(m_messages.size(), 1u);
        return;
    }
    ASSERT_EQ(made.size(), 1u);
    const auto& request = made[0]->request();
    EXPECT_EQ(request.url, *param.channelURL);
    ASSERT_EQ(request.headers.size(), 1u);
    EXPECT_EQ(request.headers[0].first, "Authorization");
    EXPECT_EQ(request.headers[0].second, "Bearer abc.DEF-123");
    EXPECT_EQ(request.timeout, 30s);
    EXPECT_EQ(made[0]->connects(), 1);
    EXPECT_EQ(made[0]->delegate(), client);
    EXPECT_FALSE(Probe::isConnected(*client));  // only a connected event sets it
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, WebSocketAddressTest,
    ::testing::Values(AddressCase{"https://sync.example.com", "wss://sync.example.com/api/sync/ws"},
                      AddressCase{"http://127.0.0.1:8080", "ws://127.0.0.1:8080/api/sync/ws"},
                      AddressCase{"https://host.example:8443/corvane/v1",
                                  "wss://host.example:8443/corvane/v1/api/sync/ws"},
                      AddressCase{"HTTP://Host.Example:8080",
                                  "HTTP://Host.Example:8080/api/sync/ws"},
                      AddressCase{"HTTPS://host.example", "HTTPS://host.example/api/sync/ws"},
                      AddressCase{"http://host.example/", "ws://host.example//api/sync/ws"},
                      AddressCase{"https://host.example/?next=http://other.example",
                                  "wss://host.example/?next=ws://other.example/api/sync/ws"},
                      AddressCase{"http://host.example/?next=https://other.example",
                                  "ws://host.example/?next=wss://other.example/api/sync/ws"},
                      AddressCase{"ws://already.example", "ws://already.example/api/sync/ws"},
                      AddressCase{"http://bad host.example", std::nullopt},
                      AddressCase{"http://host.example/%zz", std::nullopt},
                      AddressCase{"http://h\xC3\xA9te.example", std::nullopt},
                      AddressCase{"1http://host.example", std::nullopt}));

TEST_F(WebSocketClientTest, ATokenThatCouldEndItsHeaderIsRefusedBeforeAnySocket)
{
    const std::vector<std::string> tokens = {"abc\r\nX-Injected: 1", "abc\n", "a\rb", "a\tb",
                                             std::string("a\0b", 3), "a\x7f"};
    for (const std::string& token : tokens) {
        SCOPED_TRACE(::testing::PrintToString(token));
        try {
            makeClient("http://127.0.0.1:8080", token);
            ADD_FAILURE() << "no error";
        } catch (const APIError& error) {
            EXPECT_EQ(error.kind(), APIError::Kind::unauthorized);
        }
    }
    EXPECT_TRUE(m_sockets.made().empty());
}

// --- events ----------------------------------------------------------------------------------

TEST_F(WebSocketClientTest, QueueHasTheChannelsLabel)
{
    auto client = makeClient();
    EXPECT_EQ(Probe::queueLabel(*client), "com.corvane.websocket");
}

TEST_F(WebSocketClientTest, ConnectedThenDisconnectedSchedulesTheFirstReconnectAfterOneSecond)
{
    auto client = connectedClient();
    EXPECT_TRUE(Probe::isConnected(*client));
    EXPECT_TRUE(Probe::hasPingTimer(*client));
    deliver(*client, WebSocketDisconnected{"bye", 1001});
    EXPECT_EQ(m_disconnects, 1);
    EXPECT_FALSE(Probe::isConnected(*client));
    EXPECT_FALSE(Probe::hasPingTimer(*client));
    EXPECT_EQ(Probe::reconnectAttempt(*client), 1);
    advance(*client, 999ms);
    EXPECT_EQ(socket()->connects(), 1);
    advance(*client, 1ms);
    EXPECT_EQ(socket()->connects(), 2);  // the same socket, with its request
    EXPECT_EQ(m_sockets.made().size(), 1u);
}

TEST_F(WebSocketClientTest, BackOffDoublesUpToThirtySecondsAndGivesUpAfterFifty)
{
    auto client = connectedClient();
    std::vector<Clock::Duration> delays;
    for (int attempt = 0; attempt < 50; ++attempt) {
        deliver(*client, WebSocketError{"refused"});
        const int before = socket()->connects();
        Clock::Duration waited{};
        while (socket()->connects() == before && waited < 1h) {
            advance(*client, 250ms);
            waited += 250ms;
        }
        delays.push_back(waited);
    }
    std::vector<Clock::Duration> expected = {1s, 2s, 4s, 8s, 16s};
    expected.resize(50, 30s);
    EXPECT_EQ(delays, expected);
    EXPECT_EQ(Probe::reconnectAttempt(*client), 50);

    // The 50th reconnect failed too: nothing more is scheduled.
    deliver(*client, WebSocketError{"refused"});
    const int connects = socket()->connects();
    advance(*client, 1h);
    EXPECT_EQ(socket()->connects(), connects);
    EXPECT_EQ(Probe::reconnectAttempt(*client), 50);

    // A connected event starts the sequence over.
    deliver(*client, WebSocketConnected{});
    EXPECT_EQ(Probe::reconnectAttempt(*client), 0);
    deliver(*client, WebSocketError{std::nullopt});
    advance(*client, 1s);
    EXPECT_EQ(socket()->connects(), connects + 1);
}

TEST_F(WebSocketClientTest, AConnectedEventResetsTheNextDelayMidSequence)
{
    auto client = connectedClient();
    for (int i = 0; i < 3; ++i) {
        deliver(*client, WebSocketError{"refused"});
    }
    EXPECT_EQ(Probe::reconnectAttempt(*client), 3);
    deliver(*client, WebSocketConnected{});
    advance(*client, 1h);  // the three pending reconnects find the client connected
    EXPECT_EQ(socket()->connects(), 1);
    deliver(*client, WebSocketError{"refused"});
    advance(*client, 1s);
    EXPECT_EQ(socket()->connects(), 2);
}

TEST_F(WebSocketClientTest, ErrorSchedulesAReconnectWithoutTheDisconnectCallback)
{
    auto client = connectedClient();
    deliver(*client, WebSocketError{"connection reset"});
    EXPECT_EQ(m_disconnects, 0);
    EXPECT_FALSE(Probe::isConnected(*client));
    EXPECT_FALSE(Probe::hasPingTimer(*client));
    EXPECT_EQ(Probe::reconnectAttempt(*client), 1);
    advance(*client, 1s);
    EXPECT_EQ(socket()->connects(), 2);
}

TEST_F(WebSocketClientTest, CancelledStopsWithoutReconnectOrCallback)
{
    auto client = connectedClient();
    deliver(*client, WebSocketCancelled{});
    EXPECT_FALSE(Probe::isConnected(*client));
    EXPECT_FALSE(Probe::hasPingTimer(*client));
    EXPECT_EQ(Probe::reconnectAttempt(*client), 0);
    advance(*client, 1h);
    EXPECT_EQ(socket()->connects(), 1);
    EXPECT_EQ(m_disconnects, 0);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(socket()->writes().empty());
}

TEST_F(WebSocketClientTest, OtherEventsChangeNothing)
{
    const std::vector<WebSocketEvent> inert = {WebSocketBinary{"\x01\x02"}, WebSocketPing{"p"},
                                               WebSocketPong{"p"}, WebSocketPeerClosed{}};
    for (const auto& event : inert) {
        SCOPED_TRACE(::testing::PrintToString(event));
        m_messages.clear();
        m_disconnects = 0;
        auto client = connectedClient();
        deliver(*client, event);
        EXPECT_TRUE(Probe::isConnected(*client));
        EXPECT_TRUE(Probe::hasPingTimer(*client));
        EXPECT_EQ(Probe::reconnectAttempt(*client), 0);
        advance(*client, 25s);
        EXPECT_EQ(socket()->writes().size(), 1u);  // the pings go on
        EXPECT_EQ(socket()->connects(), 1);
        EXPECT_TRUE(m_messages.empty());
        EXPECT_EQ(m_disconnects, 0);
        client->disconnect();
    }
}

// --- pings -----------------------------------------------------------------------------------

TEST_F(WebSocketClientTest, PingsEveryTwentyFiveSecondsOnlyWhileConnected)
{
    auto client = connectedClient();
    advance(*client, 24'999ms);
    EXPECT_TRUE(socket()->writes().empty());
    advance(*client, 1ms);
    ASSERT_EQ(socket()->writes().size(), 1u);
    EXPECT_EQ(socket()->writes()[0], R"({"type":"ping"})");
    EXPECT_EQ(socket()->writes()[0].size(), 15u);
    advance(*client, 25s);
    EXPECT_EQ(socket()->writes().size(), 2u);

    deliver(*client, WebSocketError{"gone"});
    advance(*client, 200s);  // reconnects happen, but no connected event: no pings
    EXPECT_EQ(socket()->writes().size(), 2u);
}

TEST_F(WebSocketClientTest, ASecondConnectedEventRestartsThePingCount)
{
    auto client = connectedClient();
    advance(*client, 20s);
    deliver(*client, WebSocketConnected{});
    advance(*client, 5s);  // 25 s after the first connected event
    EXPECT_TRUE(socket()->writes().empty());
    advance(*client, 20s);  // 25 s after the second
    EXPECT_EQ(socket()->writes().size(), 1u);
}

TEST_F(WebSocketClientTest, NoPingWithoutAConnectedEvent)
{
    auto client = connectedClient(false);
    advance(*client, 100s);
    EXPECT_TRUE(socket()->writes().empty());
}

// --- reconnects that find nothing to do ------------------------------------------------------

TEST_F(WebSocketClientTest, ReconnectThatFiresWhileConnectedDoesNothing)
{
    auto client = connectedClient();
    deliver(*client, WebSocketDisconnected{"", 1006});
    deliver(*client, WebSocketConnected{});
    advance(*client, 1s);
    EXPECT_EQ(socket()->connects(), 1);
}

TEST_F(WebSocketClientTest, ReconnectThatFiresAfterDisconnectFindsNoSocket)
{
    auto client = connectedClient();
    deliver(*client, WebSocketError{"gone"});
    client->disconnect();
    advance(*client, 1h);
    EXPECT_EQ(socket()->connects(), 1);
}

TEST_F(WebSocketClientTest, ReconnectThatFiresAfterReleaseDoesNothing)
{
    auto client = connectedClient();
    deliver(*client, WebSocketError{"gone"});
    const auto fake = socket();
    std::weak_ptr<WebSocketClient> weak = client;
    client.reset();
    EXPECT_TRUE(weak.expired());
    m_clock->advance(1h);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fake->connects(), 1);
    EXPECT_EQ(fake->delegate(), nullptr);
}

TEST_F(WebSocketClientTest, ReleasedWhileItsOwnReconnectRuns)
{
    // The reconnect block holds the client for its run; when the owner lets go meanwhile, the
    // client is destroyed on its own queue. That must neither hang nor crash.
    auto client = connectedClient();
    const auto fake = socket();
    std::promise<void> entered;
    std::promise<void> released;
    auto releasedFuture = released.get_future().share();
    fake->onConnect([&, releasedFuture] {
        entered.set_value();
        releasedFuture.wait();
    });
    deliver(*client, WebSocketError{"gone"});
    std::weak_ptr<WebSocketClient> weak = client;
    m_clock->advance(1s);
    entered.get_future().wait();
    client.reset();
    released.set_value();
    EXPECT_TRUE(test::pollUntil([&] { return weak.expired(); }, 10s));
    fake->onConnect({});
}

// --- disconnect() ----------------------------------------------------------------------------

TEST_F(WebSocketClientTest, DisconnectKeepsTheCountAndTheCallbacks)
{
    auto client = connectedClient();
    for (int i = 0; i < 3; ++i) {
        deliver(*client, WebSocketError{"refused"});
    }
    const auto fake = socket();
    client->disconnect();
    EXPECT_EQ(fake->closeCodes(), std::vector<std::uint16_t>{1000});
    EXPECT_FALSE(Probe::hasSocket(*client));
    EXPECT_FALSE(Probe::isConnected(*client));
    EXPECT_FALSE(Probe::hasPingTimer(*client));
    EXPECT_EQ(Probe::reconnectAttempt(*client), 3);

    // Late events of the closed socket are handled as usual, with the stored callbacks.
    deliver(*client, WebSocketText{R"({"type":"file_changed"})"});
    EXPECT_EQ(m_messages.size(), 1u);
    deliver(*client, WebSocketDisconnected{"", 1000});
    EXPECT_EQ(m_disconnects, 1);
    EXPECT_EQ(Probe::reconnectAttempt(*client), 4);
    advance(*client, 1h);
    EXPECT_EQ(fake->connects(), 1);
}

TEST_F(WebSocketClientTest, CallbacksMayDisconnect)
{
    auto client = makeClient();
    client->connect([&](const WSMessage&) { client->disconnect(); }, [&] { client->disconnect(); });
    deliver(*client, WebSocketConnected{});
    deliver(*client, WebSocketText{R"({"type":"file_changed"})"});
    EXPECT_FALSE(Probe::hasSocket(*client));
    deliver(*client, WebSocketDisconnected{"", 1000});
    EXPECT_FALSE(Probe::hasSocket(*client));
}

TEST_F(WebSocketClientTest, ASecondConnectReplacesTheSocket)
{
    auto client = connectedClient();
    const auto first = socket();
    connect(*client);
    ASSERT_EQ(m_sockets.made().size(), 2u);
    EXPECT_EQ(first->closeCodes(), std::vector<std::uint16_t>{1000});
    EXPECT_EQ(first->delegate(), nullptr);
    EXPECT_EQ(socket()->connects(), 1);
}

// --- text messages ---------------------------------------------------------------------------

struct TextCase {
    std::string text;
    bool passedOn;
};

std::ostream& operator<<(std::ostream& out, const TextCase& c)
{
    return out << c.text;
}

class WebSocketTextTest : public WebSocketClientTest,
                          public ::testing::WithParamInterface<TextCase> {};

TEST_P(WebSocketTextTest, PassesOnEveryDecodedMessageButPong)
{
    auto client = connectedClient();
    deliver(*client, WebSocketText{GetParam().text});
    EXPECT_EQ(m_messages.size(), GetParam().passedOn ? 1u : 0u);
    EXPECT_TRUE(Probe::isConnected(*client));  // the connection stays up either way
    EXPECT_EQ(m_disconnects, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, WebSocketTextTest,
    ::testing::Values(TextCase{R"({"type":"pong"})", false}, TextCase{R"({"type":"ping"})", true},
                      TextCase{R"({"type":"hello","extra":[1,2]})", true},
                      TextCase{R"({"type":"file_changed"})", true},
                      TextCase{R"({"type":"file_changed","event":null})", true},
                      TextCase{R"({"type":"Pong"})", true}, TextCase{"not json", false},
                      TextCase{"", false}, TextCase{R"(["type","ping"])", false},
                      TextCase{R"({"kind":"ping"})", false}, TextCase{R"({"type":7})", false},
                      TextCase{R"({"type":"file_changed","event":{"action":"create"}})", false},
                      TextCase{R"({"type":"file_changed","event":{"id":"e","action":"update",)"
                               R"("version":"3"}})",
                               false}));

TEST_F(WebSocketClientTest, HandsOverTheFileChangedEventInArrivalOrder)
{
    auto client = connectedClient();
    deliver(*client, WebSocketText{R"({"type":"file_changed","event":{"id":"e1","action":"create",)"
                                   R"("path":"/a.txt","hash":"ab","version":3,"user_id":"u",)"
                                   R"("folder_id":"f","timestamp":"2024-01-01T00:00:00Z"}})"});
    deliver(*client,
            WebSocketText{R"({"type":"file_changed","event":{"id":"e2","action":"delete"}})"});
    ASSERT_EQ(m_messages.size(), 2u);
    ASSERT_TRUE(m_messages[0].event.has_value());
    const auto& event = *m_messages[0].event;
    EXPECT_EQ(event.id, "e1");
    EXPECT_EQ(event.action, "create");
    EXPECT_EQ(event.path, "/a.txt");
    EXPECT_EQ(event.hash, "ab");
    EXPECT_EQ(event.version, 3);
    EXPECT_EQ(event.userId, "u");
    EXPECT_EQ(event.folderId, "f");
    EXPECT_EQ(event.timestamp, "2024-01-01T00:00:00Z");
    ASSERT_TRUE(m_messages[1].event.has_value());
    EXPECT_EQ(m_messages[1].event->id, "e2");
    EXPECT_FALSE(m_messages[1].event->path.has_value());
}

// --- threads ---------------------------------------------------------------------------------

TEST_F(WebSocketClientTest, EventsTimersAndDisconnectInterleaveSafely)
{
    // The clock runs on another thread while the main thread feeds events: timer handlers and
    // reconnect blocks on the queue interleave with the event handler's submissions.
    auto client = connectedClient();
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            m_clock->advance(5s);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 300; ++i) {
        switch (i % 4) {
        case 0:
            deliver(*client, WebSocketConnected{});
            break;
        case 1:
            deliver(*client, WebSocketText{R"({"type":"file_changed"})"});
            break;
        case 2:
            deliver(*client, WebSocketError{"flaky"});
            break;
        default:
            deliver(*client, WebSocketDisconnected{"", 1001});
            break;
        }
    }
    client->disconnect();
    stop = true;
    ticker.join();
    EXPECT_EQ(m_messages.size(), 75u);
    EXPECT_EQ(m_disconnects, 75);
    EXPECT_FALSE(Probe::hasSocket(*client));
}

}  // namespace
}  // namespace corvane
