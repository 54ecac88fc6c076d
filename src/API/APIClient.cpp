#include "API/APIClient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "API/APIError.h"
#include "API/APIRecords.h"
#include "API/CurlTransport.h"
#include "API/HeaderValue.h"
#include "API/MultipartBody.h"
#include "API/TransportError.h"
#include "API/URLEncoding.h"
#include "Models/JsonCoding.h"
#include "Platform/Error.h"
#include "Platform/Sha256.h"
#include "Platform/TrailingFileHasher.h"
#include "Platform/UUID.h"
#include "Platform/Unicode.h"
#include "Platform/UniqueFd.h"

namespace corvane {
namespace {

constexpr long kStatusOK = 200;
constexpr long kStatusUnauthorized = 401;
constexpr long kFirstRedirectStatus = 300;
constexpr long kFirstErrorStatus = 400;

std::string withoutOneTrailingSlash(std::string text)
{
    if (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

std::string tooLargeMessage(std::size_t limit)
{
    constexpr std::size_t kMiB = 1024 * 1024;
    const std::string amount = limit % kMiB == 0 ? std::to_string(limit / kMiB) + " MiB"
                                                 : std::to_string(limit) + " bytes";
    return "Server answer too large (over " + amount + ")";
}

// The message of an error answer: its body as text, unless that says nothing a person can read.
std::string serverMessage(const std::string& body)
{
    const bool blank = std::all_of(body.begin(), body.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    });
    return blank || !Unicode::isValidUTF8(body) ? "Unknown error" : body;
}

// Body bytes of a POST taken from a string in memory.
void attachBody(HttpRequest& request, const std::string& body, std::size_t& offset)
{
    request.post = true;
    request.bodySize = body.size();
    request.readBody = [&body, &offset](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min(capacity, body.size() - offset);
        std::memcpy(buffer, body.data() + offset, count);
        offset += count;
        return count;
    };
    request.rewindBody = [&offset] { offset = 0; };
}

void attachBody(HttpRequest& request, MultipartBody& body)
{
    request.post = true;
    request.bodySize = body.size();
    request.readBody = [&body](char* buffer, std::size_t capacity) {
        return body.read(buffer, capacity);
    };
    request.rewindBody = [&body] { body.rewind(); };
}

// The file a download writes into. An existing file keeps its content until the answer's bytes
// arrive; after a failure the file goes when this download made it or had begun to overwrite it,
// so that a partial file never looks like content, and an existing file outlives a refusal.
struct DownloadTarget {
    explicit DownloadTarget(const std::filesystem::path& destination) : path(destination)
    {
        // Read access lets a large download's bytes be hashed back from the file.
        file.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        created = file.valid();
        if (!file && errno == EEXIST) {
            file.reset(::open(path.c_str(), O_RDWR | O_CLOEXEC));
            if (!file && errno == EACCES) {
                file.reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
            }
        }
        if (!file) {
            throw FileError("Cannot create", path.string(), errno);
        }
        struct stat info {};
        // A device such as /dev/null is never truncated or removed.
        isRegularFile = ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
        isReadable = (::fcntl(file.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
    }

    // Drops the old content, once, before the first byte of the new one is written.
    void replaceContent()
    {
        if (changed || !isRegularFile) {
            return;
        }
        changed = true;
        if (::ftruncate(file.get(), 0) != 0) {
            throw FileError("Cannot write", path.string(), errno);
        }
    }

    void discard()
    {
        file.close();
        if (isRegularFile && (created || changed)) {
            ::unlink(path.c_str());
        }
    }

    const std::filesystem::path& path;
    UniqueFd file;
    bool created = false;
    bool changed = false;
    bool isRegularFile = false;
    bool isReadable = false;
};

// Below this size a download hashes its bytes as they pass; above it a thread of its own reads
// them back from the file, so that hashing runs beside the socket instead of after it.
constexpr std::uint64_t kTrailingHashBytes = 4 * 1024 * 1024;

// A content call's answer is read only with status 200; anything else stops the transfer.
void requireOK(long status)
{
    if (status != kStatusOK) {
        throw APIError::requestFailed();
    }
}

}  // namespace

APIClient::APIClient(std::string baseURL, std::size_t maxJSONAnswerBytes)
    : m_baseURL(withoutOneTrailingSlash(std::move(baseURL))),
      m_maxJSONAnswerBytes(maxJSONAnswerBytes), m_transport(std::make_unique<CurlTransport>())
{
}

APIClient::~APIClient() = default;

std::optional<std::string> APIClient::token() const
{
    std::lock_guard lock(m_tokenMutex);
    return m_token;
}

void APIClient::setToken(std::optional<std::string> token)
{
    std::lock_guard lock(m_tokenMutex);
    m_token = std::move(token);
}

std::string APIClient::requestURL(const std::string& path) const
{
    std::string url = m_baseURL + path;
    if (!isValidRequestURL(url)) {
        throw APIError::invalidURL();
    }
    return url;
}

std::vector<std::string> APIClient::authorization() const
{
    const std::optional<std::string> current = token();
    if (!current) {
        return {};
    }
    // A token with a line break would end the header and add others of its choosing: such a
    // token (a tampered token file) is useless, and signing in again replaces it.
    if (!isSafeHeaderValue(*current)) {
        throw APIError::unauthorized();
    }
    return {"Authorization: Bearer " + *current};
}

std::string APIClient::get(const std::string& path)
{
    return sendJSON(path, std::nullopt);
}

std::string APIClient::post(const std::string& path, const std::string& body)
{
    return sendJSON(path, body);
}

std::string APIClient::sendJSON(const std::string& path, const std::optional<std::string>& body)
{
    HttpRequest request;
    request.url = requestURL(path);
    std::size_t bodyOffset = 0;
    if (body) {
        request.headers.emplace_back("Content-Type: application/json");
        attachBody(request, *body, bodyOffset);
    }
    for (std::string& header : authorization()) {
        request.headers.push_back(std::move(header));
    }

    std::string answer;
    request.receive = [this, &answer](long status, std::string_view bytes) {
        if (status == kStatusUnauthorized ||
            (status >= kFirstRedirectStatus && status < kFirstErrorStatus)) {
            return;  // whatever a 401 or a redirect says, only its status counts
        }
        if (bytes.size() > m_maxJSONAnswerBytes - answer.size()) {
            throw TransportError(0, tooLargeMessage(m_maxJSONAnswerBytes));
        }
        answer.append(bytes);
    };
    const long status = m_transport->perform(request);
    if (status == kStatusUnauthorized) {
        throw APIError::unauthorized();
    }
    if (status >= kFirstErrorStatus) {
        throw APIError::serverError(serverMessage(answer), status);
    }
    if (status >= kFirstRedirectStatus) {
        throw APIError::serverError(
            "Unexpected redirect from the server (HTTP " + std::to_string(status) + ")", status);
    }
    return answer;
}

void APIClient::sendCode(const std::string& email)
{
    decode<TextMap>(post("/api/auth/send-code", encode(TextMap{{"email", email}})));
}

VerifyResponse APIClient::verify(const std::string& email, const std::string& code)
{
    VerifyResponse answer = decode<VerifyResponse>(
        post("/api/auth/verify", encode(TextMap{{"email", email}, {"code", code}})));
    // Refused before anyone stores it: every request would carry it in a header.
    if (!isSafeHeaderValue(answer.token)) {
        throw DecodingError::typeMismatch("a token without control characters", "token");
    }
    return answer;
}

std::vector<Folder> APIClient::listFolders(const std::optional<std::string>& parentId)
{
    std::string path = "/api/folders";
    if (parentId) {
        path += "?parent_id=" + percentEncodeQuery(*parentId);
    }
    return decodeList<Folder>(get(path));
}

Folder APIClient::createFolder(const std::string& name, const std::optional<std::string>& parentId)
{
    return decode<Folder>(post("/api/folders", encode(CreateFolderRequest{name, parentId})));
}

FolderTree APIClient::getFolderTree(const std::string& folderId)
{
    return decode<FolderTree>(get("/api/folders/" + percentEncodePath(folderId) + "/tree"));
}

std::vector<FileInfo> APIClient::listFiles(const std::string& folderId)
{
    return decodeList<FileInfo>(get("/api/files?folder_id=" + percentEncodeQuery(folderId)));
}

UploadInitResponse APIClient::uploadInit(const UploadInitRequest& request)
{
    return decode<UploadInitResponse>(post("/api/sync/upload/init", encode(request)));
}

std::vector<SyncEvent> APIClient::listEvents(const std::optional<std::string>& sinceId,
                                             const std::vector<std::string>& folderIds)
{
    // Sent as given, unencoded: an id that breaks the address fails as an invalid URL.
    std::vector<std::string> parameters;
    if (sinceId) {
        parameters.push_back("since=" + *sinceId);
    }
    if (!folderIds.empty()) {
        std::string joined;
        for (const std::string& id : folderIds) {
            joined += (joined.empty() ? "" : ",") + id;
        }
        parameters.push_back("folder_ids=" + joined);
    }
    std::string path = "/api/sync/events";
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        path += (i == 0 ? "?" : "&") + parameters[i];
    }
    return decodeList<SyncEvent>(get(path));
}

void APIClient::deleteFile(const std::string& path, const std::string& folderId)
{
    decode<BooleanMap>(post("/api/sync/delete", encode(DeleteRequest{path, folderId})));
}

namespace {

// Sends one multipart body and decodes the answer's "file".
std::optional<FileInfo> sendChunk(CurlTransport& transport, HttpRequest& request,
                                  const std::string& boundary, MultipartBody& body,
                                  std::size_t maxAnswerBytes)
{
    request.headers.insert(request.headers.begin(),
                           "Content-Type: multipart/form-data; boundary=" + boundary);
    attachBody(request, body);
    std::string answer;
    request.receive = [&answer, maxAnswerBytes](long status, std::string_view bytes) {
        requireOK(status);
        if (bytes.size() > maxAnswerBytes - answer.size()) {
            throw TransportError(0, tooLargeMessage(maxAnswerBytes));
        }
        answer.append(bytes);
    };
    requireOK(transport.perform(request));
    return decode<ChunkResponse>(answer).file;
}

}  // namespace

std::optional<FileInfo> APIClient::uploadChunk(const std::string& uploadId, std::string_view data)
{
    const std::string boundary = UUID::make();
    MultipartBody body(boundary, uploadId, data);
    HttpRequest request;
    request.url = requestURL("/api/sync/upload/chunk");
    request.headers = authorization();
    return sendChunk(*m_transport, request, boundary, body, m_maxJSONAnswerBytes);
}

std::optional<FileInfo> APIClient::uploadChunkFromFile(const std::string& uploadId,
                                                       const std::filesystem::path& file)
{
    return sendChunkFromFile(uploadId, file, std::nullopt);
}

std::optional<FileInfo> APIClient::uploadChunkFromFile(const std::string& uploadId,
                                                       const std::filesystem::path& file,
                                                       std::uint64_t size,
                                                       const std::string& sha256)
{
    return sendChunkFromFile(uploadId, file, ExpectedContent{size, sha256});
}

std::optional<FileInfo> APIClient::sendChunkFromFile(const std::string& uploadId,
                                                     const std::filesystem::path& file,
                                                     std::optional<ExpectedContent> expected)
{
    const std::string boundary = UUID::make();
    HttpRequest request;
    request.url = requestURL("/api/sync/upload/chunk");
    MultipartBody body(boundary, uploadId, file, std::move(expected));
    request.headers = authorization();
    return sendChunk(*m_transport, request, boundary, body, m_maxJSONAnswerBytes);
}

std::string APIClient::download(const std::string& hash)
{
    HttpRequest request;
    request.url = requestURL("/api/sync/download/" + percentEncodePath(hash));
    request.headers = authorization();
    std::string content;
    request.receive = [&content](long status, std::string_view bytes) {
        requireOK(status);
        content.append(bytes);
    };
    requireOK(m_transport->perform(request));
    return content;
}

std::uint64_t APIClient::downloadToFile(const std::string& hash,
                                        const std::filesystem::path& destination)
{
    return receiveToFile(hash, destination, nullptr);
}

std::uint64_t APIClient::downloadToFile(const std::string& hash,
                                        const std::filesystem::path& destination,
                                        std::string& sha256)
{
    Sha256 digest;
    const std::uint64_t received = receiveToFile(hash, destination, &digest);
    sha256 = digest.finish();
    return received;
}

std::uint64_t APIClient::receiveToFile(const std::string& hash,
                                       const std::filesystem::path& destination, Sha256* digest)
{
    HttpRequest request;
    request.url = requestURL("/api/sync/download/" + percentEncodePath(hash));
    request.headers = authorization();

    DownloadTarget target(destination);
    UniqueFd& file = target.file;
    std::uint64_t received = 0;
    std::optional<TrailingFileHasher> trailingHasher;
    request.receive = [&](long status, std::string_view bytes) {
        requireOK(status);
        target.replaceContent();
        if (digest && !trailingHasher) {
            digest->update(bytes);
        }
        if (!file.writeAll(bytes)) {
            throw FileError("Cannot write", destination.string(), errno);
        }
        received += bytes.size();
        if (trailingHasher) {
            trailingHasher->written(received);
        } else if (digest && received >= kTrailingHashBytes && target.isRegularFile &&
                   target.isReadable) {
            trailingHasher.emplace(file.get(), destination, *digest, received);
        }
    };
    try {
        requireOK(m_transport->perform(request));
        target.replaceContent();  // an empty content has never arrived as bytes
        // EINVAL: a special file (such as /dev/null) that has nothing to flush.
        if (::fsync(file.get()) != 0 && errno != EINVAL) {
            throw FileError("Cannot write", destination.string(), errno);
        }
        if (trailingHasher) {
            trailingHasher->finish();  // after the flush, which it overlaps
        }
        trailingHasher.reset();
        if (file.close() != 0) {
            throw FileError("Cannot write", destination.string(), errno);
        }
    } catch (...) {
        trailingHasher.reset();
        target.discard();
        throw;
    }
    return received;
}

}  // namespace corvane
