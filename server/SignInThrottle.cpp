#include "SignInThrottle.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace corvane::server {

namespace {

// "45 seconds", "1 minute", "12 minutes" (rounded up).
std::string waitText(std::int64_t seconds)
{
    if (seconds < 60) {
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

SignInThrottle::Refusal emailLocked(std::int64_t wait)
{
    return {"Too many wrong sign-in codes were entered for this address. Please wait " +
                waitText(wait) + " before trying again.",
            wait};
}

}  // namespace

std::optional<SignInThrottle::Refusal> SignInThrottle::admitCodeRequest(const std::string& emailKey,
                                                                        std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Tries& email = entry(m_emails, emailKey, now);
    if (const auto until = lockedUntil(email, kFreeFailuresPerEmail); now < until) {
        return emailLocked(until - now);
    }
    if (email.lastCodeRequest && now < *email.lastCodeRequest + kCodeRequestIntervalSeconds) {
        const std::int64_t wait = *email.lastCodeRequest + kCodeRequestIntervalSeconds - now;
        return Refusal{"A sign-in code was sent to this address moments ago. Please wait " +
                           waitText(wait) + " before asking for a new one.",
                       wait};
    }
    email.lastCodeRequest = now;
    return std::nullopt;
}

std::optional<SignInThrottle::Refusal>
SignInThrottle::admitAttempt(const std::string& emailKey, const std::string& peer, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Tries& client = entry(m_peers, peer, now);
    if (const auto until = lockedUntil(client, kFreeFailuresPerPeer); now < until) {
        return Refusal{"Too many failed sign-in attempts came from your network. Please wait " +
                           waitText(until - now) + " before trying again.",
                       until - now};
    }
    Tries& email = entry(m_emails, emailKey, now);
    if (const auto until = lockedUntil(email, kFreeFailuresPerEmail); now < until) {
        return emailLocked(until - now);
    }
    countFailure(client, now);
    countFailure(email, now);
    return std::nullopt;
}

void SignInThrottle::attemptSucceeded(const std::string& emailKey, const std::string& peer)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_emails.find(emailKey); found != m_emails.end()) {
        found->second.failures = 0;
        found->second.lastCodeRequest.reset();
    }
    if (const auto found = m_peers.find(peer); found != m_peers.end()) {
        found->second.failures = std::max(0, found->second.failures - 1);
    }
}

std::size_t SignInThrottle::trackedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_emails.size() + m_peers.size();
}

SignInThrottle::Tries& SignInThrottle::entry(Table& table, const std::string& key, std::int64_t now)
{
    auto found = table.find(key);
    if (found == table.end()) {
        makeRoom(table, now);
        found = table.emplace(key, Tries{}).first;
    }
    Tries& tries = found->second;
    if (tries.failures > 0 && now - tries.lastFailure >= kForgetAfterSeconds) {
        tries.failures = 0;
    }
    tries.lastActivity = now;
    return tries;
}

void SignInThrottle::makeRoom(Table& table, std::int64_t now)
{
    if (table.size() < kMaxTracked) {
        return;
    }
    // First what no longer matters; then, should that not free a tenth, the entries that matter
    // least. A tenth at a time, so that the cost spreads over many insertions.
    std::erase_if(table, [now](const auto& item) {
        const Tries& tries = item.second;
        const bool forgotten =
            tries.failures == 0 || now - tries.lastFailure >= kForgetAfterSeconds;
        const bool waitOver =
            !tries.lastCodeRequest || now >= *tries.lastCodeRequest + kCodeRequestIntervalSeconds;
        return forgotten && waitOver;
    });
    const std::size_t target = kMaxTracked - kMaxTracked / 10;
    if (table.size() <= target) {
        return;
    }
    // Those that only wait for a code request go before those holding failures (whose loss
    // would give an attacker fresh tries); within each, the least recently active first.
    using Rank = std::pair<bool, std::int64_t>;
    std::vector<std::pair<Rank, const std::string*>> order;
    order.reserve(table.size());
    for (const auto& [key, tries] : table) {
        order.push_back({{tries.failures > 0, tries.lastActivity}, &key});
    }
    const auto excess = static_cast<std::ptrdiff_t>(table.size() - target);
    std::nth_element(order.begin(), order.begin() + excess, order.end());
    std::vector<std::string> doomed;
    doomed.reserve(static_cast<std::size_t>(excess));
    for (auto it = order.begin(); it != order.begin() + excess; ++it) {
        doomed.push_back(*it->second);
    }
    for (const auto& key : doomed) {
        table.erase(key);
    }
}

std::int64_t SignInThrottle::lockedUntil(const Tries& tries, int freeFailures)
{
    if (tries.failures < freeFailures) {
        return 0;
    }
    // 1, 2, 4, ... minutes for the free failure and each one after it, at most an hour.
    const int doublings = std::min(tries.failures - freeFailures, 16);
    const std::int64_t lock = std::min(kFirstLockSeconds << doublings, kLongestLockSeconds);
    return tries.lastFailure + lock;
}

void SignInThrottle::countFailure(Tries& tries, std::int64_t now)
{
    ++tries.failures;
    tries.lastFailure = now;
}

}  // namespace corvane::server
