#include "Platform/SdBus.h"

#include "Platform/DistributedNotificationCenter.h"

namespace corvane {

SdBusPtr connectToBus(const std::string& address)
{
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) {
        return nullptr;
    }
    SdBusPtr bus(raw);
    if (sd_bus_set_address(bus.get(), address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus.get(), 1) < 0 || sd_bus_start(bus.get()) < 0) {
        return nullptr;
    }
    return bus;
}

SdBusPtr connectToSessionBus(const std::optional<std::string>& address)
{
    const auto chosen = address ? address : DistributedNotificationCenter::sessionBusAddress();
    return chosen ? connectToBus(*chosen) : nullptr;
}

}  // namespace corvane
