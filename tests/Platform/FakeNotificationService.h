#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/FakeBusService.h"

namespace corvane::test {

// A desktop notification service of our own on a test's bus: owns
// org.freedesktop.Notifications, answers GetCapabilities with the capabilities it is given and
// records every Notify call. Serves on a thread of its own. Thread-safe.
class FakeNotificationService {
public:
    struct Notification {
        std::string appName;
        std::uint32_t replacesId = 0;
        std::string appIcon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
        std::map<std::string, std::string> hints;  // the hints whose values are texts
        std::int32_t expireTimeout = 0;
    };

    // Connects to `address` and takes the name before it returns; throws when it cannot.
    FakeNotificationService(const std::string& address, std::vector<std::string> capabilities);
    ~FakeNotificationService();
    FakeNotificationService(const FakeNotificationService&) = delete;
    FakeNotificationService& operator=(const FakeNotificationService&) = delete;

    std::vector<Notification> notifications() const;
    int capabilityQueries() const;
    // Waits until at least `count` notifications came; false when `timeout` passed first.
    bool waitForNotifications(std::size_t count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool
    waitForCapabilityQueries(int count,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // What the bus handlers record (the service's own thread).
    const std::vector<std::string>& capabilities() const { return m_capabilities; }
    void recordCapabilityQuery();
    std::uint32_t record(Notification notification);

private:
    const std::vector<std::string> m_capabilities;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Notification> m_notifications;
    int m_capabilityQueries = 0;
    std::unique_ptr<FakeBusService> m_service;  // last: stops serving first
};

}  // namespace corvane::test
