#include "Sync/BandwidthThrottler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Platform/Clock.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// One direction of the throttler, so that every timing holds for uploads and downloads alike.
struct Direction {
    std::string name;
    const char* key;
    void (BandwidthThrottler::*setLimit)(std::int64_t);
    void (BandwidthThrottler::*wait)(std::int64_t);
    std::int64_t (BandwidthThrottler::*tokens)() const;
    std::int64_t (BandwidthThrottler::*limit)() const;
};

void PrintTo(const Direction& direction, std::ostream* out)
{
    *out << direction.name;
}

const Direction kUpload{"upload",
                        BandwidthThrottler::kUploadLimitKey,
                        &BandwidthThrottler::setUploadLimit,
                        &BandwidthThrottler::waitForUpload,
                        &BandwidthThrottler::uploadTokens,
                        &BandwidthThrottler::uploadLimit};
const Direction kDownload{"download",
                          BandwidthThrottler::kDownloadLimitKey,
                          &BandwidthThrottler::setDownloadLimit,
                          &BandwidthThrottler::waitForDownload,
                          &BandwidthThrottler::downloadTokens,
                          &BandwidthThrottler::downloadLimit};

class BandwidthThrottlerTest : public testing::Test {
protected:
    BandwidthThrottlerTest() { UserDefaults::resetShared(); }
    ~BandwidthThrottlerTest() override { UserDefaults::resetShared(); }

    // Runs each wait on a thread of its own and plays the clock: whenever every unfinished
    // waiter sleeps, `beforeStep` runs and the clock moves on by one poll interval. Returns the
    // clock time each wait took.
    std::vector<Clock::Duration> runWaits(const std::vector<std::function<void()>>& waits,
                                          const std::function<void(int step)>& beforeStep = {})
    {
        const std::size_t count = waits.size();
        std::vector<Clock::Duration> took(count);
        std::vector<std::atomic<bool>> done(count);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < count; ++i) {
            threads.emplace_back([&, i] {
                const auto start = m_clock->now();
                waits[i]();
                took[i] = m_clock->now() - start;
                done[i] = true;
            });
        }
        constexpr int kMaxSteps = 10000;
        int step = 0;
        while (true) {
            const auto running =
                static_cast<std::size_t>(std::count(done.begin(), done.end(), false));
            if (running == 0) {
                break;
            }
            if (!m_clock->waitForSleepers(running, 2ms)) {
                continue;  // somebody is between passes, or has just finished
            }
            if (step == kMaxSteps) {
                ADD_FAILURE() << "the waits did not end; releasing them";
                m_throttler.setUploadLimit(0);
                m_throttler.setDownloadLimit(0);
            }
            if (beforeStep) {
                beforeStep(step);
            }
            ++step;
            m_clock->advance(BandwidthThrottler::kPollInterval);
        }
        for (auto& thread : threads) {
            thread.join();
        }
        return took;
    }

    Clock::Duration runWait(const std::function<void()>& wait,
                            const std::function<void(int step)>& beforeStep = {})
    {
        return runWaits({wait}, beforeStep).front();
    }

    test::TempHome m_home;
    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
    BandwidthThrottler m_throttler{m_clock};
};

class BandwidthThrottlerDirectionTest : public BandwidthThrottlerTest,
                                        public testing::WithParamInterface<Direction> {
protected:
    void setLimit(std::int64_t limit) { (m_throttler.*GetParam().setLimit)(limit); }
    std::function<void()> wait(std::int64_t bytes)
    {
        return [this, bytes] { (m_throttler.*GetParam().wait)(bytes); };
    }
    std::int64_t tokens() const { return (m_throttler.*GetParam().tokens)(); }
    std::int64_t limit() const { return (m_throttler.*GetParam().limit)(); }
};

