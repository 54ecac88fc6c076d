#pragma once

#include <cstdint>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace corvane::test {

// A loopback port that refuses every connection for as long as this lives: bound, never
// listening, so no other process can take it meanwhile.
class ClosedPort {
public:
    ClosedPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        const bool bound = m_fd >= 0 &&
                           ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                           ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        EXPECT_TRUE(bound) << "no loopback port to refuse connections";
        m_port = ntohs(address.sin_port);
    }
    ~ClosedPort()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

}  // namespace corvane::test
