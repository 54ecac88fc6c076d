#pragma once

#include <cstddef>
#include <filesystem>

namespace corvane::server {

// A new, exclusively created file in a folder, written sequentially. Removed on destruction
// unless release() handed it on (to a rename). One thread at a time.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& folder);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const char* data, std::size_t size);
    // Flushes the content to disk (fsync) and closes the file.
    void finish();
    const std::filesystem::path& path() const { return m_path; }
    // The caller now owns the file on disk; the destructor leaves it alone.
    std::filesystem::path release();

    static constexpr const char* kSuffix = ".part";

private:
    std::filesystem::path m_path;
    int m_fd = -1;
    bool m_released = false;
};

}  // namespace corvane::server
