#include "Platform/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>

#include "Platform/Error.h"
#include "Platform/Paths.h"

namespace corvane {

std::filesystem::path InstanceLock::lockPath()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::filesystem::path(runtime) / "corvane.lock";
    }
    return Paths::logs() / "corvane.lock";  // the XDG state folder of the application
}

std::optional<InstanceLock> InstanceLock::acquire(const std::filesystem::path& file)
{
    std::error_code ignored;  // a folder that cannot be made fails the open below
    std::filesystem::create_directories(file.parent_path(), ignored);
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) {
        throw FileError("open", file.string(), errno);
    }
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        if (errno != EINTR) {
            throw FileError("lock", file.string(), errno);
        }
    }
    return InstanceLock(std::move(fd));
}

}  // namespace corvane
