#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

// A bare HTTP/1.1 server on 127.0.0.1 for answers the stand-in server never gives (a redirect
// with its Location). One connection at a time, closed after each answer. Thread-safe.
class CannedHttpServer {
public:
    // What the server sends for a request target: the whole answer, status line and all.
    using Answer = std::function<std::string(const std::string& target)>;

    explicit CannedHttpServer(Answer answer);
    ~CannedHttpServer();
    CannedHttpServer(const CannedHttpServer&) = delete;
    CannedHttpServer& operator=(const CannedHttpServer&) = delete;

    std::uint16_t port() const;
    std::string baseURL() const;
    // The request lines ("POST /api/folders HTTP/1.1") received so far, in order.
    std::vector<std::string> requestLines() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane::test
