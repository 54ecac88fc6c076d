#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvane::server {

// How FileInfo.path is written: relative to the file's folder ("/a.txt") or in full
// ("/Docs/a.txt").
enum class FilePathMode { relative, full };

// The command line of corvane-server. Plain value; any thread.
struct ServerOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
    std::filesystem::path dataDir = "corvane-server-data";
    FilePathMode filePaths = FilePathMode::relative;
    bool testFaults = false;
    // With --test-faults only: the read timeout of HTTP connections and the idle timeout of push
    // sockets, so that tests see a stalled peer closed without waiting for the real ones.
    std::optional<std::chrono::milliseconds> testTimeout;
    // With --test-faults only: how long a request body without a valid token may take.
    std::optional<std::chrono::milliseconds> testUnauthenticatedTimeout;

    // Throws corvane::Error with a usage text on an unknown flag or a bad value.
    static ServerOptions parse(const std::vector<std::string>& arguments);
    static std::string usage();
};

}  // namespace corvane::server
