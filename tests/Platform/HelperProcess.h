#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Platform/UniqueFd.h"

namespace corvane::test {

// A child process for tests that need a second process: it inherits the environment (the
// temporary home, the private bus) and its standard output is read line by line. Destruction
// kills it if it still runs. One thread (the test's).
class HelperProcess {
public:
    HelperProcess(const std::string& executable, const std::vector<std::string>& arguments);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // The next line of output, without its newline; nothing at the end of output or timeout.
    std::optional<std::string>
    readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The exit status, or -1 when it has not ended within `timeout` (it is then killed).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends `signal` (SIGTERM, say) while it runs; does nothing once it has ended.
    void signal(int signal);
    // Ends it at once with SIGKILL and reaps it; does nothing once it has ended. Output already
    // written can still be read.
    void kill();

private:
    int m_pid = -1;
    UniqueFd m_output;
    std::string m_buffer;
};

}  // namespace corvane::test
