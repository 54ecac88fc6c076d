#include "Outbox.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"

namespace corvane::server {

Outbox::Outbox(std::filesystem::path file, std::uintmax_t maxBytes)
    : m_file(std::move(file)), m_maxBytes(maxBytes)
{
}

void Outbox::sendCode(const std::string& email, const std::string& code)
{
    const std::string line = email + " " + code + "\n";
    {
        std::lock_guard lock(m_mutex);
        rotateBefore(line.size());
        append(line);
    }
    std::cout << "sign-in code for " << email << ": " << code << std::endl;
}

void Outbox::rotateBefore(std::size_t lineBytes)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(m_file, error);
    if (error || size + lineBytes <= m_maxBytes) {
        return;  // no file yet, or room left
    }
    const std::filesystem::path backup = m_file.string() + ".1";
    if (std::rename(m_file.c_str(), backup.c_str()) != 0) {
        throw FileError("rename", m_file.string(), errno);
    }
}

void Outbox::append(const std::string& line)
{
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

}  // namespace corvane::server
