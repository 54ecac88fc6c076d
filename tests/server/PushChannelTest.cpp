#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "PushSocket.h"
#include "RawConnection.h"
#include "ServerTestSupport.h"
#include "support/UploadSupport.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

class ServerPushChannel : public ServerTest {
protected:
    explicit ServerPushChannel(ServerOptions options = {}) : ServerTest(std::move(options)) {}

    PushSocket open(const std::optional<std::string>& token, bool reading = true) const
    {
        return PushSocket(m_server.port(), PushSocket::Options{token, reading});
    }

    nlohmann::json upload(const std::string& folderId, const std::string& path,
                          const std::string& content, long long baseVersion = 0) const
    {
        return uploadFile(m_server.baseURL(), m_token, folderId, path, content, baseVersion);
    }

    // The next message of `socket`, parsed; a null value when none came.
    static nlohmann::json nextMessage(PushSocket& socket, std::chrono::milliseconds timeout = 30s)
    {
        const auto text = socket.next(timeout);
        return text ? nlohmann::json::parse(*text) : nlohmann::json();
    }
};

TEST_F(ServerPushChannel, HandshakeNeedsAValidBearerToken)
{
    EXPECT_EQ(open(std::nullopt).handshakeStatus(), 401);
    EXPECT_EQ(open("not-a-token").handshakeStatus(), 401);
    EXPECT_EQ(open(m_token).handshakeStatus(), 101);
}

TEST_F(ServerPushChannel, EveryChangeReachesEverySocketOfTheAccountOnly)
{
    const auto bob = m_server.signIn("bob@example.com");
    auto first = open(m_token);
    auto second = open(m_token);
    auto other = open(bob);
    ASSERT_EQ(first.handshakeStatus(), 101);
    ASSERT_EQ(second.handshakeStatus(), 101);
    ASSERT_EQ(other.handshakeStatus(), 101);

    const auto docs = createFolder("Docs");
    const std::string folderId = docs["id"];
    const auto file = upload(folderId, "/Sub/a.txt", "one");
    for (auto* socket : {&first, &second}) {
        const auto message = nextMessage(*socket);
        ASSERT_EQ(message["type"], "file_changed") << message;
        const auto& event = message["event"];
        EXPECT_TRUE(event["id"].is_string());
        EXPECT_EQ(event["action"], "create");
        EXPECT_EQ(event["path"], "/Sub/a.txt");  // relative to its folder
        EXPECT_EQ(event["hash"], sha256Hex("one"));
        EXPECT_EQ(event["version"], 1);
        EXPECT_EQ(event["folder_id"], folderId);
        EXPECT_EQ(event["user_id"], file["owner_id"]);
        EXPECT_TRUE(event["timestamp"].is_string());
    }

    upload(folderId, "/Sub/a.txt", "two", 1);
    const auto update = nextMessage(first);
    EXPECT_EQ(update["event"]["action"], "update");
    EXPECT_EQ(update["event"]["version"], 2);
    EXPECT_EQ(update["event"]["hash"], sha256Hex("two"));

    // Content the server already holds: announced without any bytes sent.
    upload(folderId, "/copy.txt", "two");
    const auto copy = nextMessage(first);
    EXPECT_EQ(copy["event"]["action"], "create");
    EXPECT_EQ(copy["event"]["path"], "/copy.txt");

    const auto deleted =
        post("/api/sync/delete", {{"path", "/Sub/a.txt"}, {"folder_id", folderId}});
    ASSERT_EQ(deleted.status, 200) << deleted.body;
    const auto removal = nextMessage(first);
    EXPECT_EQ(removal["event"]["action"], "delete");
    EXPECT_EQ(removal["event"]["path"], "/Sub/a.txt");
    for (const auto& [key, value] : removal["event"].items()) {
        EXPECT_FALSE(value.is_null()) << key;  // absent fields are left out, never null
    }

    const auto root = createFolder("__root__");
    upload(root["id"], "/top.txt", "top");
    EXPECT_EQ(nextMessage(first)["event"]["path"], "/top.txt");

    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(nextMessage(second).is_null());
    }
    EXPECT_EQ(other.next(100ms), std::nullopt);  // bob's socket heard nothing of alice's files
}

TEST_F(ServerPushChannel, PingIsAnsweredWithPong)
{
    auto socket = open(m_token);
    ASSERT_EQ(socket.handshakeStatus(), 101);
    socket.send("not json at all");
    socket.send(R"({"type":"hello"})");
    socket.send(R"({"type":"ping"})");
    EXPECT_EQ(socket.next(), R"({"type":"pong"})");
    EXPECT_EQ(socket.next(50ms), std::nullopt);
}

TEST_F(ServerPushChannel, AStalledSocketDoesNotHoldUpTheOthers)
{
    auto stalled = open(m_token, false);
    auto live = open(m_token);
    ASSERT_EQ(stalled.handshakeStatus(), 101);
    ASSERT_EQ(live.handshakeStatus(), 101);
    const std::string folderId = createFolder("Docs")["id"];
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = "/" + std::string(100, 'n') + std::to_string(i) + ".txt";
        upload(folderId, path, "content " + std::to_string(i));
        const auto message = nextMessage(live);
        ASSERT_EQ(message["event"]["path"], path) << i;
    }
}

// A server whose push sockets time out quickly.
class ServerPushIdleTimeout : public ServerPushChannel {
protected:
    static constexpr std::chrono::milliseconds kTimeout{300};

