#include "Platform/SystemLog.h"

#include <mutex>
#include <utility>

#include <syslog.h>

namespace corvane {
namespace {

struct CaptureSlot {
    std::mutex mutex;
    SystemLog::Capture::Sink sink;
};

CaptureSlot& captureSlot()
{
    static CaptureSlot slot;
    return slot;
}

}  // namespace

SystemLog::SystemLog(std::string category) : m_category(std::move(category)) {}

void SystemLog::error(const std::string& message) const
{
    {
        std::lock_guard lock(captureSlot().mutex);
        if (captureSlot().sink) {
            captureSlot().sink(m_category, message);
            return;
        }
    }
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog(kIdent, LOG_PID, LOG_USER); });
    ::syslog(LOG_ERR, "%s: %s", m_category.c_str(), message.c_str());
}

SystemLog::Capture::Capture(Sink sink)
{
    std::lock_guard lock(captureSlot().mutex);
    captureSlot().sink = std::move(sink);
}

SystemLog::Capture::~Capture()
{
    std::lock_guard lock(captureSlot().mutex);
    captureSlot().sink = nullptr;
}

}  // namespace corvane
