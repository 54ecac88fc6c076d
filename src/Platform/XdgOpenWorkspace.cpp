#include "Platform/XdgOpenWorkspace.h"

#include <cstdint>
#include <utility>

#include "Platform/DetachedProcess.h"
#include "Platform/SdBus.h"
#include "Platform/SerialQueue.h"

namespace corvane {
namespace {

constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
constexpr const char* kFileManagerInterface = "org.freedesktop.FileManager1";
// Long enough for the bus to start a file manager that is not running yet.
constexpr std::uint64_t kShowItemsTimeoutMicros = 10'000'000;

}  // namespace

XdgOpenWorkspace::XdgOpenWorkspace(std::string opener, std::optional<std::string> busAddress)
    : m_opener(std::move(opener)), m_busAddress(std::move(busAddress))
{
}

XdgOpenWorkspace::~XdgOpenWorkspace() = default;

bool XdgOpenWorkspace::openURL(const std::string& url)
{
    if (url.empty() || url.front() == '-') {
        return false;
    }
    return DetachedProcess::launch({m_opener, url});
}

bool XdgOpenWorkspace::selectFile(const std::filesystem::path& file)
{
    if (!file.is_absolute()) {
        return false;
    }
    queue().async([this, file] {
        if (!showItem(file)) {
            openURL(fileURL(file.parent_path()));
        }
    });
    return true;
}

bool XdgOpenWorkspace::showItem(const std::filesystem::path& file) const
{
    const SdBusPtr bus = connectToSessionBus(m_busAddress);
    if (!bus) {
        return false;
    }
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &raw, kFileManagerService, kFileManagerPath,
                                       kFileManagerInterface, "ShowItems") < 0) {
        return false;
    }
    const SdBusMessagePtr message(raw);
    const std::string uri = fileURL(file);
    // One item and no start-up id: the desktop has no launch to tie the window to.
    if (sd_bus_message_append(raw, "ass", 1, uri.c_str(), "") < 0) {
        return false;
    }
    SdBusError error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call(bus.get(), raw, kShowItemsTimeoutMicros, error.get(), &reply);
    const SdBusMessagePtr ownedReply(reply);
    return result >= 0;
}

SerialQueue& XdgOpenWorkspace::queue()
{
    // Made on first use: most owners (the file-manager extension) never select a file.
    std::call_once(m_queueMade,
                   [this] { m_queue = std::make_unique<SerialQueue>("com.corvane.workspace"); });
    return *m_queue;
}

}  // namespace corvane
