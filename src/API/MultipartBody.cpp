#include "API/MultipartBody.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "API/ContentChangedError.h"
#include "Platform/Error.h"
#include "Platform/Sha256.h"

namespace corvane {
namespace {

std::string headOf(const std::string& boundary, const std::string& uploadId)
{
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"upload_id\"\r\n\r\n" +
           uploadId + "\r\n" + "--" + boundary + "\r\n" +
           "Content-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n" +
           "Content-Type: application/octet-stream\r\n\r\n";
}

std::string tailOf(const std::string& boundary)
{
    return "\r\n--" + boundary + "--\r\n";
}

// Copies from `piece` (which starts at `pieceStart` of the body) what lies at `offset`.
std::size_t copyFrom(std::string_view piece, std::uint64_t pieceStart, std::uint64_t offset,
                     char* buffer, std::size_t capacity)
{
    const std::uint64_t skip = offset - pieceStart;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, piece.size() - skip));
    std::memcpy(buffer, piece.data() + skip, count);
    return count;
}

}  // namespace

MultipartBody::MultipartBody(const std::string& boundary, const std::string& uploadId,
                             std::string_view content)
    : m_head(headOf(boundary, uploadId)), m_tail(tailOf(boundary)), m_memory(content),
      m_contentSize(content.size())
{
}

MultipartBody::MultipartBody(const std::string& boundary, const std::string& uploadId,
                             const std::filesystem::path& file,
                             std::optional<ExpectedContent> expected)
    : m_head(headOf(boundary, uploadId)), m_tail(tailOf(boundary)), m_file(file),
      m_expected(std::move(expected))
{
    m_fd.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!m_fd) {
        throw FileError("Cannot open", file.string(), errno);
    }
    struct stat info {};
    if (::fstat(m_fd.get(), &info) != 0) {
        throw FileError("Cannot read", file.string(), errno);
    }
    if (!S_ISREG(info.st_mode)) {
        throw FileError("Cannot send", file.string(), EISDIR);
    }
    m_contentSize = static_cast<std::uint64_t>(info.st_size);
    if (m_expected) {
        if (m_contentSize != m_expected->size) {
            throw ContentChangedError("The file \"" + file.string() +
                                      "\" changed after it was hashed");
        }
        m_hash = std::make_unique<Sha256>();
    }
}

MultipartBody::~MultipartBody() = default;

std::uint64_t MultipartBody::size() const
{
    return m_head.size() + m_contentSize + m_tail.size();
}

std::size_t MultipartBody::read(char* buffer, std::size_t capacity)
{
    const std::uint64_t contentStart = m_head.size();
    const std::uint64_t tailStart = contentStart + m_contentSize;
    std::size_t count = 0;
    if (m_offset < contentStart) {
        count = copyFrom(m_head, 0, m_offset, buffer, capacity);
    } else if (m_offset < tailStart) {
        const std::uint64_t contentOffset = m_offset - contentStart;
        const std::size_t wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(capacity, m_contentSize - contentOffset));
        count = readContent(buffer, wanted, contentOffset);
        checkContent({buffer, count}, contentOffset);
    } else if (m_offset < size()) {
        if (m_offset == tailStart) {
            verifyContent();  // before the closing line makes the body complete
        }
        count = copyFrom(m_tail, tailStart, m_offset, buffer, capacity);
    }
    m_offset += count;
    return count;
}

void MultipartBody::rewind()
{
    m_offset = 0;
    if (m_expected) {
        m_hash = std::make_unique<Sha256>();
        m_hashed = 0;
    }
}

void MultipartBody::checkContent(std::string_view bytes, std::uint64_t offset)
{
    // Reads are sequential apart from a rewind, which starts the hash over.
    if (m_hash && offset == m_hashed) {
        m_hash->update(bytes);
        m_hashed += bytes.size();
    }
}

void MultipartBody::verifyContent()
{
    if (!m_hash) {
        return;
    }
    const bool complete = m_hashed == m_contentSize;
    const std::string hash = m_hash->finish();
    m_hash.reset();
    if (!complete || hash != m_expected->sha256) {
        throw ContentChangedError("The file \"" + m_file.string() +
                                  "\" changed after it was hashed");
    }
}

std::size_t MultipartBody::readContent(char* buffer, std::size_t capacity, std::uint64_t offset)
{
    if (!m_fd) {
        return copyFrom(m_memory, 0, offset, buffer, capacity);
    }
    for (;;) {
        const ssize_t count = ::pread(m_fd.get(), buffer, capacity, static_cast<off_t>(offset));
        if (count > 0) {
            return static_cast<std::size_t>(count);
        }
        if (count == 0) {
            // The Content-Length is already promised; a shorter body must not go out as complete.
            throw ContentChangedError("The file \"" + m_file.string() +
                                      "\" became shorter while it was sent");
        }
        if (errno != EINTR) {
            throw FileError("Cannot read", m_file.string(), errno);
        }
    }
}

}  // namespace corvane
