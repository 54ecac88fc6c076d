#include "Platform/UniqueFd.h"

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace corvane {

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int UniqueFd::release() noexcept
{
    return std::exchange(m_fd, -1);
}

void UniqueFd::reset(int fd) noexcept
{
    if (const int old = std::exchange(m_fd, fd); old >= 0 && old != fd) {
        ::close(old);
    }
}

int UniqueFd::close() noexcept
{
    const int fd = release();
    return fd < 0 ? 0 : ::close(fd);
}

bool UniqueFd::writeAll(std::string_view bytes) const
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;  // write(2) set none; without progress the loop would spin
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace corvane
