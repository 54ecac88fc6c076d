#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Clock.h"

namespace corvane {

// The deletions this client has sent to the server, until the server's announcement of each
// comes back. An announcement of the file's content that was already on its way when the
// deletion was sent (the announcement of this client's own upload, say) is stale: it must not
// bring the file back. A mark also lapses after kLifetime, in case the announcement never
// comes (no push channel). It also keeps the id of the latest announcement heard. Thread-safe.
class RecentDeletions {
public:
    static constexpr std::chrono::seconds kLifetime{60};

    explicit RecentDeletions(std::shared_ptr<Clock> clock);

    void add(const std::string& path, const std::string& hash);
    // Whether content `hash` announced for `path` is what this client deleted there just now.
    bool isStale(const std::string& path, const std::string& hash) const;
    // The server announced the deletion: later announcements are news again.
    void confirm(const std::string& path);

    // Notes an announcement's id. The server numbers its changes in the order it stores them,
    // so every change stored after the latest announcement heard has a higher id.
    void noteAnnouncement(const std::string& id);
    // The latest announcement id heard; nothing before the first or when ids are no numbers.
    std::optional<std::string> lastAnnouncement() const;

private:
    struct Mark {
        std::string hash;
        Clock::TimePoint at;
    };

    const std::shared_ptr<Clock> m_clock;
    mutable std::mutex m_mutex;  // guards m_marks
    std::map<std::string, Mark> m_marks;
    std::int64_t m_lastAnnouncement = -1;  // guarded by m_mutex
};

}  // namespace corvane
