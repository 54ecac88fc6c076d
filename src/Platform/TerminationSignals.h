#pragma once

#include <optional>

#include "Platform/UniqueFd.h"

namespace corvane {

// SIGTERM and SIGINT delivered as a readable descriptor (signalfd) instead of handlers, so that
// the main loop ends the program in order. Create it first thing in main(), before any thread
// starts: the signals are blocked in the creating thread, and every thread started later
// inherits that. They stay blocked until the process ends, so that a second signal during the
// orderly end does not cut it short. Main thread only.
class TerminationSignals {
public:
    // Throws Error when the descriptor cannot be made.
    TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Readable when a signal waits.
    int fd() const { return m_fd.get(); }
    // The signal number that waits, taken; nothing when none does.
    std::optional<int> take();

private:
    UniqueFd m_fd;
};

}  // namespace corvane
