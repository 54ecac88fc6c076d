#include "support/TiedChild.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {
namespace {

std::string executablePath(const std::string& name)
{
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', begin), folders.size());
        const std::filesystem::path candidate =
            std::filesystem::path(folders.substr(begin, end - begin)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        begin = end + 1;
    }
    return name;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void becomeChild(const char* executable, char* const* argv,
                              const std::vector<std::pair<int, int>>& redirects, pid_t parent,
                              int errorPipe)
{
    int failure = 0;
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        failure = errno;
    } else if (::getppid() != parent) {
        ::_exit(127);  // the parent is gone already
    }
    for (const auto& [from, to] : redirects) {
        if (failure == 0 && ::dup2(from, to) < 0) {
            failure = errno;
        }
    }
    if (failure == 0) {
        ::execv(executable, argv);
        failure = errno;
    }
    [[maybe_unused]] const auto written = ::write(errorPipe, &failure, sizeof failure);
    ::_exit(127);
}

}  // namespace

pid_t spawnTiedChild(const std::vector<std::string>& arguments,
                     const std::vector<std::pair<int, int>>& redirects)
{
    if (arguments.empty()) {
        throw std::invalid_argument("spawnTiedChild needs a program");
    }
    const std::string executable = executablePath(arguments.front());
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errorPipe[0]);
        becomeChild(executable.c_str(), argv.data(), redirects, parent, errorPipe[1]);
    }
    ::close(errorPipe[1]);
    if (pid < 0) {
        const int error = errno;
        ::close(errorPipe[0]);
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(error));
    }
    // The error pipe closes unread on a successful exec.
    int failure = 0;
    ssize_t got = 0;
    do {
        got = ::read(errorPipe[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    if (got > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw std::runtime_error("cannot start " + arguments.front() + ": " +
                                 std::strerror(failure));
    }
    return pid;
}

}  // namespace corvane::test
