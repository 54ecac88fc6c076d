#include "Sync/BandwidthThrottler.h"

#include <algorithm>
#include <utility>

#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// The whole bytes that `limit` bytes per second yield in `elapsed`, at most `limit`. Exact
// integer arithmetic: no overflow for any limit, no rounding below the true value.
std::int64_t accrued(std::int64_t limit, Clock::Duration elapsed)
{
    const std::int64_t nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    if (nanoseconds >= kNanosecondsPerSecond) {
        return limit;
    }
    const std::int64_t wholeSeconds = limit / kNanosecondsPerSecond;
    const std::int64_t rest = limit % kNanosecondsPerSecond;
    return wholeSeconds * nanoseconds + rest * nanoseconds / kNanosecondsPerSecond;
}

// min(limit, tokens + added) without overflowing.
std::int64_t refilled(std::int64_t tokens, std::int64_t added, std::int64_t limit)
{
    return tokens >= limit - added ? limit : tokens + added;
}

}  // namespace

const std::array<BandwidthThrottler::Preset, 6>& BandwidthThrottler::presets()
{
    static constexpr std::array<Preset, 6> kPresets{{
        {"Unlimited", 0},
        {"100 KB/s", 102400},
        {"500 KB/s", 512000},
        {"1 MB/s", 1048576},
        {"5 MB/s", 5242880},
        {"10 MB/s", 10485760},
    }};
    return kPresets;
}

BandwidthThrottler::BandwidthThrottler(std::shared_ptr<Clock> clock)
    : m_clock(std::move(clock)), m_lastRefill(m_clock->now())
{
}

std::int64_t BandwidthThrottler::uploadLimit() const
{
    return limit(Direction::upload);
}

std::int64_t BandwidthThrottler::downloadLimit() const
{
    return limit(Direction::download);
}

void BandwidthThrottler::setUploadLimit(std::int64_t bytesPerSecond)
{
    UserDefaults::standard()->setInteger(kUploadLimitKey, bytesPerSecond);
}

void BandwidthThrottler::setDownloadLimit(std::int64_t bytesPerSecond)
{
    UserDefaults::standard()->setInteger(kDownloadLimitKey, bytesPerSecond);
}

void BandwidthThrottler::waitForUpload(std::int64_t bytes)
{
    if (uploadLimit() <= 0) {
        return;
    }
    waitForTokens(bytes, Direction::upload);
}

void BandwidthThrottler::waitForDownload(std::int64_t bytes)
{
    if (downloadLimit() <= 0) {
        return;
    }
    waitForTokens(bytes, Direction::download);
}

std::int64_t BandwidthThrottler::uploadTokens() const
{
    std::lock_guard lock(m_mutex);
    return m_uploadTokens;
}

std::int64_t BandwidthThrottler::downloadTokens() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadTokens;
}

std::int64_t BandwidthThrottler::limit(Direction direction) const
{
    const char* key = direction == Direction::upload ? kUploadLimitKey : kDownloadLimitKey;
    return UserDefaults::standard()->integer(key).value_or(0);
}

void BandwidthThrottler::waitForTokens(std::int64_t bytes, Direction direction)
{
    std::int64_t remaining = bytes;
    while (remaining > 0) {
        // The limits are read before the lock is taken: the settings may touch the disk.
        const std::int64_t upload = uploadLimit();
        const std::int64_t download = downloadLimit();
        const std::int64_t current = direction == Direction::upload ? upload : download;
        if (current <= 0) {
            return;  // switched to unlimited while waiting
        }
        {
            std::lock_guard lock(m_mutex);
            refillTokensLocked(upload, download);
            std::int64_t& bucket =
                direction == Direction::upload ? m_uploadTokens : m_downloadTokens;
            const std::int64_t take = std::min(remaining, bucket);
            if (take > 0) {
                bucket -= take;
                remaining -= take;
            }
        }
        if (remaining > 0) {
            m_clock->sleepFor(kPollInterval);
        }
    }
}

void BandwidthThrottler::refillTokensLocked(std::int64_t uploadLimit, std::int64_t downloadLimit)
{
    const Clock::TimePoint now = m_clock->now();
    const Clock::Duration elapsed = now - m_lastRefill;
    if (elapsed <= Clock::Duration::zero()) {
        return;  // the refill time stays until the clock has passed it again
    }
    if (uploadLimit > 0) {
        m_uploadTokens = refilled(m_uploadTokens, accrued(uploadLimit, elapsed), uploadLimit);
    }
    if (downloadLimit > 0) {
        m_downloadTokens =
            refilled(m_downloadTokens, accrued(downloadLimit, elapsed), downloadLimit);
    }
    m_lastRefill = now;
}

}  // namespace corvane
