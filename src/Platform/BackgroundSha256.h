#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Platform/Sha256.h"

namespace corvane {

// SHA-256 of a stream, computed beside the thread that feeds it: large content goes in blocks to
// a worker thread, so that receiving a file and hashing it overlap instead of taking turns. Small
// content is hashed by finish() on the caller's thread, with no thread started. One feeding
// thread.
class BackgroundSha256 {
public:
    BackgroundSha256();
    // Drops what was not hashed yet and joins the worker.
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    void update(std::string_view bytes);
    // The hash of everything given to update(); throws what hashing threw.
    std::string finish();

private:
    static constexpr std::size_t kBlockSize = 1024 * 1024;
    static constexpr std::size_t kMostWaiting = 4;  // blocks handed over and not yet hashed

    void handOver();
    void work(const std::stop_token& stop);

    Sha256 m_hash;        // the worker's while it runs, then finish()'s
    std::string m_block;  // being filled by the feeding thread
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::string> m_waiting;  // guarded by m_mutex
    std::vector<std::string> m_spare;   // hashed blocks for reuse, guarded by m_mutex
    bool m_fed = false;                 // no more blocks come; guarded by m_mutex
    std::exception_ptr m_failure;       // the worker's; read by finish() once it ended
    std::jthread m_worker;              // last: started with the first full block
};

}  // namespace corvane
