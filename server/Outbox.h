#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace corvane::server {

// Stands in for e-mail: sign-in codes go to <data>/outbox.log as "<email> <code>" lines and to
// standard output. The file is bounded: a line that would take it past maxBytes first moves it
// to "<file>.1" (replacing the one backup kept), so the newest code is always in the file itself.
// Thread-safe.
class Outbox {
public:
    static constexpr std::uintmax_t kMaxBytes = 1024 * 1024;

    explicit Outbox(std::filesystem::path file, std::uintmax_t maxBytes = kMaxBytes);

    // The line is on disk when this returns.
    void sendCode(const std::string& email, const std::string& code);

private:
    void rotateBefore(std::size_t lineBytes);  // under m_mutex
    void append(const std::string& line);      // under m_mutex

    std::mutex m_mutex;
    const std::filesystem::path m_file;
    const std::uintmax_t m_maxBytes;
};

}  // namespace corvane::server
