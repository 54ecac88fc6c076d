#include "Platform/WakeSignal.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace corvane {

WakeSignal::WakeSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeSignal::signal() const
{
    const std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can fail here.
    [[maybe_unused]] const ssize_t ignored = ::write(m_fd.get(), &one, sizeof one);
}

void WakeSignal::drain() const
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(m_fd.get(), &count, sizeof count);
}

}  // namespace corvane
