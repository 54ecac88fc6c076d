#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace corvane::server {

// Keeps the most recent request outside /__test/ for GET /__test/last-request, with the number of
// the connection it came on (so tests can see whether a client reuses connections). Credentials
// are never kept: "Authorization" is recorded as its scheme and "<redacted>", with the SHA-256 of
// the value as received, so that a test holding a token can tell whether it was this one.
// Thread-safe.
class RequestRecorder {
public:
    // Bodies are kept up to this many bytes (large uploads are cut).
    static constexpr std::size_t kBodyLimit = 1024 * 1024;

    void record(std::uint64_t connection, std::string method, std::string target,
                std::map<std::string, std::string> headers, std::string body);
    // {"connection", "method", "target", "headers", "body_base64", "number"} and, when the
    // request carried "Authorization", "authorization_sha256"; "number" counts the requests
    // recorded so far (1 for the first). Nothing before the first request.
    std::optional<nlohmann::json> last() const;

private:
    struct Recorded {
        std::uint64_t connection;
        std::string method;
        std::string target;
        std::map<std::string, std::string> headers;
        std::string body;
        std::optional<std::string> authorizationDigest;
    };

    mutable std::mutex m_mutex;
    std::optional<Recorded> m_last;  // guarded by m_mutex
    std::uint64_t m_count = 0;       // guarded by m_mutex
};

}  // namespace corvane::server
