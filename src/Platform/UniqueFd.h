#pragma once

#include <string_view>

namespace corvane {

// An owned file descriptor, closed when its owner goes. Move-only; -1 stands for none. One
// thread at a time, like the descriptor it holds.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives the descriptor up without closing it.
    int release() noexcept;
    // Closes the descriptor held, ignoring the result, and takes `fd`.
    void reset(int fd = -1) noexcept;
    // Closes now and returns close()'s result, where a late write error shows up; 0 when
    // nothing is held.
    int close() noexcept;

    // Writes all of `bytes`, resuming after signals and short writes. False, with errno set,
    // when a write fails or makes no progress.
    bool writeAll(std::string_view bytes) const;

private:
    int m_fd = -1;
};

}  // namespace corvane
