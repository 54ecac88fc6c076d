#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// Small secrets of the client (the bearer token under "auth_token") kept across launches: each
// key is the hidden file "." + key in the folder "Corvane" of the XDG data home, holding the
// value's bytes and nothing else, readable and writable by the owner only. A failed save
// writes one entry to the system log (category "Storage"); nothing else is ever logged.
//
// No state of its own. Thread-safe as far as the file system is: a reader sees the old value
// or the new one, never a mix.
class KeychainHelper {
public:
    static constexpr const char* kAuthTokenKey = "auth_token";

    // True when the value is on disk under owner-only permissions. The folder is made (0700)
    // when missing; the value goes to a temporary file in it that is owner-only before its
    // first byte, flushed to disk and then renamed over the key's file. On any failure the
    // previous value stays and no temporary file is left.
    static bool save(const std::string& key, const std::string& value);
    // The stored value byte for byte; nothing when there is none, it cannot be read or it is
    // not UTF-8.
    static std::optional<std::string> load(const std::string& key);
    // Removes the key's file; always true, also when there was none.
    static bool deleteKey(const std::string& key);

    static std::filesystem::path storageDir();
    static std::filesystem::path fileURL(const std::string& key);
};

}  // namespace corvane
