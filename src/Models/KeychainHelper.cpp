#include "Models/KeychainHelper.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/Error.h"
#include "Platform/Paths.h"
#include "Platform/SystemLog.h"
#include "Platform/Unicode.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

const SystemLog& logger()
{
    static const SystemLog log("Storage");
    return log;
}

// The storage folder, made owner-only when this call creates it; one that exists keeps its
// permissions.
void createStorageDir(const std::filesystem::path& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir.parent_path(), error);
    if (error) {
        throw FileError("create folder", dir.parent_path().string(), error.value());
    }
    if (::mkdir(dir.c_str(), 0700) == 0) {
        return;
    }
    const int mkdirError = errno;
    struct stat info {};
    if (mkdirError != EEXIST) {
        throw FileError("create folder", dir.string(), mkdirError);
    }
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw FileError("create folder", dir.string(), ENOTDIR);
    }
}

// A temporary file in `dir` that nobody but the owner may open, removed again unless kept.
class PrivateTempFile {
public:
    PrivateTempFile(const std::filesystem::path& dir, const std::string& stem)
    {
        std::string pattern = (dir / ("." + stem + ".tmp-XXXXXX")).string();
        m_fd.reset(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!m_fd) {
            throw FileError("create temporary file in", dir.string(), errno);
        }
        m_path = pattern;
        // mkostemp gives 0600 less the umask; owner read and write whatever the umask.
        if (::fchmod(m_fd.get(), 0600) != 0) {
            fail("set permissions of");
        }
    }

    ~PrivateTempFile()
    {
        if (!m_kept) {
            ::unlink(m_path.c_str());
        }
    }

    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    void write(const std::string& bytes)
    {
        if (!m_fd.writeAll(bytes)) {
            fail("write");
        }
        if (::fsync(m_fd.get()) != 0) {
            fail("flush");
        }
        if (m_fd.close() != 0) {
            fail("close");
        }
    }

    void renameTo(const std::filesystem::path& target)
    {
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            throw FileError("rename to", target.string(), errno);
        }
        m_kept = true;
    }

private:
    [[noreturn]] void fail(const char* action) const
    {
        throw FileError(action, m_path.string(), errno);
    }

    UniqueFd m_fd;
    std::filesystem::path m_path;
    bool m_kept = false;
};

void syncFolder(const std::filesystem::path& dir)
{
    // The rename is on disk once the folder is: a failure here leaves a value that may come
    // back as the old one after a crash, which is no failure of the save.
    const UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) {
        ::fsync(folder.get());
    }
}

}  // namespace

std::filesystem::path KeychainHelper::storageDir()
{
    return Paths::applicationSupport();
}

std::filesystem::path KeychainHelper::fileURL(const std::string& key)
{
    return storageDir() / ("." + key);
}

bool KeychainHelper::save(const std::string& key, const std::string& value)
{
    try {
        const auto dir = storageDir();
        createStorageDir(dir);
        PrivateTempFile temporary(dir, key);
        temporary.write(value);
        temporary.renameTo(fileURL(key));
        syncFolder(dir);
        return true;
    } catch (const Error& error) {
        logger().error("Save failed for key " + key + ": " + error.localizedDescription());
        return false;
    }
}

std::optional<std::string> KeychainHelper::load(const std::string& key)
{
    std::ifstream file(fileURL(key), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string value((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || !Unicode::isValidUTF8(value)) {
        return std::nullopt;
    }
    return value;
}

bool KeychainHelper::deleteKey(const std::string& key)
{
    // Deleting what is not there is no failure: the result is the same.
    ::unlink(fileURL(key).c_str());
    return true;
}

}  // namespace corvane
