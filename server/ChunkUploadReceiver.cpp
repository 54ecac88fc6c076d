#include "ChunkUploadReceiver.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "HttpError.h"
#include "Platform/Error.h"
#include "TempFile.h"

namespace corvane::server {

namespace {

constexpr std::size_t kMaxUploadIdBytes = 256;

}  // namespace

ChunkUploadReceiver::ChunkUploadReceiver(std::optional<std::string> boundary,
                                         DeclaredSize declaredSize, std::filesystem::path tempDir,
                                         std::size_t recordLimit)
    : m_declaredSize(std::move(declaredSize)), m_tempDir(std::move(tempDir)),
      m_recordLimit(recordLimit)
{
    if (boundary) {
        m_parser.emplace(std::move(*boundary), static_cast<MultipartParser::Handler&>(*this));
    } else {
        fail(400, "expected multipart/form-data with a boundary");
    }
}

ChunkUploadReceiver::~ChunkUploadReceiver() = default;

void ChunkUploadReceiver::put(const char* data, std::size_t size)
{
    if (m_recorded.size() < m_recordLimit) {
        m_recorded.append(data, std::min(size, m_recordLimit - m_recorded.size()));
    }
    if (m_failure) {
        return;
    }
    try {
        m_parser->feed(data, size);
    } catch (const HttpError& error) {
        fail(error.status(), error.localizedDescription());
    } catch (const FileError& error) {
        fail(500, error.localizedDescription());
    } catch (const std::exception& error) {
        fail(400, error.what());
    }
}

void ChunkUploadReceiver::finish()
{
    if (m_failure) {
        return;
    }
    try {
        m_parser->finish();
    } catch (const std::exception& error) {
        fail(400, error.what());
    }
}

std::unique_ptr<TempFile> ChunkUploadReceiver::takeFile()
{
    return std::move(m_file);
}

void ChunkUploadReceiver::partBegin(const MultipartParser::Part& part)
{
    if (part.name == "upload_id") {
        if (m_uploadId) {
            throw Error("more than one upload_id part");
        }
        m_uploadId.emplace();
        m_target = Target::uploadId;
    } else if (part.name == "data") {
        if (m_file) {
            throw Error("more than one data part");
        }
        if (!m_declared) {
            throw Error("the upload_id part must come before the data part");
        }
        m_file = std::make_unique<TempFile>(m_tempDir);
        m_sha.emplace();
        m_target = Target::data;
    } else {
        m_target = Target::none;  // other fields are not ours; skip them
    }
}

void ChunkUploadReceiver::partData(const char* data, std::size_t size)
{
    switch (m_target) {
    case Target::uploadId:
        if (m_uploadId->size() + size > kMaxUploadIdBytes) {
            throw Error("upload_id too long");
        }
        m_uploadId->append(data, size);
        break;
    case Target::data:
        if (static_cast<std::int64_t>(size) > *m_declared - m_size) {
            throw Error("size mismatch: expected " + std::to_string(*m_declared) +
                        " bytes, received more");
        }
        m_sha->update(std::string_view(data, size));
        m_file->write(data, size);
        m_size += static_cast<std::int64_t>(size);
        break;
    case Target::none:
        break;
    }
}

void ChunkUploadReceiver::partEnd()
{
    if (m_target == Target::uploadId) {
        m_declared = m_declaredSize(*m_uploadId);
        if (!m_declared) {
            throw HttpError(404, "unknown upload");
        }
    }
    if (m_target == Target::data) {
        m_file->finish();
        m_hash = m_sha->finish();
        m_dataDone = true;
    }
    m_target = Target::none;
}

void ChunkUploadReceiver::fail(int status, const std::string& reason)
{
    m_failure = Failure{status, reason};
    m_file.reset();  // removes the partial temp file at once
}

}  // namespace corvane::server
