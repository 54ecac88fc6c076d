#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One HTTP exchange as the REST client describes it. The callbacks may throw: the transport
// catches at the libcurl boundary, stops the transfer and rethrows once libcurl has returned.
struct HttpRequest {
    std::string url;
    bool post = false;
    std::vector<std::string> headers;  // "Name: value"
    // A POST body of exactly bodySize bytes, pulled in pieces: readBody fills at most `capacity`
    // bytes and returns how many; rewindBody starts over (when libcurl sends the body again on a
    // fresh connection).
    std::uint64_t bodySize = 0;
    std::function<std::size_t(char* buffer, std::size_t capacity)> readBody;
    std::function<void()> rewindBody;
    // The answer's body as it arrives, with the answer's status.
    std::function<void(long status, std::string_view bytes)> receive;
};

// Sends requests through libcurl, keeping idle easy handles (and so their open connections) for
// reuse by later requests. Thread-safe: each request checks out its own handle.
class CurlTransport {
public:
    CurlTransport();
    ~CurlTransport();
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    // Returns the HTTP status. Throws TransportError for a failure of the exchange itself, or
    // whatever a callback threw.
    long perform(const HttpRequest& request);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace corvane
