#include "Platform/PrivateBus.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Platform/UniqueFd.h"
#include "support/TiedChild.h"

namespace corvane::test {
namespace {

std::string readLine(int fd, int timeoutMs)
{
    std::string line;
    while (true) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0) {
            throw std::runtime_error("dbus-daemon did not print its address");
        }
        char c = 0;
        const ssize_t count = ::read(fd, &c, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

}  // namespace

PrivateBus::PrivateBus(const std::optional<std::filesystem::path>& socket)
{
    const std::string listen =
        socket ? "unix:path=" + socket->string() : "unix:dir=" + m_dir.path().string();
    const auto config = m_dir.path() / "session.conf";
    std::ofstream(config)
        << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>)"
        << listen << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const UniqueFd output(fds[0]);
    UniqueFd daemonOutput(fds[1]);
    const std::string configArgument = "--config-file=" + config.string();
    m_pid = spawnTiedChild({"dbus-daemon", configArgument, "--print-address=3", "--nofork"},
                           {{daemonOutput.get(), 3}});
    daemonOutput.reset();  // the daemon holds its own copy
    try {
        m_address = readLine(output.get(), 10000);
    } catch (...) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        throw;
    }
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        m_savedAddress = old;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
}

PrivateBus::~PrivateBus()
{
    if (m_savedAddress) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_savedAddress->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

}  // namespace corvane::test
