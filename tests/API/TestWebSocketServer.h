#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvane::test {

// A self-signed certificate and its key, in PEM, for the given DNS name.
struct TestCertificate {
    std::string certificatePem;
    std::string privateKeyPem;

    static TestCertificate selfSigned(const std::string& dnsName);
};

// A small WebSocket server on 127.0.0.1 for testing the client's socket layer on its own. It
// serves one connection at a time (a new one replaces the previous one) and is driven by the
// test: what it sends and when it closes is the test's call. Thread-safe.
class TestWebSocketServer {
public:
    enum class Mode {
        webSocket,  // upgrade every request
        silent,     // accept TCP connections, never answer
        refuse,     // answer the upgrade request with 401
    };

    explicit TestWebSocketServer(Mode mode = Mode::webSocket,
                                 std::optional<TestCertificate> tls = std::nullopt);
    ~TestWebSocketServer();
    TestWebSocketServer(const TestWebSocketServer&) = delete;
    TestWebSocketServer& operator=(const TestWebSocketServer&) = delete;

    std::uint16_t port() const;

    // Waits for the n-th completed handshake (1 = the first); false on timeout.
    bool waitForHandshakes(int count, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Headers of the latest upgrade request (lower-case names) and its target.
    std::map<std::string, std::string> requestHeaders() const;
    std::string requestTarget() const;
    // The server name (SNI) of the latest TLS handshake; none when the client sent none.
    std::optional<std::string> serverName() const;

    void sendText(const std::string& text);
    void sendPing(const std::string& payload);
    void close(std::uint16_t code, const std::string& reason);
    // Drops the TCP connection without a close frame.
    void drop();

    // The next text message the client sent, in order; none on timeout.
    std::optional<std::string>
    nextText(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits for a pong (the answer to sendPing).
    bool waitForPong(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits until the client's close frame arrived; its code.
    std::optional<std::uint16_t>
    waitForClientClose(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane::test
