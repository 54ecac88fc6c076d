#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Models/Models.h"

namespace corvane {

class CurlTransport;
class Sha256;
struct ExpectedContent;

// The client of the sync server's REST interface: every operation blocks until the answer is in
// and returns it or throws: APIError (see APIError.h; an error answer with an empty or blank body
// carries "Unknown error", and a redirect is never followed: a JSON call answered with a 3xx
// fails as a server error naming the status), TransportError (no usable answer),
// DecodingError (an answer that does not decode), EncodingError (a body that cannot be encoded),
// and, for the file variants, FileError. Call operations from background threads, never the main
// thread. Thread-safe: several operations may run at once on one client and the token may be
// set at any time; each request reads the token once, whole. Connections are reused between
// calls. One client per server address; a new address means a new client.
class APIClient {
public:
    static constexpr std::size_t kMaxJSONAnswerBytes = 64 * 1024 * 1024;

    // Never fails. Exactly one trailing "/" of `baseURL` is dropped; nothing else is checked.
    // `maxJSONAnswerBytes` bounds the JSON answers that are held in memory (tests lower it).
    explicit APIClient(std::string baseURL, std::size_t maxJSONAnswerBytes = kMaxJSONAnswerBytes);
    virtual ~APIClient();
    APIClient(const APIClient&) = delete;
    APIClient& operator=(const APIClient&) = delete;

    const std::string& baseURL() const { return m_baseURL; }

    // The bearer token; absent means no "Authorization" header. An empty text is a token. A
    // token holding a control character (CR, LF, ...) is never sent: every call fails with
    // APIError::unauthorized before anything goes out, so that the user signs in again.
    std::optional<std::string> token() const;
    void setToken(std::optional<std::string> token);

    virtual void sendCode(const std::string& email);
    // An answer whose token holds a control character fails with a DecodingError at "token".
    virtual VerifyResponse verify(const std::string& email, const std::string& code);
    virtual std::vector<Folder> listFolders(const std::optional<std::string>& parentId = {});
    virtual Folder createFolder(const std::string& name,
                                const std::optional<std::string>& parentId = {});
    virtual FolderTree getFolderTree(const std::string& folderId);
    virtual std::vector<FileInfo> listFiles(const std::string& folderId);
    virtual UploadInitResponse uploadInit(const UploadInitRequest& request);
    virtual std::vector<SyncEvent> listEvents(const std::optional<std::string>& sinceId,
                                              const std::vector<std::string>& folderIds);
    virtual void deleteFile(const std::string& path, const std::string& folderId);

    // Content calls: only status 200 succeeds; any other status is APIError::requestFailed.
    // Sends `data` (any bytes) as the upload's content; returns the stored file when the answer
    // names one.
    virtual std::optional<FileInfo> uploadChunk(const std::string& uploadId, std::string_view data);
    // As uploadChunk, with the content read from `file` while it is sent (the same bytes on the
    // wire; memory use does not grow with the file's size).
    virtual std::optional<FileInfo> uploadChunkFromFile(const std::string& uploadId,
                                                        const std::filesystem::path& file);
    // As uploadChunkFromFile, and the bytes sent must be the content declared when the upload
    // started: a file that changed since it was hashed fails the call (ContentChangedError)
    // before the body is complete, so the server never stores content under a wrong hash.
    virtual std::optional<FileInfo> uploadChunkFromFile(const std::string& uploadId,
                                                        const std::filesystem::path& file,
                                                        std::uint64_t size,
                                                        const std::string& sha256);
    // The content stored under `hash`, exactly as received.
    virtual std::string download(const std::string& hash);
    // Writes the content stored under `hash` into `destination` as it arrives and flushes it to
    // disk; returns the byte count. A file that exists at `destination` is replaced once the
    // content starts to arrive, and is kept as it was when the call fails before that (a 404, a
    // refused connection). On a failure after that, or when the call created the file, the
    // partial file is removed before the error is thrown. The caller picks the name and renames
    // it afterwards.
    virtual std::uint64_t downloadToFile(const std::string& hash,
                                         const std::filesystem::path& destination);
    // As downloadToFile, and `sha256` receives the SHA-256 of the bytes written, hashed as they
    // arrive: the caller checks the content without reading the file back.
    virtual std::uint64_t downloadToFile(const std::string& hash,
                                         const std::filesystem::path& destination,
                                         std::string& sha256);

private:
    // The JSON calls: status mapping of 401, other errors, then the body text to decode.
    std::string get(const std::string& path);
    std::string post(const std::string& path, const std::string& body);
    std::string sendJSON(const std::string& path, const std::optional<std::string>& body);
    std::string requestURL(const std::string& path) const;
    std::optional<FileInfo> sendChunkFromFile(const std::string& uploadId,
                                              const std::filesystem::path& file,
                                              std::optional<ExpectedContent> expected);
    std::vector<std::string> authorization() const;
    std::uint64_t receiveToFile(const std::string& hash, const std::filesystem::path& destination,
                                Sha256* digest);

    const std::string m_baseURL;
    const std::size_t m_maxJSONAnswerBytes;
    const std::unique_ptr<CurlTransport> m_transport;

    mutable std::mutex m_tokenMutex;
    std::optional<std::string> m_token;  // guarded by m_tokenMutex
};

}  // namespace corvane
