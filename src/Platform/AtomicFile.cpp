#include "Platform/AtomicFile.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/Error.h"

namespace corvane {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    // Closes now and reports the error that close() gives (a late write error on some systems).
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

void writeAll(int fd, std::string_view bytes, const std::string& path)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError("Could not write", path, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".tmp-";
}

void syncFolder(const std::filesystem::path& folder)
{
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
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
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        throw FileError("Could not create", temporary, errno);
    }
    try {
        writeAll(file.get(), bytes, temporary);
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
