#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/SdBus.h"

namespace corvane {

// How a second start reaches the running instance: the running one owns the name
// "com.corvane.app" on the session bus and answers org.freedesktop.Application.Activate on the
// object "/com/corvane/app"; the second one calls it and ends.
//
// The service owns no thread: its owner serves its descriptor from the main loop (process()
// when fd() is ready for events(), or once timeoutMicros() has come). One thread at a time.
class ActivationService {
public:
    static constexpr const char* kBusName = "com.corvane.app";
    static constexpr const char* kObjectPath = "/com/corvane/app";
    static constexpr const char* kInterface = "org.freedesktop.Application";

    // Connects to the session bus (or `address`), serves the object and takes the name;
    // nothing when there is no bus or the name is taken. `onActivate` runs inside process().
    static std::unique_ptr<ActivationService> start(std::function<void()> onActivate,
                                                    std::optional<std::string> address = {});

    enum class Outcome { activated, noBus, noAnswer };
    // Asks the running instance to show itself. A name not yet owned (the running instance is
    // still starting) is asked again until `patience` has passed.
    static Outcome activateRunningInstance(std::chrono::milliseconds patience,
                                           std::optional<std::string> address = {});

    ~ActivationService();
    ActivationService(const ActivationService&) = delete;
    ActivationService& operator=(const ActivationService&) = delete;

    int fd() const;
    // The poll events the connection waits for (POLLIN, and POLLOUT while output is queued).
    int events() const;
    // CLOCK_MONOTONIC microseconds by which process() must run even without events; nothing
    // when there is no such time.
    std::optional<std::uint64_t> timeoutMicros() const;
    // Handles everything the bus has for the service. False once the connection is gone.
    bool process();

private:
    ActivationService(SdBusPtr bus, std::function<void()> onActivate);
    static int onActivateCall(sd_bus_message* message, void* userdata, sd_bus_error* error);

    SdBusPtr m_bus;
    SdBusSlotPtr m_object;
    std::function<void()> m_onActivate;
};

}  // namespace corvane
