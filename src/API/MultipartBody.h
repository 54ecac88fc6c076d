#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/UniqueFd.h"

namespace corvane {

class Sha256;

// What the content read from a file must be: the size and content hash declared to the server
// when the upload started.
struct ExpectedContent {
    std::uint64_t size = 0;
    std::string sha256;
};

// The multipart form of a chunk upload, produced piece by piece so that the content is never
// copied into one buffer: the upload id part, then the "data" part with the content taken from
// memory or read from an open file, then the closing line. One request, one thread.
class MultipartBody {
public:
    // Content in memory; it is not copied and must outlive the body.
    MultipartBody(const std::string& boundary, const std::string& uploadId,
                  std::string_view content);
    // Content read from `file` as it is sent. Throws FileError when the file cannot be opened.
    // With `expected`, the bytes read are hashed as they go; when they are not the expected
    // content (the file changed after it was hashed), reading fails before the closing line, so
    // the server never receives a complete body under the wrong hash.
    MultipartBody(const std::string& boundary, const std::string& uploadId,
                  const std::filesystem::path& file,
                  std::optional<ExpectedContent> expected = std::nullopt);
    ~MultipartBody();
    MultipartBody(const MultipartBody&) = delete;
    MultipartBody& operator=(const MultipartBody&) = delete;

    // Exact byte count of the whole body (the Content-Length).
    std::uint64_t size() const;
    // Copies the next bytes into `buffer`; returns the count, 0 at the end. Throws FileError for
    // a read failure and ContentChangedError when the file shrank while it was being sent or is
    // not the expected content (also from the constructor, for a size that is not the
    // expected one).
    std::size_t read(char* buffer, std::size_t capacity);
    void rewind();

private:
    std::size_t readContent(char* buffer, std::size_t capacity, std::uint64_t offset);
    void checkContent(std::string_view bytes, std::uint64_t offset);
    void verifyContent();

    std::string m_head;
    std::string m_tail;
    std::string_view m_memory;
    UniqueFd m_fd;  // the file being sent; none for content in memory
    std::filesystem::path m_file;
    std::uint64_t m_contentSize = 0;
    std::uint64_t m_offset = 0;
    std::optional<ExpectedContent> m_expected;
    std::unique_ptr<Sha256> m_hash;  // of the content bytes read so far; none once verified
    std::uint64_t m_hashed = 0;
};

}  // namespace corvane
