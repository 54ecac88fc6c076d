#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace corvane::test {

// A program that records its arguments (one a line, after their count) and its standard input
// in "<its path>.args" and "<its path>.input", each written whole with a rename.
inline std::filesystem::path writeRecorder(const std::filesystem::path& folder,
                                           const std::string& name)
{
    const std::filesystem::path path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n"
                           "printf '%s\\n' \"$#\" \"$@\" > \"$0.args.tmp\"\n"
                           "cat > \"$0.input.tmp\"\n"
                           "mv \"$0.input.tmp\" \"$0.input\"\n"
                           "mv \"$0.args.tmp\" \"$0.args\"\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

// The content of the file at `path` once it exists; nothing when it did not appear in 10 s.
inline std::optional<std::string> waitForFile(const std::filesystem::path& path)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(path)) {
            std::ostringstream content;
            content << std::ifstream(path).rdbuf();
            return content.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

}  // namespace corvane::test
