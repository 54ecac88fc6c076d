#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace corvane::test {

// A bare WebSocket client of the server's push channel for the server's own tests (independent
// of the Corvane client). Opens ws://127.0.0.1:<port>/api/sync/ws in the constructor and, unless
// told not to read, collects every text message. One test thread at a time.
class PushSocket {
public:
    struct Options {
        std::optional<std::string> token;  // none: no Authorization header
        bool reading = true;  // false: never reads, with a tiny receive buffer (a stalled client)
    };

    PushSocket(std::uint16_t port, Options options);
    ~PushSocket();
    PushSocket(const PushSocket&) = delete;
    PushSocket& operator=(const PushSocket&) = delete;

    // 101 when the upgrade succeeded, else the HTTP status of the refusal (0: no answer).
    int handshakeStatus() const;
    void send(const std::string& text);
    // Starts reading on a socket opened with `reading` false.
    void startReading();
    // The next text message; none when nothing came within `timeout` or the connection ended.
    std::optional<std::string> next(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits until the server ended the connection.
    bool waitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane::test
