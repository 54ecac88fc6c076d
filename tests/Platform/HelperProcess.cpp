#include "Platform/HelperProcess.h"

#include <cerrno>
#include <stdexcept>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TiedChild.h"

namespace corvane::test {

HelperProcess::HelperProcess(const std::string& executable,
                             const std::vector<std::string>& arguments)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    UniqueFd output(fds[0]);
    UniqueFd childOutput(fds[1]);
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_pid = spawnTiedChild(argv, {{childOutput.get(), STDOUT_FILENO}});
    childOutput.reset();  // the child holds its own copy
    m_output = std::move(output);
}

HelperProcess::~HelperProcess()
{
    kill();
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (const auto newline = m_buffer.find('\n'); newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd entry{m_output.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char chunk[4096];
        const ssize_t count = ::read(m_output.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return std::nullopt;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(count));
    }
}

int HelperProcess::wait(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void HelperProcess::signal(int signal)
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

void HelperProcess::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

}  // namespace corvane::test
