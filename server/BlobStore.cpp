#include "BlobStore.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "PathRules.h"
#include "Platform/Error.h"

namespace corvane::server {

namespace {

void syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the rename is already visible; this only makes it durable sooner.
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

BlobStore::BlobStore(const std::filesystem::path& dataDir)
    : m_blobDir(dataDir / "blobs"), m_tempDir(dataDir / "tmp")
{
    std::filesystem::create_directories(m_blobDir);
    std::filesystem::create_directories(m_tempDir);
    for (const auto& entry : std::filesystem::directory_iterator(m_tempDir)) {
        std::error_code ignored;
        std::filesystem::remove(entry.path(), ignored);
    }
}

std::filesystem::path BlobStore::blobPath(const std::string& hash) const
{
    return m_blobDir / hash.substr(0, 2) / hash;
}

bool BlobStore::contains(const std::string& hash, std::int64_t size) const
{
    std::error_code error;
    const auto actual = std::filesystem::file_size(blobPath(hash), error);
    return !error && static_cast<std::int64_t>(actual) == size;
}

void BlobStore::publish(const std::filesystem::path& tempFile, const std::string& hash) const
{
    const auto target = blobPath(hash);
    std::filesystem::create_directories(target.parent_path());
    if (std::rename(tempFile.c_str(), target.c_str()) != 0) {
        throw FileError("rename", tempFile.string(), errno);
    }
    syncFolder(target.parent_path());
}

void BlobStore::remove(const std::string& hash) const
{
    const auto path = blobPath(hash);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw FileError("remove", path.string(), errno);
    }
}

void BlobStore::forEachBlob(const std::function<void(const std::string& hash)>& visit) const
{
    for (const auto& shard : std::filesystem::directory_iterator(m_blobDir)) {
        if (!shard.is_directory()) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(shard.path())) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && PathRules::isContentHash(name)) {
                visit(name);
            }
        }
    }
}

}  // namespace corvane::server
