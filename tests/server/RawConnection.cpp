#include "RawConnection.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

RawConnection::RawConnection(std::uint16_t port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
}

RawConnection::~RawConnection()
{
    ::close(m_fd);
}

void RawConnection::send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // the server closed; what it answered can still be read
        }
        sent += static_cast<std::size_t>(n);
    }
}

void RawConnection::finishSending()
{
    ::shutdown(m_fd, SHUT_WR);
}

std::string RawConnection::readUntil(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.empty() || m_received.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd poller{m_fd, POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_closed = true;  // an orderly close, or a reset
            break;
        }
        m_received.append(chunk, static_cast<std::size_t>(n));
    }
    return m_received;
}

std::string RawConnection::readUntilClosed(std::chrono::milliseconds timeout)
{
    return readUntil({}, timeout);
}

}  // namespace corvane::test
