#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "Platform/Clock.h"

namespace corvane {

// Limits how fast transfers start, with one token bucket per direction. A transfer asks once,
// for its whole size, before it begins; the wait returns once the bucket has granted every
// byte. Tokens accrue at the limit (bytes per second) while somebody waits, and a bucket holds
// at most one second's worth after a refill, so idle time does not pile up a burst.
//
// The limits live in the standard settings ("uploadBandwidthLimit", "downloadBandwidthLimit",
// bytes per second; 0, less, missing or not a number = unlimited; a fraction counts as its whole
// part) and are read afresh on every use, so a change in the settings window counts at the next
// pass of a waiting transfer.
//
// Elapsed time comes from the monotonic clock: setting the wall clock back neither stalls a
// waiter nor adds tokens.
//
// Thread-safe. One mutex guards the buckets and is released while a waiter sleeps, so waiters
// interleave, each taking what its bucket holds in each 50 ms pass, with no fairness between
// them. waitForUpload() and waitForDownload() block: background threads only.
class BandwidthThrottler {
public:
    struct Preset {
        std::string_view label;
        std::int64_t bytesPerSecond;
    };

    static constexpr const char* kUploadLimitKey = "uploadBandwidthLimit";
    static constexpr const char* kDownloadLimitKey = "downloadBandwidthLimit";
    // How long a waiter sleeps between passes.
    static constexpr std::chrono::milliseconds kPollInterval{50};

    // The choices of the settings window, in order.
    static const std::array<Preset, 6>& presets();

    // Both buckets empty; the refill clock starts now.
    explicit BandwidthThrottler(std::shared_ptr<Clock> clock = Clock::system());

    std::int64_t uploadLimit() const;
    std::int64_t downloadLimit() const;
    // Stored in the settings; the buckets change only at the next refill.
    void setUploadLimit(std::int64_t bytesPerSecond);
    void setDownloadLimit(std::int64_t bytesPerSecond);

    void waitForUpload(std::int64_t bytes);
    void waitForDownload(std::int64_t bytes);

    // What the buckets hold now, without refilling (for tests and diagnostics).
    std::int64_t uploadTokens() const;
    std::int64_t downloadTokens() const;

private:
    enum class Direction { upload, download };

    std::int64_t limit(Direction direction) const;
    void waitForTokens(std::int64_t bytes, Direction direction);
    // Adds the time since the last refill to both limited buckets. Under m_mutex.
    void refillTokensLocked(std::int64_t uploadLimit, std::int64_t downloadLimit);

    const std::shared_ptr<Clock> m_clock;

    mutable std::mutex m_mutex;  // guards the members below
    std::int64_t m_uploadTokens = 0;
    std::int64_t m_downloadTokens = 0;
    Clock::TimePoint m_lastRefill;
};

}  // namespace corvane
