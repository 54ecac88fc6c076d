#include "CannedHttpServer.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {
namespace {

// The bytes of one request: its head and as much body as Content-Length announces.
std::string readRequest(int connection)
{
    std::string bytes;
    char buffer[4096];
    std::size_t bodyEnd = std::string::npos;
    while (bodyEnd == std::string::npos || bytes.size() < bodyEnd) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        const std::size_t headEnd = bytes.find("\r\n\r\n");
        if (bodyEnd == std::string::npos && headEnd != std::string::npos) {
            std::size_t length = 0;
            const std::size_t field = bytes.find("\r\nContent-Length:");
            if (field != std::string::npos && field < headEnd) {
                length = std::stoul(bytes.substr(field + 17));
            }
            bodyEnd = headEnd + 4 + length;
        }
    }
    return bytes;
}

}  // namespace

class CannedHttpServer::Impl {
public:
    explicit Impl(Answer answer) : m_answer(std::move(answer))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error(std::string("canned server: ") + std::strerror(errno));
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::jthread([this](const std::stop_token& stop) { serve(stop); });
    }

    ~Impl()
    {
        m_thread.request_stop();
        m_thread.join();
        ::close(m_listener);
    }

    std::uint16_t port() const { return m_port; }

    std::vector<std::string> requestLines() const
    {
        std::lock_guard lock(m_mutex);
        return m_requestLines;
    }

private:
    void serve(const std::stop_token& stop)
    {
        while (!stop.stop_requested()) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) {
                continue;
            }
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                continue;
            }
            const std::string request = readRequest(connection);
            const std::string line = request.substr(0, request.find("\r\n"));
            {
                std::lock_guard lock(m_mutex);
                m_requestLines.push_back(line);
            }
            const std::size_t start = line.find(' ') + 1;
            const std::string answer = m_answer(line.substr(start, line.rfind(' ') - start));
            ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    const Answer m_answer;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requestLines;  // guarded by m_mutex
    std::jthread m_thread;                    // last: stopped and joined first
};

CannedHttpServer::CannedHttpServer(Answer answer)
    : m_impl(std::make_unique<Impl>(std::move(answer)))
{
}

CannedHttpServer::~CannedHttpServer() = default;

std::uint16_t CannedHttpServer::port() const
{
    return m_impl->port();
}

std::string CannedHttpServer::baseURL() const
{
    return "http://127.0.0.1:" + std::to_string(port());
}

std::vector<std::string> CannedHttpServer::requestLines() const
{
    return m_impl->requestLines();
}

}  // namespace corvane::test
