#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvane::test {

// The inotify watches this process holds, as the kernel counts them.
inline std::size_t kernelWatchCount()
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fdinfo")) {
        std::ifstream info(entry.path());
        std::string line;
        while (std::getline(info, line)) {
            count += line.rfind("inotify wd:", 0) == 0 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace corvane::test
