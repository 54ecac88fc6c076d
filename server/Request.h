#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "StoreRecords.h"

namespace corvane::server {

class ChunkUploadReceiver;

// One HTTP request as the router sees it, independent of the transport. Moved between the
// steps of one session; one thread at a time.
struct Request {
    std::string method;                           // "GET", "POST", ...
    std::string target;                           // raw, as received: "/api/files?folder_id=x"
    std::string path;                             // target without the query, still percent-encoded
    std::string query;                            // after "?", without it
    std::map<std::string, std::string> headers;   // lower-case names
    std::string peer;                             // the client's IP address
    std::optional<User> account;                  // whose bearer token it carries, if valid
    std::string body;                             // JSON routes
    std::shared_ptr<ChunkUploadReceiver> upload;  // POST /api/sync/upload/chunk only

    std::optional<std::string> header(const std::string& lowerCaseName) const;
    // The value of one query parameter, percent-decoded; nothing when absent. Throws HttpError
    // 400 when the value does not decode.
    std::optional<std::string> queryValue(const std::string& name) const;
    // Whether every name and value of the query percent-decodes.
    bool queryDecodes() const;

    static std::pair<std::string, std::string> splitTarget(const std::string& target);
    // Percent-decodes; nothing when an escape is malformed or decodes to NUL.
    static std::optional<std::string> percentDecode(const std::string& text);
};

}  // namespace corvane::server
