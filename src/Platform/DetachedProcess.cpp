#include "Platform/DetachedProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Platform/UniqueFd.h"

extern char** environ;

namespace corvane {
namespace {

constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

bool isExecutableFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Runs in the forked children: only async-signal-safe calls from here on.
[[noreturn]] void startGrandchild(const char* path, char* const* argv, int inputFd)
{
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
        ::_exit(grandchild < 0 ? 1 : 0);  // the caller reaps us at once; init adopts the program
    }
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);
    const int input = inputFd >= 0 ? inputFd : ::open("/dev/null", O_RDONLY);
    if (input >= 0 && input != STDIN_FILENO) {
        ::dup2(input, STDIN_FILENO);
    }
    ::execve(path, argv, environ);
    ::_exit(127);
}

bool sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

}  // namespace

std::optional<std::string> DetachedProcess::findExecutable(const std::string& program)
{
    if (program.empty()) {
        return std::nullopt;
    }
    if (program.find('/') != std::string::npos) {
        return isExecutableFile(program) ? std::optional(program) : std::nullopt;
    }
    const char* variable = std::getenv("PATH");
    const std::string_view searchPath = variable && *variable ? variable : kDefaultSearchPath;
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        const std::size_t end = std::min(searchPath.find(':', start), searchPath.size());
        const std::string_view folder = searchPath.substr(start, end - start);
        // An empty entry means the current folder, which we never search.
        if (!folder.empty()) {
            const std::string candidate = std::string(folder) + "/" + program;
            if (isExecutableFile(candidate)) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return std::nullopt;
}

bool DetachedProcess::launch(const std::vector<std::string>& arguments,
                             const std::optional<std::string>& input)
{
    if (arguments.empty()) {
        return false;
    }
    const auto path = findExecutable(arguments.front());
    if (!path) {
        return false;
    }
    // Everything the children need is prepared before fork(): they may not allocate.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    UniqueFd ours;
    UniqueFd theirs;
    if (input) {
        // A socket rather than a pipe: send() with MSG_NOSIGNAL cannot raise SIGPIPE in the
        // caller when the program ends without reading.
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            return false;
        }
        ours.reset(pair[0]);
        theirs.reset(pair[1]);
    }

    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        startGrandchild(path->c_str(), argv.data(), theirs.get());
    }
    theirs.reset();
    int status = 0;
    pid_t reaped = -1;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    // Without a status (a process that ignores SIGCHLD reaps its children itself) the start
    // is taken as done.
    if (reaped == child && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        return false;
    }
    if (input) {
        sendAll(ours.get(), *input);
        ::shutdown(ours.get(), SHUT_WR);
    }
    return true;
}

}  // namespace corvane
