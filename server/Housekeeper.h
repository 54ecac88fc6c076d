#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace corvane::server {

class BlobStore;
class ServerClock;
class Store;

// Removes what the server no longer needs, in rounds: pending uploads past their time, then
// blobs that no file (conflict copies included) and no pending upload refers to, then blob files
// that the database does not know (left by a run that died between writing and recording them).
// A round runs when the housekeeper is made, before the server takes requests, and then every
// `interval` on its own thread. Thread-safe: rounds never overlap.
class Housekeeper {
public:
    static constexpr std::chrono::hours kInterval{1};

    struct Round {
        std::int64_t expiredUploads = 0;
        std::int64_t removedBlobs = 0;
    };

    Housekeeper(Store& store, const BlobStore& blobs, const ServerClock& clock,
                std::chrono::milliseconds interval = kInterval);
    ~Housekeeper();  // stops the thread and waits for it (the jthread does)
    Housekeeper(const Housekeeper&) = delete;
    Housekeeper& operator=(const Housekeeper&) = delete;

    // One round now. Throws what the database or the disk throws.
    Round collect();

private:
    // A round whose failure is logged; the next one tries again.
    void collectLogged();
    void run(std::stop_token stop);

    Store& m_store;
    const BlobStore& m_blobs;
    const ServerClock& m_clock;
    const std::chrono::milliseconds m_interval;
    std::mutex m_roundMutex;  // held through a round
    std::mutex m_waitMutex;
    std::condition_variable_any m_wake;
    std::jthread m_thread;  // last: stopped and joined before the members it uses go
};

}  // namespace corvane::server
