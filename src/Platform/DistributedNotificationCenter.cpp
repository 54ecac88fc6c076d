#include "Platform/DistributedNotificationCenter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <time.h>

#include <systemd/sd-bus.h>

#include "Platform/CallGuarded.h"
#include "Platform/MainQueue.h"
#include "Platform/SdBus.h"
#include "Platform/WakeSignal.h"

namespace corvane {
namespace {

constexpr const char* kPath = "/com/corvane/Notifications";
constexpr const char* kInterface = "com.corvane.DistributedNotification";
constexpr const char* kMember = "Post";

// `value` as the value of a D-Bus address key: bytes other than the optionally escaped ones
// become "%" and two hexadecimal digits.
std::string escapedAddressValue(std::string_view value)
{
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr std::string_view kPlainOthers = "-_/.\\*";
    std::string escaped;
    for (const char c : value) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            kPlainOthers.find(c) != std::string_view::npos) {
            escaped.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            escaped += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
    }
    return escaped;
}

int pollTimeout(sd_bus* bus)
{
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowMicros = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    if (until <= nowMicros) {
        return 0;
    }
    return static_cast<int>(std::min<std::uint64_t>((until - nowMicros + 999) / 1000, 60000));
}

}  // namespace

struct DistributedNotificationCenter::Observation::Registry {
    struct Entry {
        std::string name;
        std::shared_ptr<const Handler> handler;
    };

    std::mutex mutex;
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, Entry> entries;

    bool isRegistered(std::uint64_t id)
    {
        std::lock_guard lock(mutex);
        return entries.contains(id);
    }
};

DistributedNotificationCenter::Observation::Observation(std::weak_ptr<Registry> registry,
                                                        std::uint64_t id)
    : m_registry(std::move(registry)), m_id(id)
{
}

DistributedNotificationCenter::Observation::~Observation()
{
    if (const auto registry = m_registry.lock()) {
        std::lock_guard lock(registry->mutex);
        registry->entries.erase(m_id);
    }
}

// Owns the bus connection; only its thread touches the sd_bus object after construction.
class DistributedNotificationCenter::Connection {
public:
    Connection(const std::optional<std::string>& address,
               std::shared_ptr<Observation::Registry> registry)
        : m_registry(std::move(registry))
    {
        if (!address || !m_wake.valid()) {
            return;
        }
        SdBusPtr bus = connectToBus(*address);
        if (!bus) {
            return;
        }
        sd_bus_slot* slot = nullptr;
        // Installed before the constructor returns, so that an observer sees whatever is posted
        // after it started observing.
        if (sd_bus_match_signal(bus.get(), &slot, nullptr, kPath, kInterface, kMember,
                                &Connection::onSignal, this) < 0) {
            return;
        }
        m_match.reset(slot);
        m_bus = std::move(bus);
        m_connected = true;
        m_thread = std::jthread([this](std::stop_token stop) {
            // Nothing may leave the thread; without it the center posts and observes nothing.
            callGuarded("notification bus thread", [&] { run(stop); });
            m_connected = false;
        });
    }

    ~Connection()
    {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_wake.signal();
            m_thread.join();
        }
        m_match.reset();
        m_bus.reset();
    }

    bool isConnected() const { return m_connected.load(); }

    void enqueue(std::string name, UserInfo userInfo)
    {
        if (!m_connected.load()) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_outgoing.emplace_back(std::move(name), std::move(userInfo));
        }
        m_wake.signal();
    }

