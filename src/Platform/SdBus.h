#pragma once

#include <memory>
#include <optional>
#include <string>

#include <systemd/sd-bus.h>

namespace corvane {

// Owned sd-bus objects. One thread at a time, like the connection they belong to.
struct SdBusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SdBusSlotDeleter {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct SdBusMessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using SdBusPtr = std::unique_ptr<sd_bus, SdBusDeleter>;
using SdBusSlotPtr = std::unique_ptr<sd_bus_slot, SdBusSlotDeleter>;
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageDeleter>;

// An sd_bus_error that is freed with its owner.
class SdBusError {
public:
    SdBusError() = default;
    ~SdBusError() { sd_bus_error_free(&m_error); }
    SdBusError(const SdBusError&) = delete;
    SdBusError& operator=(const SdBusError&) = delete;

    sd_bus_error* get() { return &m_error; }
    std::string name() const { return m_error.name ? m_error.name : ""; }
    std::string message() const { return m_error.message ? m_error.message : ""; }

private:
    sd_bus_error m_error = SD_BUS_ERROR_NULL;
};

// A client connection to the bus at `address` (a D-Bus address), registered with the bus and
// ready; nothing when it cannot be made.
SdBusPtr connectToBus(const std::string& address);
// The same, to the session bus of the environment (DistributedNotificationCenter::
// sessionBusAddress()) or to `address` when one is given.
SdBusPtr connectToSessionBus(const std::optional<std::string>& address = std::nullopt);

}  // namespace corvane
