#include <gtest/gtest.h>

#include "SignInThrottle.h"

namespace corvane::server {
namespace {

constexpr std::int64_t kStart = 1'700'000'000;
const std::string kEmail = "ada@example.com";
const std::string kPeer = "192.0.2.1";

using Throttle = SignInThrottle;

// `count` admitted tries that all fail, a second apart from `now` on; returns the time after.
std::int64_t failTries(SignInThrottle& throttle, int count, std::int64_t now,
                       const std::string& email = kEmail, const std::string& peer = kPeer)
{
    for (int i = 0; i < count; ++i, ++now) {
        const auto refusal = throttle.admitAttempt(email, peer, now);
        EXPECT_FALSE(refusal) << "try " << i + 1 << ": " << refusal->message;
    }
    return now;
}

TEST(SignInThrottle, CodeRequestsForOneAddressComeAtMostEveryThirtySeconds)
{
    SignInThrottle throttle;
    EXPECT_FALSE(throttle.admitCodeRequest(kEmail, kStart));
    const auto early = throttle.admitCodeRequest(kEmail, kStart + 5);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->retryAfterSeconds, 25);
    EXPECT_EQ(early->message, "A sign-in code was sent to this address moments ago. Please wait "
                              "25 seconds before asking for a new one.");
    // Another address is not held back, and a refused request does not restart the wait.
    EXPECT_FALSE(throttle.admitCodeRequest("bob@example.com", kStart + 5));
    EXPECT_EQ(throttle.admitCodeRequest(kEmail, kStart + 29)->retryAfterSeconds, 1);
    EXPECT_FALSE(throttle.admitCodeRequest(kEmail, kStart + 30));

    // A successful sign-in lifts the wait.
    ASSERT_FALSE(throttle.admitAttempt(kEmail, kPeer, kStart + 31));
    throttle.attemptSucceeded(kEmail, kPeer);
    EXPECT_FALSE(throttle.admitCodeRequest(kEmail, kStart + 32));
}

TEST(SignInThrottle, FiveFailuresLockTheAddressForAGrowingTime)
{
    SignInThrottle throttle;
    std::int64_t now = failTries(throttle, Throttle::kFreeFailuresPerEmail, kStart);
    // Each failure past the free ones locks again, twice as long, up to an hour.
    const std::int64_t expected[] = {60, 120, 240, 480, 960, 1920, 3600, 3600};
    for (const std::int64_t lock : expected) {
        const std::int64_t lockedAt = now - 1;
        const auto refused = throttle.admitAttempt(kEmail, "198.51.100.7", now);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->retryAfterSeconds, lockedAt + lock - now);
        // Asking for a new code changes nothing.
        EXPECT_TRUE(throttle.admitCodeRequest(kEmail, now));
        now = lockedAt + lock;
        now = failTries(throttle, 1, now, kEmail, "198.51.100." + std::to_string(lock % 200));
    }
    EXPECT_EQ(throttle.admitAttempt(kEmail, kPeer, now)->message,
              "Too many wrong sign-in codes were entered for this address. Please wait 60 "
              "minutes before trying again.");
    // Other addresses are not locked.
    EXPECT_FALSE(throttle.admitAttempt("bob@example.com", "203.0.113.9", now));
}

TEST(SignInThrottle, ANewCodeDoesNotResetTheCountButASuccessDoes)
{
    SignInThrottle throttle;
    std::int64_t now = failTries(throttle, 4, kStart);
    now += Throttle::kCodeRequestIntervalSeconds;
    EXPECT_FALSE(throttle.admitCodeRequest(kEmail, now));
    now = failTries(throttle, 1, now);
    EXPECT_TRUE(throttle.admitAttempt(kEmail, kPeer, now));

    now += Throttle::kFirstLockSeconds;
    ASSERT_FALSE(throttle.admitAttempt(kEmail, kPeer, now));
    throttle.attemptSucceeded(kEmail, kPeer);
    failTries(throttle, Throttle::kFreeFailuresPerEmail, now + 1);
}

TEST(SignInThrottle, TriesSentTogetherAreCountedBeforeTheirOutcome)
{
    // Admitted tries whose answers are still out count already: a burst cannot slip past.
    SignInThrottle throttle;
    int admitted = 0;
    for (int i = 0; i < 1000; ++i) {
        admitted +=
            throttle.admitAttempt(kEmail, "10.0.0." + std::to_string(i % 250), kStart) ? 0 : 1;
    }
    EXPECT_EQ(admitted, Throttle::kFreeFailuresPerEmail);
}

TEST(SignInThrottle, AClientFailingAgainstManyAddressesIsHeldBack)
{
    SignInThrottle throttle;
    std::int64_t now = kStart;
    for (int i = 0; i < Throttle::kFreeFailuresPerPeer; ++i) {
        now = failTries(throttle, 1, now, "user" + std::to_string(i) + "@example.com");
    }
    const auto refused = throttle.admitAttempt("fresh@example.com", kPeer, now);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, "Too many failed sign-in attempts came from your network. Please "
                                "wait 59 seconds before trying again.");
    EXPECT_EQ(refused->retryAfterSeconds, 59);
    // Another client is not.
    EXPECT_FALSE(throttle.admitAttempt("fresh@example.com", "203.0.113.9", now));

    // A success of its own takes back only that try: the client stays held back.
    now += Throttle::kFirstLockSeconds;
    ASSERT_FALSE(throttle.admitAttempt("mine@example.com", kPeer, now));
    throttle.attemptSucceeded("mine@example.com", kPeer);
    EXPECT_TRUE(throttle.admitAttempt("another@example.com", kPeer, now + 1));
}

TEST(SignInThrottle, CountsAreForgottenADayAfterTheLastFailure)
{
    SignInThrottle throttle;
    const std::int64_t now = failTries(throttle, Throttle::kFreeFailuresPerEmail, kStart);
    EXPECT_TRUE(throttle.admitAttempt(kEmail, kPeer, now));
    const std::int64_t later = now - 1 + Throttle::kForgetAfterSeconds;
    failTries(throttle, Throttle::kFreeFailuresPerEmail, later);
}

TEST(SignInThrottle, TrackedAddressesStayBounded)
{
    SignInThrottle throttle;
    const std::int64_t now = failTries(throttle, Throttle::kFreeFailuresPerEmail, kStart);
    // Code requests for many addresses, all within the same second: nothing is forgotten yet.
    for (std::size_t i = 0; i < Throttle::kMaxTracked + 1000; ++i) {
        ASSERT_FALSE(throttle.admitCodeRequest("u" + std::to_string(i) + "@example.com", now));
    }
    EXPECT_LE(throttle.trackedCount(), Throttle::kMaxTracked + 1);
    // Addresses that only wait for a code request go first: the locked one stays locked.
    EXPECT_TRUE(throttle.admitAttempt(kEmail, "203.0.113.9", now + 1));
}

}  // namespace
}  // namespace corvane::server