private:
    using Outgoing = std::pair<std::string, UserInfo>;

    void run(std::stop_token stop)
    {
        while (true) {
            sendQueued();
            if (stop.stop_requested()) {
                sd_bus_flush(m_bus.get());
                break;
            }
            const int processed = sd_bus_process(m_bus.get(), nullptr);
            if (processed < 0) {
                break;  // the bus went away
            }
            if (processed > 0) {
                continue;
            }
            const int events = sd_bus_get_events(m_bus.get());
            const int busFd = sd_bus_get_fd(m_bus.get());
            if (events < 0 || busFd < 0) {
                break;
            }
            pollfd fds[2] = {{busFd, static_cast<short>(events), 0}, {m_wake.fd(), POLLIN, 0}};
            if (::poll(fds, 2, pollTimeout(m_bus.get())) < 0 && errno != EINTR) {
                break;
            }
            if (fds[1].revents & POLLIN) {
                m_wake.drain();
            }
        }
    }

    void sendQueued()
    {
        std::deque<Outgoing> outgoing;
        {
            std::lock_guard lock(m_mutex);
            outgoing.swap(m_outgoing);
        }
        for (const auto& [name, userInfo] : outgoing) {
            send(name, userInfo);
        }
    }

    // A notification the bus refuses (a text that is not UTF-8) is dropped: posting never fails.
    void send(const std::string& name, const UserInfo& userInfo)
    {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_signal(m_bus.get(), &raw, kPath, kInterface, kMember) < 0) {
            return;
        }
        const SdBusMessagePtr message(raw);
        if (sd_bus_message_append(raw, "s", name.c_str()) < 0 ||
            sd_bus_message_open_container(raw, 'a', "{ss}") < 0) {
            return;
        }
        for (const auto& [key, value] : userInfo) {
            if (sd_bus_message_append(raw, "{ss}", key.c_str(), value.c_str()) < 0) {
                return;
            }
        }
        if (sd_bus_message_close_container(raw) < 0) {
            return;
        }
        sd_bus_send(m_bus.get(), raw, nullptr);
    }

    // Called by sd-bus, which is C: a notification that fails to be handed over is dropped.
    static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*)
    {
        callGuarded("notification delivery",
                    [&] { static_cast<Connection*>(userdata)->deliver(message); });
        return 0;
    }

    void deliver(sd_bus_message* message)
    {
        const char* rawName = nullptr;
        if (sd_bus_message_read(message, "s", &rawName) < 0 || !rawName) {
            return;
        }
        std::string name = rawName;
        UserInfo userInfo;
        if (sd_bus_message_enter_container(message, 'a', "{ss}") < 0) {
            return;
        }
        const char* key = nullptr;
        const char* value = nullptr;
        int read = 0;
        while ((read = sd_bus_message_read(message, "{ss}", &key, &value)) > 0) {
            userInfo.insert_or_assign(key, value);
        }
        if (read < 0) {
            return;
        }

        std::vector<std::pair<std::uint64_t, std::shared_ptr<const Handler>>> handlers;
        {
            std::lock_guard lock(m_registry->mutex);
            for (const auto& [id, entry] : m_registry->entries) {
                if (entry.name == name) {
                    handlers.emplace_back(id, entry.handler);
                }
            }
        }
        const std::weak_ptr<Observation::Registry> registry = m_registry;
        for (auto& [id, handler] : handlers) {
            MainQueue::async([registry, id = id, handler = std::move(handler), name, userInfo] {
                const auto alive = registry.lock();
                if (alive && alive->isRegistered(id)) {
                    (*handler)(name, userInfo);
                }
            });
        }
    }

    const std::shared_ptr<Observation::Registry> m_registry;
    const WakeSignal m_wake;
    SdBusPtr m_bus;
    SdBusSlotPtr m_match;
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;  // guards m_outgoing
    std::deque<Outgoing> m_outgoing;
    std::jthread m_thread;
};

std::optional<std::string> DistributedNotificationCenter::sessionBusAddress()
{
    if (const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS"); value && *value) {
        return std::string(value);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) {
        return std::nullopt;
    }
    return "unix:path=" + escapedAddressValue(std::string(runtime) + "/bus");
}

std::shared_ptr<DistributedNotificationCenter> DistributedNotificationCenter::defaultCenter()
{
    static const auto center = std::make_shared<DistributedNotificationCenter>();
    return center;
}

DistributedNotificationCenter::DistributedNotificationCenter(std::optional<std::string> address)
    : m_registry(std::make_shared<Observation::Registry>()),
      m_connection(
          std::make_unique<Connection>(address ? address : sessionBusAddress(), m_registry))
{
}

DistributedNotificationCenter::~DistributedNotificationCenter() = default;

bool DistributedNotificationCenter::isConnected() const
{
    return m_connection->isConnected();
}

void DistributedNotificationCenter::post(const std::string& name, const UserInfo& userInfo)
{
    m_connection->enqueue(name, userInfo);
}

std::unique_ptr<DistributedNotificationCenter::Observation>
DistributedNotificationCenter::observe(const std::string& name, Handler handler)
{
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_registry->mutex);
        id = m_registry->nextId++;
        m_registry->entries.emplace(
            id, Observation::Registry::Entry{name,
                                             std::make_shared<const Handler>(std::move(handler))});
    }
    return std::make_unique<Observation>(m_registry, id);
}

}  // namespace corvane
