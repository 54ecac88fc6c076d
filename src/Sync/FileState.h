#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace corvane {

// What the engine last agreed with the server on for one file: the content hash, the server's
// version of that content and when the engine recorded it (ISO-8601 UTC, whole seconds).
struct FileState {
    std::string hash;
    std::int64_t version = 0;
    std::string mtime;

    bool operator==(const FileState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FileState& state);

// The current time in the state file's format, e.g. "2026-12-10T09:53:27Z".
std::string currentStateTime();

}  // namespace corvane
