#include "Sync/ContentHash.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"

namespace corvane {

std::string hashFile(const std::filesystem::path& path)
{
    constexpr std::size_t kReadSize = 262144;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError("Could not open", path.string(), errno);
    }
    const std::unique_ptr<const int, void (*)(const int*)> closer(
        &fd, [](const int* f) { ::close(*f); });
    Sha256 hash;
    std::vector<char> buffer(kReadSize);
    while (true) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError("Could not read", path.string(), errno);
        }
        if (count == 0) {
            break;
        }
        hash.update({buffer.data(), static_cast<std::size_t>(count)});
    }
    return hash.finish();
}

}  // namespace corvane
