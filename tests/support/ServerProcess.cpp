#include "support/ServerProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/RawHttp.h"
#include "support/TempHome.h"
#include "support/TiedChild.h"
#include "support/UploadSupport.h"

extern char** environ;

namespace corvane::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr const char* kListening = "corvane-server listening on ";

int decodeBase64Char(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

std::string decodeBase64(const std::string& text)
{
    std::string bytes;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const int value = decodeBase64Char(c);
        if (value < 0) {
            continue;  // padding
        }
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((buffer >> bits) & 0xff);
        }
    }
    return bytes;
}

// Reads the child's output until the listening line; returns the port. Whatever was read past
// that line is left in `rest`.
std::uint16_t awaitListening(int fd, std::string& rest)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string output;
    while (true) {
        const auto lineEnd = output.find('\n');
        if (lineEnd != std::string::npos) {
            const std::string line = output.substr(0, lineEnd);
            output.erase(0, lineEnd + 1);
            std::cerr << "[corvane-server] " << line << "\n";
            if (line.starts_with(kListening)) {
                rest = output;
                return static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
            }
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("corvane-server did not report listening in time");
        }
        pollfd poller{fd, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            throw std::runtime_error("corvane-server exited before listening: " + output);
        }
        output.append(chunk, static_cast<std::size_t>(got));
    }
}

void forwardOutput(int fd, std::string rest)
{
    if (!rest.empty()) {
        std::cerr << "[corvane-server] " << rest;
    }
    char chunk[4096];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        std::cerr.write(chunk, got);
    }
    ::close(fd);
}

nlohmann::json parseJson(const HttpResponse& response, const std::string& what)
{
    if (response.status != 200) {
        throw std::runtime_error(what + " failed: status " + std::to_string(response.status) + " " +
                                 response.body + response.transportError);
    }
    return nlohmann::json::parse(response.body);
}

}  // namespace

ServerProcess::ServerProcess(ServerOptions options) : m_options(std::move(options))
{
    if (m_options.dataDir.empty()) {
        m_ownDir = std::make_unique<TempDir>();
        m_dataDir = m_ownDir->path() / "server-data";
    } else {
        m_dataDir = m_options.dataDir;
    }
    start();
}

ServerProcess::~ServerProcess()
{
    stop(SIGTERM);
}

std::string ServerProcess::baseURL() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void ServerProcess::start()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    }
    std::vector<std::string> arguments{CORVANE_SERVER_PATH,
                                       "--port",
                                       std::to_string(m_options.port),
                                       "--data",
                                       m_dataDir.string(),
                                       "--file-paths",
                                       m_options.filePaths};
    if (m_options.testFaults) {
        arguments.emplace_back("--test-faults");
    }
    if (m_options.timeout) {
        arguments.emplace_back("--test-timeout-ms");
        arguments.push_back(std::to_string(m_options.timeout->count()));
    }
    if (m_options.unauthenticatedTimeout) {
        arguments.emplace_back("--test-unauthenticated-timeout-ms");
        arguments.push_back(std::to_string(m_options.unauthenticatedTimeout->count()));
    }
    pid_t pid = -1;
    try {
        pid = spawnTiedChild(arguments, {{fds[1], STDOUT_FILENO}});
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    m_pid = pid;
    std::string rest;
    try {
        m_port = awaitListening(fds[0], rest);
    } catch (...) {
        ::close(fds[0]);
        stop(SIGKILL);
        throw;
    }
    // Keep reading so that the server never blocks on a full pipe.
    m_drain = std::jthread([fd = fds[0], rest] { forwardOutput(fd, rest); });
}

void ServerProcess::stop(int signal)
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_drain.joinable()) {
        m_drain.join();  // ends at end of output, once the server is gone
    }
}

void ServerProcess::restart()
{
    stop(SIGTERM);
    start();
}

void ServerProcess::kill()
{
    stop(SIGKILL);
}

std::string ServerProcess::latestCode(const std::string& email) const
{
    std::ifstream outbox(m_dataDir / "outbox.log");
    std::string line;
    std::string code;
    const std::string prefix = email + " ";
    while (std::getline(outbox, line)) {
        if (line.starts_with(prefix)) {
            code = line.substr(prefix.size());
        }
    }
    return code;
}

std::string ServerProcess::signIn(const std::string& email)
{
    const std::vector<std::string> json{"Content-Type: application/json"};
    const nlohmann::json request{{"email", email}};
    auto sent = httpRequest("POST", baseURL() + "/api/auth/send-code", request.dump(), json);
    if (sent.status == 429 && m_options.testFaults && sent.headers.contains("retry-after")) {
        // A code went to this address moments ago: step the server's clock past the wait
        // rather than make the test wait.
        advanceClock(std::chrono::seconds(std::stoi(sent.headers.at("retry-after"))));
        sent = httpRequest("POST", baseURL() + "/api/auth/send-code", request.dump(), json);
    }
    parseJson(sent, "send-code");
    const nlohmann::json verify{{"email", email}, {"code", latestCode(email)}};
    const auto answer = parseJson(
        httpRequest("POST", baseURL() + "/api/auth/verify", verify.dump(), json), "verify");
    std::string token = answer.at("token").get<std::string>();
    const std::lock_guard lock(m_tokensMutex);
    m_tokens.push_back(token);
    return token;
}

void ServerProcess::advanceClock(std::chrono::seconds step)
{
    const nlohmann::json body{{"advance_seconds", step.count()}};
    parseJson(httpRequest("POST", baseURL() + "/__test/clock", body.dump(),
                          {"Content-Type: application/json"}),
              "clock");
}

void ServerProcess::injectFault(const nlohmann::json& fault)
{
    parseJson(httpRequest("POST", baseURL() + "/__test/faults", fault.dump(),
                          {"Content-Type: application/json"}),
              "inject fault");
}

void ServerProcess::clearFaults()
{
    parseJson(httpRequest("POST", baseURL() + "/__test/faults/clear", "{}",
                          {"Content-Type: application/json"}),
              "clear faults");
}

nlohmann::json ServerProcess::lastRequest() const
{
    auto record = parseJson(httpRequest("GET", baseURL() + "/__test/last-request"), "last-request");
    record["body"] = decodeBase64(record.value("body_base64", ""));
    const std::string digest = record.value("authorization_sha256", "");
    const std::lock_guard lock(m_tokensMutex);
    for (const auto& token : m_tokens) {
        if (!digest.empty() && sha256Hex("Bearer " + token) == digest) {
            record["headers"]["authorization"] = "Bearer " + token;
        }
    }
    return record;
}

}  // namespace corvane::test
