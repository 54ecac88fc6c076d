#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>

namespace corvane {

// What the sync folder holds locally, as the Account tab shows it.
struct LocalFolderUsage {
    // Entries that are not folders once links are followed: files, links to files, broken
    // links and anything that vanished while the walk ran.
    std::int64_t fileCount = 0;
    // The sizes of the entries themselves (links not followed), folders' own sizes included.
    std::int64_t totalBytes = 0;

    bool operator==(const LocalFolderUsage&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LocalFolderUsage& usage);

// Walks everything below `folder` (a link to a folder is not entered) and measures it. Entries
// whose path below `folder` has a component beginning with "." are left out, and so is the
// whole of a hidden folder, the state folder ".corvane" among them. A subfolder that cannot be
// read adds its own entry but none of its contents. Nothing when `folder` itself cannot be
// read. Returns early, with what was found so far, once `stop` is requested.
//
// Blocking file-system work, so the views run it in a background task. Thread-safe.
std::optional<LocalFolderUsage> measureLocalFolder(const std::filesystem::path& folder,
                                                   std::stop_token stop = {});

// "<n> files" (the same word for every count); "0 files" for a folder that cannot be read.
std::string localFileCountText(const std::optional<LocalFolderUsage>& usage);
// The byte count in the client's file-size wording; "0 B" for a folder that cannot be read.
std::string localFolderSizeText(const std::optional<LocalFolderUsage>& usage);

}  // namespace corvane