    ServerPushIdleTimeout() : ServerPushChannel(ServerOptions{.timeout = kTimeout}) {}
};

TEST_F(ServerPushIdleTimeout, ASocketThatNeverAnswersIsClosedAndALiveOneStays)
{
    auto live = open(m_token);
    ASSERT_EQ(live.handshakeStatus(), 101);

    // A bare upgrade that never reads a frame, so it never answers the server's pings.
    RawConnection dead(m_server.port());
    dead.send("GET /api/sync/ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
              "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\nAuthorization: Bearer " +
              m_token + "\r\n\r\n");
    const std::string handshake = dead.readUntil("\r\n\r\n");
    ASSERT_TRUE(handshake.starts_with("HTTP/1.1 101")) << handshake;
    const std::size_t headerEnd = handshake.find("\r\n\r\n") + 4;
    const auto start = std::chrono::steady_clock::now();
    const std::string received = dead.readUntilClosed(5s);
    EXPECT_TRUE(dead.closedByServer());
    EXPECT_GE(std::chrono::steady_clock::now() - start, kTimeout / 2);
    // The server pinged it (a final ping frame: 0x89) before giving up on it.
    EXPECT_NE(received.find('\x89', headerEnd), std::string::npos);

    // The socket that reads answered the pings and is still open after the timeout passed.
    const std::string folderId = createFolder("Docs")["id"];
    upload(folderId, "/after.txt", "x");
    EXPECT_EQ(nextMessage(live)["event"]["path"], "/after.txt");
}

TEST_F(ServerPushChannel, TestRouteDropsEveryOpenSocket)
{
    auto first = open(m_token);
    auto second = open(m_server.signIn("bob@example.com"));
    ASSERT_EQ(first.handshakeStatus(), 101);
    ASSERT_EQ(second.handshakeStatus(), 101);
    EXPECT_EQ(httpRequest("POST", m_server.baseURL() + "/__test/ws/drop", "{}").status, 200);
    EXPECT_TRUE(first.waitForEnd());
    EXPECT_TRUE(second.waitForEnd());
    EXPECT_EQ(open(m_token).handshakeStatus(), 101);  // new sockets are welcome
}

TEST_F(ServerPushChannel, PushFaultSendsGarbageToTheRequestingAccountAheadOfItsChange)
{
    const auto bob = m_server.signIn("bob@example.com");
    auto first = open(m_token);
    auto second = open(m_token);
    auto other = open(bob);
    ASSERT_EQ(first.handshakeStatus(), 101);
    ASSERT_EQ(second.handshakeStatus(), 101);
    ASSERT_EQ(other.handshakeStatus(), 101);
    const std::string folderId = createFolder("Docs")["id"];

    m_server.injectFault(
        {{"path_prefix", "/api/sync/upload/chunk"}, {"push", {{"text", R"(garbage {"type":)"}}}});
    upload(folderId, "/a.txt", "one");
    for (auto* socket : {&first, &second}) {
        EXPECT_EQ(socket->next(), R"(garbage {"type":)");
        EXPECT_EQ(nextMessage(*socket)["event"]["path"], "/a.txt");
    }
    EXPECT_EQ(other.next(100ms), std::nullopt);

    // A request without a valid token pushes nothing, but uses the fault up.
    m_server.injectFault({{"path_prefix", "/health"}, {"push", {{"kind", "no_event"}}}});
    EXPECT_EQ(httpRequest("GET", m_server.baseURL() + "/health").status, 200);
    EXPECT_EQ(first.next(100ms), std::nullopt);
}

TEST_F(ServerPushChannel, PushFaultKinds)
{
    auto socket = open(m_token);
    ASSERT_EQ(socket.handshakeStatus(), 101);
    const auto pushed = [&](const nlohmann::json& push) {
        m_server.injectFault({{"path_prefix", "/api/folders"}, {"push", push}});
        EXPECT_EQ(get("/api/folders").status, 200);
        return socket.next().value_or("(nothing)");
    };

    const auto notJson = pushed({{"kind", "not_json"}});
    EXPECT_TRUE(nlohmann::json::parse(notJson, nullptr, false).is_discarded()) << notJson;

    const auto wrongTypes = nlohmann::json::parse(pushed({{"kind", "wrong_types"}}));
    EXPECT_EQ(wrongTypes["type"], "file_changed");
    EXPECT_TRUE(wrongTypes["event"]["id"].is_number());
    EXPECT_TRUE(wrongTypes["event"]["action"].is_array());
    EXPECT_TRUE(wrongTypes["event"]["version"].is_string());

    EXPECT_EQ(pushed({{"kind", "no_event"}}), R"({"type":"file_changed"})");

    const auto huge = pushed({{"kind", "huge"}});
    EXPECT_EQ(huge.size(), 1024u * 1024u);
    const auto hugeJson = nlohmann::json::parse(huge);
    EXPECT_EQ(hugeJson["type"], "file_changed");
    EXPECT_FALSE(hugeJson["event"].contains("id"));
    EXPECT_EQ(pushed({{"kind", "huge"}, {"size", 64}}).size(), 64u);
}

TEST_F(ServerPushChannel, InjectedFaultRefusesTheHandshake)
{
    m_server.injectFault({{"path_prefix", "/api/sync/ws"}, {"status", 503}});
    EXPECT_EQ(open(m_token).handshakeStatus(), 503);
    EXPECT_EQ(open(m_token).handshakeStatus(), 101);
}

}  // namespace
}  // namespace corvane::test
