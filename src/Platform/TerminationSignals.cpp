#include "Platform/TerminationSignals.h"

#include <cerrno>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "Platform/Error.h"

namespace corvane {
namespace {

sigset_t terminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

TerminationSignals::TerminationSignals()
{
    const sigset_t set = terminationSet();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        throw Error("cannot block the termination signals");
    }
    m_fd.reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_fd) {
        const int error = errno;
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        throw Error("cannot watch the termination signals: " + systemErrorText(error));
    }
}

std::optional<int> TerminationSignals::take()
{
    signalfd_siginfo info{};
    while (true) {
        const ssize_t count = ::read(m_fd.get(), &info, sizeof info);
        if (count == static_cast<ssize_t>(sizeof info)) {
            return static_cast<int>(info.ssi_signo);
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return std::nullopt;
    }
}

}  // namespace corvane
