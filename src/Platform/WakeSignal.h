#pragma once

#include "Platform/UniqueFd.h"

namespace corvane {

// An eventfd that wakes a worker sleeping in poll(): signal() makes it readable, drain() takes
// the wake-up. Thread-safe; valid() is false when the system gave no descriptor.
class WakeSignal {
public:
    WakeSignal();

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    void signal() const;
    void drain() const;

private:
    const UniqueFd m_fd;
};

}  // namespace corvane
