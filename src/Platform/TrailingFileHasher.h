#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Platform/Sha256.h"

namespace corvane {

// Hashes the bytes a writer appends to a file on a thread of its own, reading them back from the
// page cache shortly after they are written, so that a large download's socket reads and its
// hashing run side by side instead of one after the other.
//
// The writer's thread calls written() and finish(); the digest is touched only by the hashing
// thread until finish() returns.
class TrailingFileHasher {
public:
    // Hashes the file from `offset` on into `digest`, which already holds the bytes before it.
    // `file` must be open for reading and outlive this object.
    TrailingFileHasher(int file, std::filesystem::path path, Sha256& digest, std::uint64_t offset);
    // Stops hashing where it is; the digest is then incomplete.
    ~TrailingFileHasher();
    TrailingFileHasher(const TrailingFileHasher&) = delete;
    TrailingFileHasher& operator=(const TrailingFileHasher&) = delete;

    // The file holds the writer's bytes up to `end`.
    void written(std::uint64_t end);
    // Returns once every written byte is in the digest. Throws FileError when a byte could not be
    // read back (the file was cut short meanwhile), or what the digest threw.
    void finish();

private:
    void run();
    // Waits for bytes to hash; returns the end of those to read, or `m_hashed` when done.
    std::uint64_t nextEnd();

    const int m_file;
    const std::filesystem::path m_path;
    Sha256& m_digest;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_written;       // guarded by m_mutex
    std::uint64_t m_hashed;        // guarded by m_mutex
    bool m_finishing = false;      // guarded by m_mutex
    bool m_stopping = false;       // guarded by m_mutex
    std::exception_ptr m_failure;  // guarded by m_mutex
    std::thread m_thread;          // last: started once the state above exists
};

}  // namespace corvane
