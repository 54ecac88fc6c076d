#include "Sync/RecentDeletions.h"

#include <algorithm>
#include <charconv>

namespace corvane {

RecentDeletions::RecentDeletions(std::shared_ptr<Clock> clock) : m_clock(std::move(clock)) {}

void RecentDeletions::add(const std::string& path, const std::string& hash)
{
    const auto now = m_clock->now();
    std::lock_guard lock(m_mutex);
    std::erase_if(m_marks, [&](const auto& entry) { return now - entry.second.at > kLifetime; });
    m_marks[path] = Mark{hash, now};
}

bool RecentDeletions::isStale(const std::string& path, const std::string& hash) const
{
    const auto now = m_clock->now();
    std::lock_guard lock(m_mutex);
    const auto found = m_marks.find(path);
    return found != m_marks.end() && found->second.hash == hash &&
           now - found->second.at <= kLifetime;
}

void RecentDeletions::confirm(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_marks.erase(path);
}

void RecentDeletions::noteAnnouncement(const std::string& id)
{
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (error != std::errc() || end != id.data() + id.size()) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_lastAnnouncement = std::max(m_lastAnnouncement, number);
}

std::optional<std::string> RecentDeletions::lastAnnouncement() const
{
    std::lock_guard lock(m_mutex);
    if (m_lastAnnouncement < 0) {
        return std::nullopt;
    }
    return std::to_string(m_lastAnnouncement);
}

}  // namespace corvane
