#include "Platform/AtomicFile.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".tmp-";
}

void syncFolder(const std::filesystem::path& folder)
{
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());  // best effort: the rename itself has already happened
    }
}

}  // namespace

void AtomicFile::write(const std::filesystem::path& target, std::string_view bytes)
{
    const std::filesystem::path folder = target.parent_path();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    std::string temporary = (folder / (temporaryPrefix(target) + "XXXXXX")).string();
    UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file) {
        throw FileError("Could not create", temporary, errno);
    }
    try {
        if (!file.writeAll(bytes)) {
            throw FileError("Could not write", temporary, errno);
        }
        if (::fsync(file.get()) != 0) {
            throw FileError("Could not flush", temporary, errno);
        }
        if (file.close() != 0) {
            throw FileError("Could not close", temporary, errno);
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throw FileError("Could not replace", target.string(), errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    syncFolder(folder);
}

bool AtomicFile::tryWrite(const std::filesystem::path& target, std::string_view bytes) noexcept
{
    try {
        write(target, bytes);
        return true;
    } catch (...) {
        return false;
    }
}

void AtomicFile::removeLeftovers(const std::filesystem::path& target) noexcept
{
    const std::string prefix = temporaryPrefix(target);
    std::error_code error;
    std::filesystem::directory_iterator folder(target.parent_path(), error);
    for (const std::filesystem::directory_iterator end; !error && folder != end;
         folder.increment(error)) {
        const std::string name = folder->path().filename().string();
        // Exactly the six characters mkostemp puts after the prefix.
        std::error_code notRegular;
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
            folder->is_regular_file(notRegular)) {
            ::unlink(folder->path().c_str());
        }
    }
}

}  // namespace corvane
