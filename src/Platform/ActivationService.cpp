#include "Platform/ActivationService.h"

#include <thread>
#include <utility>

#include "Platform/CallGuarded.h"

namespace corvane {
namespace {

constexpr std::uint64_t kCallTimeoutMicros = 5'000'000;

bool nameNotOwnedYet(const SdBusError& error)
{
    return error.name() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           error.name() == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

}  // namespace

std::unique_ptr<ActivationService> ActivationService::start(std::function<void()> onActivate,
                                                            std::optional<std::string> address)
{
    SdBusPtr bus = connectToSessionBus(address);
    if (!bus) {
        return nullptr;
    }
    std::unique_ptr<ActivationService> service(
        new ActivationService(std::move(bus), std::move(onActivate)));
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Activate", "a{sv}", "", &ActivationService::onActivateCall,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(service->m_bus.get(), &slot, kObjectPath, kInterface, kVtable,
                                 service.get()) < 0) {
        return nullptr;
    }
    service->m_object.reset(slot);
    if (sd_bus_request_name(service->m_bus.get(), kBusName, 0) < 0) {
        return nullptr;
    }
    return service;
}

ActivationService::Outcome
ActivationService::activateRunningInstance(std::chrono::milliseconds patience,
                                           std::optional<std::string> address)
{
    const SdBusPtr bus = connectToSessionBus(address);
    if (!bus) {
        return Outcome::noBus;
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (true) {
        SdBusError error;
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus.get(), &call, kBusName, kObjectPath, kInterface,
                                           "Activate") < 0) {
            return Outcome::noAnswer;
        }
        const SdBusMessagePtr owned(call);
        if (sd_bus_message_append(call, "a{sv}", 0) < 0) {
            return Outcome::noAnswer;
        }
        if (sd_bus_call(bus.get(), call, kCallTimeoutMicros, error.get(), nullptr) >= 0) {
            return Outcome::activated;
        }
        if (!nameNotOwnedYet(error) || std::chrono::steady_clock::now() >= deadline) {
            return Outcome::noAnswer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ActivationService::ActivationService(SdBusPtr bus, std::function<void()> onActivate)
    : m_bus(std::move(bus)), m_onActivate(std::move(onActivate))
{
}

ActivationService::~ActivationService()
{
    m_object.reset();
}

int ActivationService::fd() const
{
    return sd_bus_get_fd(m_bus.get());
}

int ActivationService::events() const
{
    const int events = sd_bus_get_events(m_bus.get());
    return events < 0 ? 0 : events;
}

std::optional<std::uint64_t> ActivationService::timeoutMicros() const
{
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(m_bus.get(), &until) < 0 || until == UINT64_MAX) {
        return std::nullopt;
    }
    return until;
}

bool ActivationService::process()
{
    while (true) {
        const int result = sd_bus_process(m_bus.get(), nullptr);
        if (result < 0) {
            return false;
        }
        if (result == 0) {
            return true;
        }
    }
}

int ActivationService::onActivateCall(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    auto* service = static_cast<ActivationService*>(userdata);
    // Called by sd-bus, which is C: nothing may leave here.
    callGuarded("activation request", [&] { service->m_onActivate(); });
    return sd_bus_reply_method_return(message, "");
}

}  // namespace corvane
