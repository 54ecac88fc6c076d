#pragma once

#include <filesystem>
#include <optional>

#include "Platform/UniqueFd.h"

namespace corvane {

// One running instance per user: an exclusive lock (flock) on "corvane.lock" in
// $XDG_RUNTIME_DIR, or in the XDG state folder ("<state home>/Corvane") when that variable is not
// set. The kernel lets go of the lock when the holder ends, however it ends. One thread at a time.
class InstanceLock {
public:
    static std::filesystem::path lockPath();

    // The lock, or nothing when another process holds it. Throws FileError when the lock file
    // cannot be made or opened.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& file = lockPath());

private:
    explicit InstanceLock(UniqueFd fd) : m_fd(std::move(fd)) {}

    UniqueFd m_fd;
};

}  // namespace corvane
