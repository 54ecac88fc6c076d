#include "ServerOptions.h"

#include <charconv>

#include "Platform/Error.h"

namespace corvane::server {

namespace {

std::uint16_t parsePort(const std::string& text)
{
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > 65535) {
        throw Error("invalid port: " + text);
    }
    return static_cast<std::uint16_t>(value);
}

std::chrono::milliseconds parseTimeout(const std::string& flag, const std::string& text)
{
    constexpr long long kMaxMilliseconds = 3'600'000;
    long long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 1 || value > kMaxMilliseconds) {
        throw Error(flag + " must be between 1 and 3600000, not " + text);
    }
    return std::chrono::milliseconds(value);
}

FilePathMode parseFilePaths(const std::string& text)
{
    if (text == "relative") {
        return FilePathMode::relative;
    }
    if (text == "full") {
        return FilePathMode::full;
    }
    throw Error("--file-paths must be relative or full, not " + text);
}

}  // namespace

ServerOptions ServerOptions::parse(const std::vector<std::string>& arguments)
{
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& flag = arguments[i];
        if (flag == "--test-faults") {
            options.testFaults = true;
            continue;
        }
        if (flag == "--help" || flag == "-h") {
            throw Error(usage());
        }
        if (i + 1 >= arguments.size()) {
            throw Error("missing value for " + flag + "\n" + usage());
        }
        const std::string& value = arguments[++i];
        if (flag == "--address") {
            options.address = value;
        } else if (flag == "--port") {
            options.port = parsePort(value);
        } else if (flag == "--data") {
            options.dataDir = value;
        } else if (flag == "--file-paths") {
            options.filePaths = parseFilePaths(value);
        } else if (flag == "--test-timeout-ms") {
            options.testTimeout = parseTimeout(flag, value);
        } else if (flag == "--test-unauthenticated-timeout-ms") {
            options.testUnauthenticatedTimeout = parseTimeout(flag, value);
        } else {
            throw Error("unknown option " + flag + "\n" + usage());
        }
    }
    if ((options.testTimeout || options.testUnauthenticatedTimeout) && !options.testFaults) {
        throw Error("--test-timeout-ms and --test-unauthenticated-timeout-ms need --test-faults\n" +
                    usage());
    }
    return options;
}

std::string ServerOptions::usage()
{
    return "usage: corvane-server [--address A] [--port P] [--data DIR] "
           "[--file-paths relative|full] [--test-faults [--test-timeout-ms N] "
           "[--test-unauthenticated-timeout-ms N]]";
}

}  // namespace corvane::server
