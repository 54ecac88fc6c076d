#include "ChunkUploadReceiver.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "Platform/Error.h"
#include "TempFile.h"

namespace corvane::server {

namespace {

constexpr std::size_t kMaxUploadIdBytes = 256;

}  // namespace

ChunkUploadReceiver::ChunkUploadReceiver(std::optional<std::string> boundary,
                                         std::filesystem::path tempDir, std::size_t recordLimit)
    : m_tempDir(std::move(tempDir)), m_recordLimit(recordLimit)
{
    if (boundary) {
        m_parser.emplace(std::move(*boundary), static_cast<MultipartParser::Handler&>(*this));
    } else {
        m_failure = "expected multipart/form-data with a boundary";
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
    } catch (const FileError& error) {
        fail(error.localizedDescription(), true);
    } catch (const std::exception& error) {
        fail(error.what(), false);
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
        fail(error.what(), false);
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
    if (m_target == Target::data) {
        m_file->finish();
        m_hash = m_sha->finish();
        m_dataDone = true;
    }
    m_target = Target::none;
}

void ChunkUploadReceiver::fail(const std::string& reason, bool serverSide)
{
    m_failure = reason;
    m_serverFailure = serverSide;
    m_file.reset();  // removes the partial temp file at once
}

}  // namespace corvane::server
