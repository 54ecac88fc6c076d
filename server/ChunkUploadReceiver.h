#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "MultipartParser.h"
#include "Platform/Sha256.h"

namespace corvane::server {

class TempFile;

// Receives the multipart body of POST /api/sync/upload/chunk while it is read: the "upload_id"
// part into memory, the "data" part straight into a temp file in the data folder, hashed on the
// way. A malformed body does not stop the read: the rest is discarded and failure() says why,
// so the client still gets a proper answer. One thread at a time (its session's strand).
class ChunkUploadReceiver : private MultipartParser::Handler {
public:
    // boundary: nothing when the Content-Type carried none (the body is then only discarded).
    ChunkUploadReceiver(std::optional<std::string> boundary, std::filesystem::path tempDir,
                        std::size_t recordLimit);
    ~ChunkUploadReceiver() override;

    void put(const char* data, std::size_t size);
    void finish();

    // A problem of the request (400) or of the server's disk (serverFailure, 500).
    const std::optional<std::string>& failure() const { return m_failure; }
    bool serverFailure() const { return m_serverFailure; }
    const std::optional<std::string>& uploadId() const { return m_uploadId; }
    bool hasData() const { return m_dataDone && m_file != nullptr; }
    const std::string& hash() const { return m_hash; }
    std::int64_t size() const { return m_size; }
    // The temp file with the data part's content, synced and closed; removed with the receiver
    // unless taken.
    std::unique_ptr<TempFile> takeFile();
    // The first recordLimit bytes of the raw body, for the last-request record.
    const std::string& recordedBody() const { return m_recorded; }

private:
    enum class Target { none, uploadId, data };

    void partBegin(const MultipartParser::Part& part) override;
    void partData(const char* data, std::size_t size) override;
    void partEnd() override;
    void fail(const std::string& reason, bool serverSide);

    std::optional<MultipartParser> m_parser;
    std::filesystem::path m_tempDir;
    std::size_t m_recordLimit;
    std::string m_recorded;
    Target m_target = Target::none;
    std::optional<std::string> m_uploadId;
    std::unique_ptr<TempFile> m_file;
    std::optional<Sha256> m_sha;
    std::string m_hash;
    std::int64_t m_size = 0;
    bool m_dataDone = false;
    std::optional<std::string> m_failure;
    bool m_serverFailure = false;
};

}  // namespace corvane::server
