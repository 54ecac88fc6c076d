#include "Platform/FakeNotificationService.h"

#include <cstdlib>
#include <utility>

#include "Platform/SdBus.h"

namespace corvane::test {

namespace {

int answerCapabilities(sd_bus_message* message, void* userdata, sd_bus_error*);
int recordNotify(sd_bus_message* message, void* userdata, sd_bus_error*);

}  // namespace

FakeNotificationService::FakeNotificationService(const std::string& address,
                                                 std::vector<std::string> capabilities)
    : m_capabilities(std::move(capabilities))
{
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("GetCapabilities", "", "as", &answerCapabilities, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", &recordNotify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    m_service = std::make_unique<FakeBusService>(address, "org.freedesktop.Notifications",
                                                 "/org/freedesktop/Notifications",
                                                 "org.freedesktop.Notifications", kVtable, this);
}

FakeNotificationService::~FakeNotificationService() = default;

std::vector<FakeNotificationService::Notification> FakeNotificationService::notifications() const
{
    std::lock_guard lock(m_mutex);
    return m_notifications;
}

int FakeNotificationService::capabilityQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_capabilityQueries;
}

bool FakeNotificationService::waitForNotifications(std::size_t count,
                                                   std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_notifications.size() >= count; });
}

bool FakeNotificationService::waitForCapabilityQueries(int count,
                                                       std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_capabilityQueries >= count; });
}

void FakeNotificationService::recordCapabilityQuery()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_capabilityQueries;
    }
    m_changed.notify_all();
}

std::uint32_t FakeNotificationService::record(Notification notification)
{
    std::uint32_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        m_notifications.push_back(std::move(notification));
        id = static_cast<std::uint32_t>(m_notifications.size());
    }
    m_changed.notify_all();
    return id;
}

namespace {

int answerCapabilities(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    auto& service = *static_cast<FakeNotificationService*>(userdata);
    service.recordCapabilityQuery();
    sd_bus_message* reply = nullptr;
    if (sd_bus_message_new_method_return(message, &reply) < 0) {
        return -1;
    }
    const SdBusMessagePtr owned(reply);
    sd_bus_message_open_container(reply, 'a', "s");
    for (const auto& capability : service.capabilities()) {
        sd_bus_message_append(reply, "s", capability.c_str());
    }
    sd_bus_message_close_container(reply);
    return sd_bus_send(nullptr, reply, nullptr);
}

int recordNotify(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    FakeNotificationService::Notification notification;
    const char* appName = nullptr;
    const char* icon = nullptr;
    const char* summary = nullptr;
    const char* body = nullptr;
    if (sd_bus_message_read(message, "susss", &appName, &notification.replacesId, &icon, &summary,
                            &body) < 0) {
        return -1;
    }
    notification.appName = appName;
    notification.appIcon = icon;
    notification.summary = summary;
    notification.body = body;
    char** actions = nullptr;
    if (sd_bus_message_read_strv(message, &actions) < 0) {
        return -1;
    }
    for (char** entry = actions; entry && *entry; ++entry) {
        notification.actions.emplace_back(*entry);
        free(*entry);
    }
    free(actions);
    sd_bus_message_enter_container(message, 'a', "{sv}");
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(message, "s", &key);
        const std::string name = key;
        const char* contents = nullptr;
        sd_bus_message_peek_type(message, nullptr, &contents);
        if (contents && std::string(contents) == "s") {
            const char* value = nullptr;
            sd_bus_message_read(message, "v", "s", &value);
            notification.hints[name] = value;
        } else {
            sd_bus_message_skip(message, "v");
        }
        sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    sd_bus_message_read(message, "i", &notification.expireTimeout);
    const std::uint32_t id =
        static_cast<FakeNotificationService*>(userdata)->record(std::move(notification));
    return sd_bus_reply_method_return(message, "u", id);
}

}  // namespace

}  // namespace corvane::test
