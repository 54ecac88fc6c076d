#include "Platform/FakeBusService.h"

#include <stdexcept>

namespace corvane::test {

FakeBusService::FakeBusService(const std::string& address, const char* name, const char* path,
                               const char* interface, const sd_bus_vtable* vtable, void* userdata)
    : m_bus(connectToBus(address))
{
    const std::string what = std::string("fake ") + name + ": ";
    if (!m_bus) {
        throw std::runtime_error(what + "no bus");
    }
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(m_bus.get(), &slot, path, interface, vtable, userdata) < 0) {
        throw std::runtime_error(what + "no object");
    }
    m_object.reset(slot);
    if (sd_bus_request_name(m_bus.get(), name, 0) < 0) {
        throw std::runtime_error(what + "name taken");
    }
    m_thread = std::jthread([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            const int processed = sd_bus_process(m_bus.get(), nullptr);
            if (processed < 0) {
                return;
            }
            if (processed == 0) {
                sd_bus_wait(m_bus.get(), 20000);
            }
        }
    });
}

FakeBusService::~FakeBusService()
{
    m_thread.request_stop();
    m_thread.join();
}

}  // namespace corvane::test
