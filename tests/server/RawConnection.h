#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace corvane::test {

// A plain TCP connection to the loopback server, for requests that no HTTP client would send
// (garbage, half a body, several requests on one connection). One thread at a time.
class RawConnection {
public:
    explicit RawConnection(std::uint16_t port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    void send(const std::string& bytes);
    // Closes the sending side: the server reads the end of the stream.
    void finishSending();
    // Reads until the server closes or the timeout passes; returns what arrived.
    std::string readUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Reads until `text` has arrived (or the timeout passes / the server closes).
    std::string readUntil(const std::string& text,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Whether a read found the connection closed by the server.
    bool closedByServer() const { return m_closed; }

private:
    int m_fd = -1;
    std::string m_received;
    bool m_closed = false;
};

}  // namespace corvane::test
