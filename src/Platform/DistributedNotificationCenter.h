#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// Notifications between processes of one desktop session, carried as D-Bus signals on the
// session bus: path "/com/corvane/Notifications", interface "com.corvane.DistributedNotification",
// member "Post", body (s a{ss}) = the notification's name and its user info. Every process on the
// bus that observes the name receives it, the posting process included.
//
// The bus is the one that DBUS_SESSION_BUS_ADDRESS names when the center is created or, without
// that variable, the socket "bus" in XDG_RUNTIME_DIR. Without either, or when the bus cannot be
// reached or goes away, posting and observing do nothing and nothing fails. A background thread
// owns the connection: posts are queued to it and sent at once, and received notifications are
// handed to the main queue (MainQueue::async), where the handlers run. Thread-safe.
class DistributedNotificationCenter {
public:
    using UserInfo = std::map<std::string, std::string>;
    using Handler = std::function<void(const std::string& name, const UserInfo& userInfo)>;

    // Stops its handler from being called once destroyed on the main thread (a notification
    // that is already queued there is dropped). May outlive the center.
    class Observation {
    public:
        struct Registry;  // private to the center's implementation

        Observation(std::weak_ptr<Registry> registry, std::uint64_t id);
        ~Observation();
        Observation(const Observation&) = delete;
        Observation& operator=(const Observation&) = delete;

    private:
        std::weak_ptr<Registry> m_registry;
        std::uint64_t m_id;
    };

    // The process's center, connected on first use.
    static std::shared_ptr<DistributedNotificationCenter> defaultCenter();
    // The session bus as sd_bus_open_user() finds it: the address in DBUS_SESSION_BUS_ADDRESS,
    // else the socket "bus" in XDG_RUNTIME_DIR, where systemd sessions keep it without the
    // variable; nothing without either.
    static std::optional<std::string> sessionBusAddress();

    // Connects to `address` (a D-Bus address); by default to the session bus of the environment.
    // Returns once the connection is ready to receive, or has failed.
    explicit DistributedNotificationCenter(std::optional<std::string> address = std::nullopt);
    // Sends what is still queued, then disconnects.
    ~DistributedNotificationCenter();
    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

    bool isConnected() const;

    // Posts at once, without waiting for any receiver. Names and texts must be UTF-8; a
    // notification the bus cannot carry is dropped.
    void post(const std::string& name, const UserInfo& userInfo = {});
    // Calls `handler` on the main thread for every notification named `name`, until the
    // returned observation is destroyed.
    [[nodiscard]] std::unique_ptr<Observation> observe(const std::string& name, Handler handler);

private:
    class Connection;
    std::shared_ptr<Observation::Registry> m_registry;
    std::unique_ptr<Connection> m_connection;
};

}  // namespace corvane
