#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace corvane {

// Writes a stream to an open file from a thread of its own, in large blocks: the feeding thread
// copies what it gets into the current block and hands each full one over, so that it goes on
// (receiving, hashing) while the disk takes the block, and a write that the kernel holds back
// (dirty-page pacing) holds up only this writer. Few large writes instead of many small ones.
// Content smaller than a block is written by finish() on the caller's thread, with no thread
// started. One feeding thread.
class BackgroundFileWriter {
public:
    static constexpr std::size_t kBlockSize = 1024 * 1024;

    // Writes at the current offset of `fd`, which stays the caller's; `path` names the file in
    // errors.
    BackgroundFileWriter(int fd, std::string path);
    // Drops what was not written yet and joins the worker.
    ~BackgroundFileWriter();
    BackgroundFileWriter(const BackgroundFileWriter&) = delete;
    BackgroundFileWriter& operator=(const BackgroundFileWriter&) = delete;

    // Takes a copy of `bytes`. Throws the FileError of an earlier write that failed, so that a
    // stream stops soon after the disk refused it.
    void append(std::string_view bytes);
    // Writes what is left and returns once every byte is written; throws the FileError of a
    // write that failed.
    void finish();

private:
    static constexpr std::size_t kMostWaiting = 4;  // blocks handed over and not yet written

    void handOver();
    void work(const std::stop_token& stop);
    void throwIfFailedLocked() const;  // under m_mutex

    const int m_fd;
    const std::string m_path;
    std::string m_block;  // being filled by the feeding thread
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::string> m_waiting;  // guarded by m_mutex
    std::vector<std::string> m_spare;   // written blocks for reuse, guarded by m_mutex
    bool m_fed = false;                 // no more blocks come; guarded by m_mutex
    int m_error = 0;                    // errno of the first failed write; guarded by m_mutex
    std::jthread m_worker;              // last: started with the first full block
};

}  // namespace corvane