TEST_P(BandwidthThrottlerDirectionTest, UnlimitedReturnsAtOnceAndTouchesNoBucket)
{
    m_clock->advance(500ms);
    for (const nlohmann::json& stored :
         {nlohmann::json(nullptr), nlohmann::json(0), nlohmann::json(-5), nlohmann::json("102400"),
          nlohmann::json(true), nlohmann::json::array({102400})}) {
        SCOPED_TRACE(stored.dump());
        if (stored.is_null()) {
            UserDefaults::standard()->remove(GetParam().key);
        } else {
            UserDefaults::standard()->setJSON(GetParam().key, stored);
        }
        EXPECT_LE(limit(), 0);
        EXPECT_EQ(runWait(wait(1000000000)), 0ns);
        EXPECT_EQ(tokens(), 0);
    }
    // The refill time did not move either: the half second since creation is still there.
    setLimit(102400);
    EXPECT_EQ(runWait(wait(51200)), 0ns);
    EXPECT_EQ(tokens(), 0);
}

TEST_P(BandwidthThrottlerDirectionTest, NothingToSendReturnsAtOnceWithoutARefill)
{
    setLimit(102400);
    m_clock->advance(2s);
    for (const std::int64_t bytes : {0, -1, -1000000}) {
        EXPECT_EQ(runWait(wait(bytes)), 0ns) << bytes;
        EXPECT_EQ(tokens(), 0) << bytes;
    }
}

TEST_P(BandwidthThrottlerDirectionTest, AFullSecondAfterCreationGrantsTheLimitAtOnce)
{
    setLimit(1048576);
    m_clock->advance(1s);
    EXPECT_EQ(runWait(wait(1048576)), 0ns);
    EXPECT_EQ(tokens(), 0);
}

TEST_P(BandwidthThrottlerDirectionTest, IdleTimeFillsOneSecondAndTheRestAccruesAtTheLimit)
{
    setLimit(102400);
    m_clock->advance(1h);
    // 102400 at once, then 5120 per 50 ms pass for the remaining 409600: 80 passes.
    EXPECT_EQ(runWait(wait(512000)), 4s);
    EXPECT_EQ(tokens(), 0);
}

TEST_P(BandwidthThrottlerDirectionTest, TwoWaitersShareTheBucket)
{
    setLimit(102400);
    m_clock->advance(1h);
    std::vector<Clock::Duration> took = runWaits({wait(102400), wait(102400)});
    std::sort(took.begin(), took.end());
    EXPECT_EQ(took, (std::vector<Clock::Duration>{0s, 1s}));
}

TEST_P(BandwidthThrottlerDirectionTest, SwitchingToUnlimitedEndsAWaitAtItsNextPass)
{
    setLimit(102400);
    const auto took = runWait(wait(1000000000), [&](int step) {
        if (step == 3) {
            setLimit(0);
        }
    });
    EXPECT_EQ(took, 200ms);
}

TEST_P(BandwidthThrottlerDirectionTest, LoweringALimitTrimsTheBucketAtTheNextRefill)
{
    setLimit(1048576);
    m_clock->advance(2s);
    EXPECT_EQ(runWait(wait(1)), 0ns);
    EXPECT_EQ(tokens(), 1048575);
    setLimit(102400);
    EXPECT_EQ(tokens(), 1048575);  // a new limit alone changes no bucket
    m_clock->advance(10ms);
    EXPECT_EQ(runWait(wait(1)), 0ns);
    EXPECT_EQ(tokens(), 102399);
}

TEST_P(BandwidthThrottlerDirectionTest, AClockThatStepsBackAddsNothingUntilItPassesTheLastRefill)
{
    setLimit(102400);
    m_clock->advance(2s);
    EXPECT_EQ(runWait(wait(1)), 0ns);
    EXPECT_EQ(tokens(), 102399);
    // Ten seconds back: the passes add nothing until the clock is back at the last refill,
    // then the one missing byte accrues in the next pass.
    m_clock->advance(-10s);
    EXPECT_EQ(runWait(wait(102400)), 10s + 50ms);
    EXPECT_EQ(tokens(), 5120 - 1);
}

