#include "Platform/UniqueFd.h"

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

}  // namespace corvane
