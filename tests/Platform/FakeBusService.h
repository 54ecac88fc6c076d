#pragma once

#include <string>
#include <thread>

#include "Platform/SdBus.h"

namespace corvane::test {

// The bus side of a service of a test's own: one object with `vtable` at `path` under
// `interface`, the well-known `name` taken before the constructor returns, calls served on a
// thread of its own until destruction, with `userdata` handed to the handlers. Throws when it
// cannot connect, add the object or take the name. Declare it last in its owner, so that it stops
// serving before what the handlers touch goes.
class FakeBusService {
public:
    FakeBusService(const std::string& address, const char* name, const char* path,
                   const char* interface, const sd_bus_vtable* vtable, void* userdata);
    ~FakeBusService();
    FakeBusService(const FakeBusService&) = delete;
    FakeBusService& operator=(const FakeBusService&) = delete;

private:
    SdBusPtr m_bus;
    SdBusSlotPtr m_object;
    std::jthread m_thread;
};

}  // namespace corvane::test
