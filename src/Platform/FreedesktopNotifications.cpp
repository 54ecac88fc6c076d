#include "Platform/FreedesktopNotifications.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "Platform/SdBus.h"
#include "Platform/SerialQueue.h"
#include "Platform/Unicode.h"

namespace corvane {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr std::uint64_t kCallTimeoutMicros = 5'000'000;
constexpr std::int32_t kDefaultTimeout = -1;  // the service's own choice

struct StrvDeleter {
    void operator()(char** strv) const
    {
        for (char** entry = strv; entry && *entry; ++entry) {
            std::free(*entry);
        }
        std::free(strv);
    }
};

}  // namespace

// The bus connection, made when first needed and again after it failed. Queue only.
class FreedesktopNotifications::Connection {
public:
    explicit Connection(std::optional<std::string> address) : m_address(std::move(address)) {}

    void queryCapabilities()
    {
        sd_bus_message* reply = nullptr;
        if (!call("GetCapabilities", &reply, [](sd_bus_message*) { return 0; })) {
            return;
        }
        const SdBusMessagePtr owned(reply);
        char** raw = nullptr;
        if (sd_bus_message_read_strv(reply, &raw) < 0) {
            return;
        }
        const std::unique_ptr<char*, StrvDeleter> capabilities(raw);
        m_bodyMarkup = false;
        for (char** entry = raw; entry && *entry; ++entry) {
            m_bodyMarkup = m_bodyMarkup || std::string(*entry) == "body-markup";
        }
    }

    void notify(const std::string& title, const std::string& body)
    {
        const std::string summary = Unicode::validUTF8(title);
        const std::string text =
            m_bodyMarkup ? escapedMarkup(Unicode::validUTF8(body)) : Unicode::validUTF8(body);
        sd_bus_message* reply = nullptr;
        const bool sent = call("Notify", &reply, [&](sd_bus_message* message) {
            return sd_bus_message_append(message, "susssasa{sv}i", kAppName, std::uint32_t{0}, "",
                                         summary.c_str(), text.c_str(), 0, 1, "sound-name", "s",
                                         kSoundName, kDefaultTimeout);
        });
        if (sent) {
            sd_bus_message_unref(reply);
        }
    }

private:
    // Calls `method` of the service with the arguments `append` adds; false when there is no
    // bus, the service does not answer or answers with an error.
    template <typename Append>
    bool call(const char* method, sd_bus_message** reply, const Append& append)
    {
        if (!m_bus) {
            m_bus = connectToSessionBus(m_address);
            if (!m_bus) {
                return false;
            }
        }
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_call(m_bus.get(), &raw, kService, kPath, kInterface, method) <
            0) {
            return false;
        }
        const SdBusMessagePtr message(raw);
        if (append(raw) < 0) {
            return false;
        }
        SdBusError error;
        const int result = sd_bus_call(m_bus.get(), raw, kCallTimeoutMicros, error.get(), reply);
        if (result < 0 && !sd_bus_error_is_set(error.get())) {
            m_bus.reset();  // the connection itself failed: the next call connects again
        }
        return result >= 0;
    }

    const std::optional<std::string> m_address;
    SdBusPtr m_bus;
    bool m_bodyMarkup = false;
};

FreedesktopNotifications::FreedesktopNotifications(std::optional<std::string> address)
    : m_connection(std::make_unique<Connection>(std::move(address))),
      m_queue(std::make_unique<SerialQueue>("com.corvane.notifications"))
{
}

FreedesktopNotifications::~FreedesktopNotifications() = default;

void FreedesktopNotifications::requestPermission()
{
    m_queue->async([connection = m_connection.get()] { connection->queryCapabilities(); });
}

void FreedesktopNotifications::post(const std::string& title, const std::string& body)
{
    m_queue->async(
        [connection = m_connection.get(), title, body] { connection->notify(title, body); });
}

std::string FreedesktopNotifications::escapedMarkup(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped.push_back(c);
        }
    }
    return escaped;
}

}  // namespace corvane
