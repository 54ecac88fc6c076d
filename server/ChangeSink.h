#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::server {

// One announced change of a file of an account, in the fields of a "file_changed" event.
struct FileChangedNotice {
    std::string id;      // the change-log id (text), as in GET /api/sync/events
    std::string action;  // "create", "update", "delete"
    std::string path;    // relative to the folder, with a leading "/": "/a.txt", "/Sub/a.txt"
    std::optional<std::string> hash;      // absent for "delete"
    std::optional<std::int64_t> version;  // absent for "delete"
    std::string userId;
    std::string folderId;
    std::string timestamp;
};

// Receives every create, update and delete of a file after it is committed. The push hub of
// GET /api/sync/ws implements it to fan the change out to the account's open sockets.
// Called from any I/O thread, never under a Store lock; implementations must be thread-safe and
// must not block on the network.
class ChangeSink {
public:
    virtual ~ChangeSink() = default;
    virtual void fileChanged(const std::string& accountId, const FileChangedNotice& notice) = 0;
};

}  // namespace corvane::server
