#include "PushHub.h"

#include <nlohmann/json.hpp>

#include "WebSocketSession.h"

namespace corvane::server {

void PushHub::accept(boost::beast::tcp_stream stream,
                     boost::beast::http::request<boost::beast::http::string_body> request,
                     const User& user)
{
    auto session = std::make_shared<WebSocketSession>(std::move(stream), user.id, m_idleTimeout);
    {
        std::lock_guard lock(m_mutex);
        auto& list = m_sessions[user.id];
        std::erase_if(list, [](const auto& weak) { return weak.expired(); });
        list.push_back(session);
    }
    session->run(std::move(request));
}

void PushHub::fileChanged(const std::string& accountId, const FileChangedNotice& notice)
{
    sendToAccount(accountId, std::make_shared<const std::string>(fileChangedMessage(notice)));
}

void PushHub::sendToAccount(const std::string& accountId, std::shared_ptr<const std::string> text)
{
    for (const auto& session : sessions(&accountId)) {
        session->send(text);
    }
}

void PushHub::dropAll()
{
    for (const auto& session : sessions(nullptr)) {
        session->drop();
    }
}

std::string PushHub::fileChangedMessage(const FileChangedNotice& notice)
{
    nlohmann::json event{{"id", notice.id}, {"action", notice.action}, {"path", notice.path}};
    if (notice.hash) {
        event["hash"] = *notice.hash;
    }
    if (notice.version) {
        event["version"] = *notice.version;
    }
    event["timestamp"] = notice.timestamp;
    event["user_id"] = notice.userId;
    event["folder_id"] = notice.folderId;
    return nlohmann::json{{"type", "file_changed"}, {"event", std::move(event)}}.dump();
}

std::vector<std::shared_ptr<WebSocketSession>> PushHub::sessions(const std::string* accountId)
{
    // Copy the weak references under the lock; the sends happen outside it.
    std::vector<std::weak_ptr<WebSocketSession>> weak;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            auto& list = it->second;
            std::erase_if(list, [](const auto& entry) { return entry.expired(); });
            if (!accountId || it->first == *accountId) {
                weak.insert(weak.end(), list.begin(), list.end());
            }
            it = list.empty() ? m_sessions.erase(it) : std::next(it);
        }
    }
    std::vector<std::shared_ptr<WebSocketSession>> live;
    for (const auto& entry : weak) {
        if (auto session = entry.lock()) {
            live.push_back(std::move(session));
        }
    }
    return live;
}

}  // namespace corvane::server
