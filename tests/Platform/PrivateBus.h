#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "support/TempHome.h"

namespace corvane::test {

// A dbus-daemon of our own for one test: a session bus on a socket in a temporary folder, or at
// `socket` when one is given. While it lives, DBUS_SESSION_BUS_ADDRESS names it (child processes
// inherit it); the previous value comes back afterwards. One thread (the test's).
class PrivateBus {
public:
    explicit PrivateBus(const std::optional<std::filesystem::path>& socket = std::nullopt);
    ~PrivateBus();  // stops the daemon
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return m_address; }

private:
    TempDir m_dir;
    int m_pid = -1;
    std::string m_address;
    std::optional<std::string> m_savedAddress;
};

}  // namespace corvane::test
