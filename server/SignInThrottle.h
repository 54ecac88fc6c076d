#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace corvane::server {

// Keeps sign-in codes from being guessed online. A code has six digits, so what bounds an
// attacker is the number of tries, not the code:
//
// - An e-mail address: every try counts, whichever code it was for (a new code resets nothing);
//   after 5 failed tries in a row the address is locked, for 1 minute, and every further failure
//   locks it again for twice as long, up to 1 hour: about 24 tries a day once the free ones are
//   spent. A successful sign-in clears the count.
// - A client address (the peer's IP), against any e-mail address: the same back-off after 20
//   failed tries, so that one client cannot spread its guesses over many accounts. A successful
//   sign-in does not clear it (an attacker could sign in to an account of their own).
// - Code requests: at most one per e-mail address every 30 seconds, so that nobody's mailbox can
//   be flooded; a successful sign-in lifts the wait, since its requester has shown to read that
//   mailbox.
//
// A try is counted when it is admitted, before the code is checked, so that tries sent in
// parallel cannot slip past the limit together; a success takes its count back. Counts are
// forgotten a day after the last failure. At most kMaxTracked addresses of each kind are kept
// (those without failures go first, then the least recently active), so the memory held stays
// bounded.
//
// Times are Unix seconds of the server's clock. Thread-safe.
class SignInThrottle {
public:
    static constexpr int kFreeFailuresPerEmail = 5;
    static constexpr int kFreeFailuresPerPeer = 20;
    static constexpr std::int64_t kFirstLockSeconds = 60;
    static constexpr std::int64_t kLongestLockSeconds = 60 * 60;
    static constexpr std::int64_t kCodeRequestIntervalSeconds = 30;
    static constexpr std::int64_t kForgetAfterSeconds = 24 * 60 * 60;
    static constexpr std::size_t kMaxTracked = 100'000;

    // Why a request must wait: the text for the user and the seconds until it may come again.
    struct Refusal {
        std::string message;
        std::int64_t retryAfterSeconds = 0;
    };

    // Nothing when a code may be sent to this address now (the request is then recorded).
    std::optional<Refusal> admitCodeRequest(const std::string& emailKey, std::int64_t now);
    // Nothing when the peer may try a code for this address now; the try then counts as failed
    // until attemptSucceeded() says otherwise.
    std::optional<Refusal> admitAttempt(const std::string& emailKey, const std::string& peer,
                                        std::int64_t now);
    void attemptSucceeded(const std::string& emailKey, const std::string& peer);

    // How many e-mail and client addresses are tracked.
    std::size_t trackedCount() const;

private:
    struct Tries {
        int failures = 0;
        std::int64_t lastFailure = 0;
        std::optional<std::int64_t> lastCodeRequest;  // e-mail addresses only
        std::int64_t lastActivity = 0;
    };
    using Table = std::unordered_map<std::string, Tries>;

    // The entry for `key`, with counts that are due forgotten reset.
    static Tries& entry(Table& table, const std::string& key, std::int64_t now);
    static void makeRoom(Table& table, std::int64_t now);
    // When the lock that `freeFailures` and the count give ends (in the past when there is none).
    static std::int64_t lockedUntil(const Tries& tries, int freeFailures);
    static void countFailure(Tries& tries, std::int64_t now);

    mutable std::mutex m_mutex;
    Table m_emails;  // guarded by m_mutex
    Table m_peers;   // guarded by m_mutex
};

}  // namespace corvane::server
