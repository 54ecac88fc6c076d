#include "RequestRecorder.h"

#include <nlohmann/json.hpp>

#include "Base64.h"

namespace corvane::server {

void RequestRecorder::record(std::uint64_t connection, std::string method, std::string target,
                             std::map<std::string, std::string> headers, std::string body)
{
    if (body.size() > kBodyLimit) {
        body.resize(kBodyLimit);
    }
    Recorded recorded{connection, std::move(method), std::move(target), std::move(headers),
                      std::move(body)};
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
    return nlohmann::json{{"connection", copy->connection},
                          {"method", copy->method},
                          {"target", copy->target},
                          {"headers", headers},
                          {"body_base64", Base64::encode(copy->body)},
                          {"number", number}};
}

}  // namespace corvane::server
