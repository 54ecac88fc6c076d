#include "Outbox.h"

#include <cerrno>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"

namespace corvane::server {

Outbox::Outbox(std::filesystem::path file) : m_file(std::move(file)) {}

void Outbox::sendCode(const std::string& email, const std::string& code)
{
    const std::string line = email + " " + code + "\n";
    {
        std::lock_guard lock(m_mutex);
        const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw FileError("open", m_file.string(), errno);
        }
        const ssize_t written = ::write(fd, line.data(), line.size());
        const int writeError = errno;
        ::close(fd);
        if (written != static_cast<ssize_t>(line.size())) {
            throw FileError("write", m_file.string(), written < 0 ? writeError : EIO);
        }
    }
    std::cout << "sign-in code for " << email << ": " << code << std::endl;
}

}  // namespace corvane::server
