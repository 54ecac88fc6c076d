#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace corvane::server {

// Content-addressed blob files: <data>/blobs/<first 2 hex>/<hash>. A blob reaches its final
// name only complete and synced (temp file in <data>/tmp, fsync, rename). Thread-safe: it holds
// no mutable state; concurrent publishes of one hash rename identical content.
class BlobStore {
public:
    // Creates the folders and removes temp files left behind by an earlier run.
    explicit BlobStore(const std::filesystem::path& dataDir);

    std::filesystem::path blobPath(const std::string& hash) const;
    bool contains(const std::string& hash, std::int64_t size) const;
    const std::filesystem::path& tempDir() const { return m_tempDir; }

    // Moves a finished (synced) temp file to the blob's final name.
    void publish(const std::filesystem::path& tempFile, const std::string& hash) const;
    // Removes a blob's file; one that is already gone is no error.
    void remove(const std::string& hash) const;
    // Calls `visit` with the hash of every blob file on disk.
    void forEachBlob(const std::function<void(const std::string& hash)>& visit) const;

private:
    std::filesystem::path m_blobDir;
    std::filesystem::path m_tempDir;
};

}  // namespace corvane::server
