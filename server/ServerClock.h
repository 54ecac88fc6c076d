#pragma once

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <string>

namespace corvane::server {

// The server's notion of "now": the system clock plus an offset that tests may move forward
// (POST /__test/clock), so expiry can be tested without waiting. A test that compares waits to
// the second may also stop the clock, so that no second passes between two of its requests.
// Thread-safe.
class ServerClock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    TimePoint now() const;
    std::int64_t nowSeconds() const;  // Unix seconds
    std::string nowText() const;      // ISO-8601 UTC, e.g. "2024-05-01T12:00:00Z"
    void advance(std::chrono::seconds by);
    // From now on the time moves only through advance().
    void freeze();

    static std::string isoText(TimePoint time);

private:
    static constexpr std::int64_t kRunning = INT64_MIN;

    std::atomic<std::int64_t> m_offsetSeconds{0};
    std::atomic<std::int64_t> m_frozenAtSeconds{kRunning};  // Unix seconds, before the offset
};

}  // namespace corvane::server
