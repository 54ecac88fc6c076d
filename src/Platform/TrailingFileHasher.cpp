#include "Platform/TrailingFileHasher.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <unistd.h>

#include "Platform/Error.h"

namespace corvane {
namespace {

// Large enough that the hashing thread wakes a few hundred times per GB, small enough that the
// bytes are still in the processor's cache when it reads them back.
constexpr std::uint64_t kBatchBytes = 1024 * 1024;

}  // namespace

TrailingFileHasher::TrailingFileHasher(int file, std::filesystem::path path, Sha256& digest,
                                       std::uint64_t offset)
    : m_file(file), m_path(std::move(path)), m_digest(digest), m_written(offset), m_hashed(offset),
      m_thread([this] { run(); })
{
}

TrailingFileHasher::~TrailingFileHasher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void TrailingFileHasher::written(std::uint64_t end)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_written = end;
        wake = m_written - m_hashed >= kBatchBytes;
    }
    if (wake) {
        m_changed.notify_all();
    }
}

void TrailingFileHasher::finish()
{
    std::unique_lock lock(m_mutex);
    m_finishing = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_hashed == m_written || m_failure; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

std::uint64_t TrailingFileHasher::nextEnd()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] {
        return m_stopping || m_written - m_hashed >= kBatchBytes ||
               (m_finishing && m_written > m_hashed);
    });
    if (m_stopping) {
        return m_hashed;
    }
    return std::min(m_written, m_hashed + kBatchBytes);
}

void TrailingFileHasher::run()
{
    std::string buffer(kBatchBytes, '\0');
    std::uint64_t hashed = 0;
    {
        std::lock_guard lock(m_mutex);
        hashed = m_hashed;
    }
    try {
        for (std::uint64_t end = nextEnd(); end > hashed; end = nextEnd()) {
            const auto length = static_cast<std::size_t>(end - hashed);
            const ssize_t count =
                ::pread(m_file, buffer.data(), length, static_cast<off_t>(hashed));
            if (count <= 0) {
                // Zero: someone cut the file short under the writer.
                throw FileError("Cannot read", m_path.string(), count < 0 ? errno : EIO);
            }
            m_digest.update(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
            hashed += static_cast<std::uint64_t>(count);
            std::lock_guard lock(m_mutex);
            m_hashed = hashed;
            if (m_finishing && m_hashed == m_written) {
                m_changed.notify_all();
            }
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_failure = std::current_exception();
        m_changed.notify_all();
    }
}

}  // namespace corvane
