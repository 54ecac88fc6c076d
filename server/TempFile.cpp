#include "TempFile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"
#include "Random.h"

namespace corvane::server {

TempFile::TempFile(const std::filesystem::path& folder)
    : m_path(folder / ("upload-" + Random::hex(12) + kSuffix))
{
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        throw FileError("create", m_path.string(), errno);
    }
}

TempFile::~TempFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_released) {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
}

void TempFile::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError("write", m_path.string(), errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void TempFile::finish()
{
    if (::fsync(m_fd) != 0) {
        throw FileError("sync", m_path.string(), errno);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        throw FileError("close", m_path.string(), errno);
    }
}

std::filesystem::path TempFile::release()
{
    m_released = true;
    return m_path;
}

}  // namespace corvane::server