// Production waits measure elapsed time on the monotonic clock, which setting the wall clock
// back does not move: the step above cannot happen to them.
static_assert(std::is_same_v<Clock::TimePoint, std::chrono::steady_clock::time_point>);
static_assert(std::chrono::steady_clock::is_steady);

TEST_P(BandwidthThrottlerDirectionTest, AnEnormousLimitNeitherOverflowsNorStalls)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    setLimit(kMax);
    m_clock->advance(1h);
    EXPECT_EQ(runWait(wait(kMax / 2)), 0ns);
    EXPECT_EQ(tokens(), kMax - kMax / 2);
    // Half a bucket left, then a twentieth of the limit per pass: ten passes.
    m_clock->advance(50ms);
    EXPECT_EQ(runWait(wait(kMax)), 500ms);
    EXPECT_GE(tokens(), 0);
    EXPECT_LT(tokens(), kMax / 20);
}

INSTANTIATE_TEST_SUITE_P(Directions, BandwidthThrottlerDirectionTest,
                         testing::Values(kUpload, kDownload),
                         [](const auto& info) { return info.param.name; });

TEST_F(BandwidthThrottlerTest, BothBucketsShareTheRefillClock)
{
    m_throttler.setUploadLimit(102400);
    m_throttler.setDownloadLimit(204800);
    m_clock->advance(1s);
    EXPECT_EQ(runWait([&] { m_throttler.waitForUpload(1); }), 0ns);
    EXPECT_EQ(m_throttler.uploadTokens(), 102399);
    EXPECT_EQ(m_throttler.downloadTokens(), 204800);  // refilled by the upload's pass
    // The refill time moved for downloads too: nothing more has accrued.
    EXPECT_EQ(runWait([&] { m_throttler.waitForDownload(204800); }), 0ns);
    EXPECT_EQ(runWait([&] { m_throttler.waitForDownload(5120); }), 50ms);
}

TEST_F(BandwidthThrottlerTest, AnUploadAndADownloadWaitSideBySide)
{
    m_throttler.setUploadLimit(102400);
    m_throttler.setDownloadLimit(51200);
    const auto took = runWaits(
        {[&] { m_throttler.waitForUpload(102400); }, [&] { m_throttler.waitForDownload(102400); }});
    EXPECT_EQ(took, (std::vector<Clock::Duration>{1s, 2s}));
}

TEST_F(BandwidthThrottlerTest, LimitsAreReadFromTheSettingsEveryTime)
{
    EXPECT_EQ(m_throttler.uploadLimit(), 0);
    m_throttler.setUploadLimit(512000);
    EXPECT_EQ(UserDefaults::standard()->integer("uploadBandwidthLimit"), 512000);
    UserDefaults::standard()->setInteger("downloadBandwidthLimit", 1048576);
    EXPECT_EQ(m_throttler.downloadLimit(), 1048576);
    UserDefaults::standard()->setJSON("downloadBandwidthLimit", "fast");
    EXPECT_EQ(m_throttler.downloadLimit(), 0);
}

TEST(BandwidthThrottlerPresetsTest, TheSettingsChoicesInOrder)
{
    std::vector<std::pair<std::string, std::int64_t>> presets;
    for (const auto& preset : BandwidthThrottler::presets()) {
        presets.emplace_back(preset.label, preset.bytesPerSecond);
    }
    EXPECT_EQ(presets, (std::vector<std::pair<std::string, std::int64_t>>{
                           {"Unlimited", 0},
                           {"100 KB/s", 102400},
                           {"500 KB/s", 512000},
                           {"1 MB/s", 1048576},
                           {"5 MB/s", 5242880},
                           {"10 MB/s", 10485760},
                       }));
}

}  // namespace
}  // namespace corvane
