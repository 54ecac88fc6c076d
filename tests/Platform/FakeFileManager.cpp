#include "Platform/FakeFileManager.h"

#include <cstdlib>
#include <utility>

#include "Platform/SdBus.h"

namespace corvane::test {

namespace {

int recordShowItems(sd_bus_message* message, void* userdata, sd_bus_error* error)
{
    auto& manager = *static_cast<FakeFileManager*>(userdata);
    FakeFileManager::ShowItemsCall call;
    char** uris = nullptr;
    if (sd_bus_message_read_strv(message, &uris) < 0) {
        return -1;
    }
    for (char** entry = uris; entry && *entry; ++entry) {
        call.uris.emplace_back(*entry);
        std::free(*entry);
    }
    std::free(uris);
    const char* startupId = nullptr;
    if (sd_bus_message_read(message, "s", &startupId) < 0) {
        return -1;
    }
    call.startupId = startupId;
    manager.record(std::move(call));
    if (manager.refuses()) {
        return sd_bus_error_set(error, "org.freedesktop.DBus.Error.Failed", "refused");
    }
    return sd_bus_reply_method_return(message, "");
}

}  // namespace

FakeFileManager::FakeFileManager(const std::string& address, bool refuse) : m_refuse(refuse)
{
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("ShowItems", "ass", "", &recordShowItems, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    m_service = std::make_unique<FakeBusService>(address, "org.freedesktop.FileManager1",
                                                 "/org/freedesktop/FileManager1",
                                                 "org.freedesktop.FileManager1", kVtable, this);
}

FakeFileManager::~FakeFileManager() = default;

std::vector<FakeFileManager::ShowItemsCall> FakeFileManager::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

bool FakeFileManager::waitForCalls(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
}

void FakeFileManager::record(ShowItemsCall call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_changed.notify_all();
}

}  // namespace corvane::test
