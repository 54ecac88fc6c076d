#pragma once

#include <filesystem>
#include <mutex>
#include <string>

namespace corvane::server {

// Stands in for e-mail: sign-in codes go to <data>/outbox.log as "<email> <code>" lines and to
// standard output. Thread-safe.
class Outbox {
public:
    explicit Outbox(std::filesystem::path file);

    // The line is on disk when this returns.
    void sendCode(const std::string& email, const std::string& code);

private:
    std::mutex m_mutex;
    std::filesystem::path m_file;
};

}  // namespace corvane::server
