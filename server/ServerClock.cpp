#include "ServerClock.h"

#include <ctime>

namespace corvane::server {

ServerClock::TimePoint ServerClock::now() const
{
    const std::int64_t frozenAt = m_frozenAtSeconds.load();
    const TimePoint base = frozenAt == kRunning ? std::chrono::system_clock::now()
                                                : TimePoint(std::chrono::seconds(frozenAt));
    return base + std::chrono::seconds(m_offsetSeconds.load());
}

std::int64_t ServerClock::nowSeconds() const
{
    return std::chrono::duration_cast<std::chrono::seconds>(now().time_since_epoch()).count();
}

std::string ServerClock::nowText() const
{
    return isoText(now());
}

void ServerClock::advance(std::chrono::seconds by)
{
    m_offsetSeconds += by.count();
}

void ServerClock::freeze()
{
    std::int64_t running = kRunning;
    const auto realNow = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    m_frozenAtSeconds.compare_exchange_strong(running, realNow.count());
}

std::string ServerClock::isoText(TimePoint time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace corvane::server
