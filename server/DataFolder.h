#pragma once

#include <filesystem>

namespace corvane::server {

// The data folder holds every account's files, the sign-in codes and the token digests: it is
// private to the user running the server, whatever the umask. Called once at start, before
// anything opens a file in it.
class DataFolder {
public:
    // Creates the folder; sets the process umask to 077, so that everything created from now on
    // (the database with its WAL and shared-memory files, blobs, temporary files, outbox.log) is
    // 0600 and every folder 0700; and tightens what earlier runs left to the same modes.
    static void makePrivate(const std::filesystem::path& folder);
};

}  // namespace corvane::server
