#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane::test {

class TempDir;

struct ServerOptions {
    bool testFaults = true;
    std::string filePaths = "relative";  // or "full"
    std::filesystem::path dataDir =
        {};                  // empty: a fresh temporary folder owned by the ServerProcess
    std::uint16_t port = 0;  // 0: any free port (chosen anew on every start)
    // With testFaults: the server's read and push-socket idle timeouts (--test-timeout-ms).
    std::optional<std::chrono::milliseconds> timeout = std::nullopt;
    // With testFaults: how long a body without a valid token may take
    // (--test-unauthenticated-timeout-ms).
    std::optional<std::chrono::milliseconds> unauthenticatedTimeout = std::nullopt;
};

// Runs corvane-server (CORVANE_SERVER_PATH) on a free loopback port for one test. The server's
// output is forwarded to this process's standard error. One thread (the test's) at a time.
class ServerProcess {
public:
    explicit ServerProcess(ServerOptions options = {});
    ~ServerProcess();  // SIGTERM, wait; removes its own temporary data folder
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string baseURL() const;  // "http://127.0.0.1:<port>"
    const std::filesystem::path& dataDir() const { return m_dataDir; }
    void restart();  // stop and start again on the same data folder (port may change)
    void kill();     // SIGKILL, for crash tests; restart() brings it back

    std::string latestCode(const std::string& email) const;  // last code in outbox.log
    // send-code + verify; returns the token. When a code went to the address moments ago, it
    // moves the server's clock past the wait for the next one.
    std::string signIn(const std::string& email);
    // Moves the server's clock on (POST /__test/clock; needs testFaults), for the waits of
    // sign-in: a second code for one address, a locked address.
    void advanceClock(std::chrono::seconds step);
    void injectFault(const nlohmann::json& fault);  // POST /__test/faults
    void clearFaults();
    // GET /__test/last-request, body decoded into "body". The server redacts credentials; when
    // the request carried a token that signIn() handed out, "authorization" names it again.
    nlohmann::json lastRequest() const;

private:
    void start();
    void stop(int signal);

    ServerOptions m_options;
    std::unique_ptr<TempDir> m_ownDir;
    std::filesystem::path m_dataDir;
    int m_pid = -1;
    std::uint16_t m_port = 0;
    std::jthread m_drain;               // forwards the server's output until it closes
    mutable std::mutex m_tokensMutex;   // tests sign in from several threads at once
    std::vector<std::string> m_tokens;  // every token signIn() handed out
};

}  // namespace corvane::test
