#include "SyncApi.h"

#include <charconv>
#include <iostream>

#include <nlohmann/json.hpp>

#include "BlobStore.h"
#include "ChangeSink.h"
#include "ChunkUploadReceiver.h"
#include "HttpError.h"
#include "JsonBody.h"
#include "PathRules.h"
#include "Random.h"
#include "Request.h"
#include "ServerClock.h"
#include "Services.h"
#include "Store.h"
#include "TempFile.h"

namespace corvane::server {

namespace {

std::string requireRelativePath(const JsonBody& body)
{
    auto relative = PathRules::relativeFilePath(body.text("path"));
    if (!relative) {
        throw HttpError(400, "invalid path");
    }
    return *relative;
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            items.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

}  // namespace

Response SyncApi::uploadInit(const Request& request, const User& user)
{
    const JsonBody body(request.body);
    PendingUpload upload;
    upload.relativePath = requireRelativePath(body);
    upload.folderId = body.text("folder_id");
    upload.hash = body.text("hash");
    upload.size = body.integer("size");
    upload.baseVersion = body.integer("base_version");
    upload.userId = user.id;
    if (!PathRules::isContentHash(upload.hash)) {
        return Response::error(400, "hash must be 64 lower-case hexadecimal digits");
    }
    if (upload.size < 0 || upload.size > kMaxUploadBytes) {
        return Response::error(400, "invalid size");
    }
    if (!m_services.store.folder(user.id, upload.folderId)) {
        return Response::error(400, "unknown folder");
    }
    const std::string now = m_services.clock.nowText();
    if (m_services.blobs.contains(upload.hash, upload.size)) {
        if (const auto stored = m_services.store.recordKnownContent(upload, now)) {
            announce(user.id, *stored);
            return fileAnswer(stored->change, user.id, "exists");
        }
    }
    upload.id = Random::hex(16);
    m_services.store.addPendingUpload(upload, now, kMaxPendingUploads);
    return Response::json(200, {{"status", "pending"}, {"upload_id", upload.id}});
}

std::optional<std::int64_t> SyncApi::pendingUploadSize(const User& user,
                                                       const std::string& uploadId) const
{
    const auto upload = m_services.store.pendingUpload(user.id, uploadId, oldestPendingUpload());
    return upload ? std::optional(upload->size) : std::nullopt;
}

std::string SyncApi::oldestPendingUpload() const
{
    return ServerClock::isoText(m_services.clock.now() - kPendingUploadLifetime);
}

Response SyncApi::uploadChunk(const Request& request, const User& user)
{
    auto& receiver = *request.upload;
    if (const auto& failure = receiver.failure()) {
        if (failure->status >= 500) {
            std::cerr << "upload failed: " << failure->message << std::endl;
            return Response::error(500, "could not store the upload");
        }
        return Response::error(failure->status, failure->message);
    }
    if (!receiver.uploadId()) {
        return Response::error(400, "missing upload_id part");
    }
    if (!receiver.hasData()) {
        return Response::error(400, "missing data part");
    }
    const auto upload =
        m_services.store.pendingUpload(user.id, *receiver.uploadId(), oldestPendingUpload());
    if (!upload) {
        return Response::error(404, "unknown upload");
    }
    if (receiver.size() != upload->size) {
        return Response::error(400, "size mismatch: expected " + std::to_string(upload->size) +
                                        " bytes, received " + std::to_string(receiver.size()));
    }
    if (receiver.hash() != upload->hash) {
        return Response::error(400, "hash mismatch");
    }
    const auto file = receiver.takeFile();
    if (!m_services.blobs.contains(upload->hash, upload->size)) {
        m_services.blobs.publish(file->path(), upload->hash);
        file->release();
    }
    const auto stored = m_services.store.completeUpload(*upload, m_services.clock.nowText());
    if (!stored) {
        return Response::error(404, "unknown upload");
    }
    announce(user.id, *stored);
    return fileAnswer(stored->change, user.id, "");
}

Response SyncApi::download(const std::string& hash, const User& user)
{
    if (!PathRules::isContentHash(hash) || !m_services.store.ownsBlob(user.id, hash)) {
        return Response::error(404, "content not found");
    }
    return Response::fileContent(m_services.blobs.blobPath(hash));
}

Response SyncApi::deleteFile(const Request& request, const User& user)
{
    const JsonBody body(request.body);
    const std::string relativePath = requireRelativePath(body);
    const std::string folderId = body.text("folder_id");
    const auto change =
        m_services.store.deleteFile(user.id, folderId, relativePath, m_services.clock.nowText());
    if (!change) {
        return Response::error(404, "file not found");
    }
    announce(user.id, *change);
    return Response::json(200, {{"deleted", true}});
}

Response SyncApi::events(const Request& request, const User& user)
{
    std::int64_t since = 0;
    if (const auto text = request.queryValue("since")) {
        const auto* end = text->data() + text->size();
        const auto [ptr, ec] = std::from_chars(text->data(), end, since);
        if (text->empty() || ec != std::errc() || ptr != end || since < 0) {
            return Response::error(400, "since must be an event id");
        }
    }
    const auto folderIds = splitList(request.queryValue("folder_ids").value_or(""));
    nlohmann::json events = nlohmann::json::array();
    for (const auto& event : m_services.store.events(user.id, since, folderIds)) {
        events.push_back(WireFormat::syncEvent(event));
    }
    return Response::json(200, events);
}

Response SyncApi::fileAnswer(const FileChange& change, const std::string& userId,
                             const std::string& status)
{
    const auto folder = m_services.store.folder(userId, change.file.folderId);
    if (!folder) {
        throw HttpError(500, "folder vanished");
    }
    nlohmann::json answer{{"file", m_services.wire.fileInfo(change.file, *folder)}};
    if (!status.empty()) {
        answer["status"] = status;
    }
    return Response::json(200, answer);
}

void SyncApi::announce(const std::string& userId, const FileChange& change)
{
    m_services.changes.fileChanged(userId, WireFormat::notice(change.event));
}

void SyncApi::announce(const std::string& userId, const StoredUpload& stored)
{
    if (stored.keptCopy) {
        announce(userId, *stored.keptCopy);
    }
    announce(userId, stored.change);
}

}  // namespace corvane::server
