#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/NotificationPoster.h"

namespace corvane {

class SerialQueue;

// Notifications through the desktop's notification service, org.freedesktop.Notifications on
// the session bus. The permission request is its capability query: the service shows whatever
// it is sent, and the one thing the answer tells is whether a body is read as markup
// ("body-markup"), in which case bodies are escaped so that they show as written.
//
// Each notification goes out as Notify with the application name "Corvane", the summary and
// body given, no actions, the hint "sound-name" = "message-new-instant" and the service's
// default time-out. Texts that are not UTF-8 are mended, since the bus carries only UTF-8.
//
// The calls wait for the service on a queue of their own ("com.corvane.notifications"), never on
// the caller's thread. Without a bus or a service nothing is shown and nothing fails.
// Thread-safe; destruction waits for the calls already queued.
class FreedesktopNotifications final : public NotificationPoster {
public:
    static constexpr const char* kAppName = "Corvane";
    static constexpr const char* kSoundName = "message-new-instant";

    // `address`: a D-Bus address; by default the session bus of the environment.
    explicit FreedesktopNotifications(std::optional<std::string> address = std::nullopt);
    ~FreedesktopNotifications() override;

    void requestPermission() override;
    void post(const std::string& title, const std::string& body) override;

    // `text` with "&", "<" and ">" written as entities, for a service that reads markup.
    static std::string escapedMarkup(const std::string& text);

private:
    class Connection;
    std::unique_ptr<Connection> m_connection;  // touched on m_queue only
    std::unique_ptr<SerialQueue> m_queue;
};

}  // namespace corvane
