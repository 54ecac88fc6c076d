#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "MultipartParser.h"
#include "Platform/Sha256.h"

namespace corvane::server {

class TempFile;

// Receives the multipart body of POST /api/sync/upload/chunk while it is read: the "upload_id"
// part into memory, the "data" part straight into a temp file in the data folder, hashed on the
// way. The "upload_id" part must come first: its pending upload says how many bytes the data may
// have. From the first problem on (a malformed body, an unknown upload, content past the
// declared size, a disk failure) nothing more is taken in and failure() says why, so that the
// session can stop reading and answer at once. One thread at a time (its session's strand).
class ChunkUploadReceiver : private MultipartParser::Handler {
public:
    // The size the pending upload with this id was started for; nothing when there is none.
    using DeclaredSize = std::function<std::optional<std::int64_t>(const std::string& uploadId)>;

    struct Failure {
        int status;  // 400 or 404 for the request's fault, 500 for the server's disk
        std::string message;
    };

    // boundary: nothing when the Content-Type carried none.
    ChunkUploadReceiver(std::optional<std::string> boundary, DeclaredSize declaredSize,
                        std::filesystem::path tempDir, std::size_t recordLimit);
    ~ChunkUploadReceiver() override;

    void put(const char* data, std::size_t size);
    void finish();

    const std::optional<Failure>& failure() const { return m_failure; }
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
    void fail(int status, const std::string& reason);

    std::optional<MultipartParser> m_parser;
    DeclaredSize m_declaredSize;
    std::filesystem::path m_tempDir;
    std::size_t m_recordLimit;
    std::string m_recorded;
    Target m_target = Target::none;
    std::optional<std::string> m_uploadId;
    std::optional<std::int64_t> m_declared;  // once the upload_id part is complete
    std::unique_ptr<TempFile> m_file;
    std::optional<Sha256> m_sha;
    std::string m_hash;
    std::int64_t m_size = 0;
    bool m_dataDone = false;
    std::optional<Failure> m_failure;
};

}  // namespace corvane::server
