#include "Platform/BackgroundFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "Platform/Error.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

// The errno of a write of `bytes` that failed, else 0.
int writeError(int fd, std::string_view bytes)
{
    return writeAll(fd, bytes) ? 0 : errno;
}

}  // namespace

BackgroundFileWriter::BackgroundFileWriter(int fd, std::string path)
    : m_fd(fd), m_path(std::move(path))
{
}

BackgroundFileWriter::~BackgroundFileWriter()
{
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_changed.notify_all();
    }
}

void BackgroundFileWriter::append(std::string_view bytes)
{
    while (!bytes.empty()) {
        // The block grows as it fills: a small file costs no block's worth of memory.
        const std::size_t taken = std::min(bytes.size(), kBlockSize - m_block.size());
        m_block.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (m_block.size() == kBlockSize) {
            handOver();
        }
    }
}

void BackgroundFileWriter::finish()
{
    if (!m_worker.joinable()) {
        // Little content: not worth a thread.
        if (const int error = writeError(m_fd, m_block)) {
            throw FileError("Cannot write", m_path, error);
        }
        m_block.clear();
        return;
    }
    if (!m_block.empty()) {
        handOver();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_fed = true;
    }
    m_changed.notify_all();
    m_worker.join();
    const std::lock_guard lock(m_mutex);
    throwIfFailedLocked();
}

void BackgroundFileWriter::handOver()
{
    std::string next;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waiting.size() < kMostWaiting || m_error != 0; });
        throwIfFailedLocked();
        m_waiting.push_back(std::move(m_block));
        if (!m_spare.empty()) {
            next = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    m_changed.notify_all();
    next.clear();
    m_block = std::move(next);
    if (!m_worker.joinable()) {
        m_worker = std::jthread([this](const std::stop_token& stop) { work(stop); });
    }
}

void BackgroundFileWriter::work(const std::stop_token& stop)
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, stop, [&] { return !m_waiting.empty() || m_fed; });
        if (stop.stop_requested() || m_waiting.empty()) {
            return;
        }
        std::string block = std::move(m_waiting.front());
        m_waiting.pop_front();
        const bool write = m_error == 0;  // after a failure the rest is only let go
        lock.unlock();
        m_changed.notify_all();  // room for one more
        const int error = write ? writeError(m_fd, block) : 0;
        lock.lock();
        if (error != 0) {
            m_error = error;
            m_changed.notify_all();  // a feeder waiting for room learns of it now
        }
        m_spare.push_back(std::move(block));
    }
}

void BackgroundFileWriter::throwIfFailedLocked() const
{
    if (m_error != 0) {
        throw FileError("Cannot write", m_path, m_error);
    }
}

}  // namespace corvane
