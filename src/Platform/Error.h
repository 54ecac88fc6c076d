#pragma once

#include <stdexcept>
#include <string>

namespace corvane {

// Base of every error the system throws. localizedDescription() is the text a user sees.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}

    std::string localizedDescription() const { return what(); }
};

// The operating system's text for an errno value ("No such file or directory"). Thread-safe,
// unlike strerror(), whose text may live in one buffer for every thread.
std::string systemErrorText(int errorNumber);

// A failure of the operating system (a file that cannot be opened, a rename that fails).
// The description carries the OS message.
class FileError : public Error {
public:
    FileError(const std::string& action, const std::string& path, int errorNumber);

    int errorNumber() const { return m_errorNumber; }

private:
    int m_errorNumber;
};

}  // namespace corvane
