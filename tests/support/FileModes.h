#pragma once

#include <filesystem>

#include <sys/stat.h>

namespace corvane::test {

// Sets the file-creation mask for one scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_saved(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_saved); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_saved;
};

// The permission bits of `path` (07777), or 0 when it cannot be looked at (it may have gone).
inline mode_t permissionBits(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace corvane::test
