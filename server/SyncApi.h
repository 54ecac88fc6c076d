#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Response.h"

namespace corvane::server {

struct FileChange;
struct StoredUpload;
struct Request;
struct Services;
struct User;

// Content and change log: upload init and chunk, download by hash, delete, event list.
// Thread-safe.
class SyncApi {
public:
    // The largest content an upload may carry.
    static constexpr std::int64_t kMaxUploadBytes = 8LL * 1024 * 1024 * 1024;
    // An upload whose content has not come expires after this; an account keeps at most
    // kMaxPendingUploads of them, the oldest going first.
    static constexpr std::chrono::hours kPendingUploadLifetime{24};
    static constexpr std::int64_t kMaxPendingUploads = 1000;

    explicit SyncApi(Services& services) : m_services(services) {}

    Response uploadInit(const Request& request, const User& user);
    // The size the account's pending upload was started for; nothing when there is none.
    std::optional<std::int64_t> pendingUploadSize(const User& user,
                                                  const std::string& uploadId) const;
    Response uploadChunk(const Request& request, const User& user);
    Response download(const std::string& hash, const User& user);
    Response deleteFile(const Request& request, const User& user);
    Response events(const Request& request, const User& user);

    // When the oldest pending upload still valid was created, as stored (ISO-8601 UTC).
    std::string oldestPendingUpload() const;

private:
    Response fileAnswer(const FileChange& change, const std::string& userId,
                        const std::string& status);
    void announce(const std::string& userId, const FileChange& change);
    void announce(const std::string& userId, const StoredUpload& stored);

    Services& m_services;
};

}  // namespace corvane::server
