#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChangeSink.h"
#include "UpgradeHandler.h"

namespace corvane::server {

class WebSocketSession;

// The push channel's hub: takes over the upgrades of GET /api/sync/ws and sends every committed
// file change, as {"type":"file_changed","event":{...}}, to every open socket of the account,
// the socket of the device that made the change included. It holds the sockets weakly; a socket
// lives as long as its connection. Thread-safe; never blocks on a socket.
class PushHub final : public ChangeSink, public UpgradeHandler {
public:
    // `idleTimeout`: how long a socket may stay silent before it is closed
    // (WebSocketSession::kIdleTimeout but in tests).
    explicit PushHub(std::chrono::milliseconds idleTimeout) : m_idleTimeout(idleTimeout) {}

    void accept(boost::beast::tcp_stream stream,
                boost::beast::http::request<boost::beast::http::string_body> request,
                const User& user) override;
    void fileChanged(const std::string& accountId, const FileChangedNotice& notice) override;

    // Closes every open socket (a test fault).
    void dropAll();
    // Sends one text message, whatever it says, to every open socket of the account (a test
    // fault).
    void sendToAccount(const std::string& accountId, std::shared_ptr<const std::string> text);

    // The text of one "file_changed" message.
    static std::string fileChangedMessage(const FileChangedNotice& notice);

private:
    // The live sockets, of one account or of all; prunes the dead ones.
    std::vector<std::shared_ptr<WebSocketSession>> sessions(const std::string* accountId);

    const std::chrono::milliseconds m_idleTimeout;
    std::mutex m_mutex;
    std::map<std::string, std::vector<std::weak_ptr<WebSocketSession>>> m_sessions;
};

}  // namespace corvane::server
