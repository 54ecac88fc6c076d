#include "RequestRecorder.h"

#include <nlohmann/json.hpp>

#include "Base64.h"
#include "Platform/Sha256.h"

namespace corvane::server {

namespace {

constexpr const char* kAuthorization = "authorization";

// "Bearer abc" becomes "Bearer <redacted>". A value without credentials (a lone scheme, or a
// scheme followed by blanks only) holds no secret and stays as it is.
std::string redacted(const std::string& value)
{
    const auto blank = value.find(' ');
    if (blank == std::string::npos || value.find_first_not_of(" \t", blank) == std::string::npos) {
        return value;
    }
    return value.substr(0, blank) + " <redacted>";
}

}  // namespace

void RequestRecorder::record(std::uint64_t connection, std::string method, std::string target,
                             std::map<std::string, std::string> headers, std::string body)
{
    if (body.size() > kBodyLimit) {
        body.resize(kBodyLimit);
    }
    std::optional<std::string> digest;
    if (const auto found = headers.find(kAuthorization); found != headers.end()) {
        digest = Sha256::of(found->second);
        found->second = redacted(found->second);
    }
    Recorded recorded{connection,         std::move(method), std::move(target),
                      std::move(headers), std::move(body),   std::move(digest)};
    std::lock_guard lock(m_mutex);
    m_last = std::move(recorded);
    ++m_count;
}

std::optional<nlohmann::json> RequestRecorder::last() const
{
    std::optional<Recorded> copy;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(m_mutex);
        copy = m_last;
        number = m_count;
    }
    if (!copy) {
        return std::nullopt;
    }
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : copy->headers) {
        headers[name] = value;
    }
    nlohmann::json record{{"connection", copy->connection},
                          {"method", copy->method},
                          {"target", copy->target},
                          {"headers", headers},
                          {"body_base64", Base64::encode(copy->body)},
                          {"number", number}};
    if (copy->authorizationDigest) {
        record["authorization_sha256"] = *copy->authorizationDigest;
    }
    return record;
}

}  // namespace corvane::server
