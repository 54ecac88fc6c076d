#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Models/Models.h"
#include "Sync/FileState.h"

namespace corvane {

enum class DiffAction { upload, download, conflict, deleteLocal };

// One planned action of the full sync cycle.
struct DiffEntry {
    DiffAction action;
    std::string path;
    std::optional<std::string> localHash;
    std::optional<FileInfo> remoteFile;
};

std::ostream& operator<<(std::ostream& out, DiffAction action);

using StateLookup = std::function<std::optional<FileState>(const std::string& path)>;

// Compares the local files (path -> hash), the server's records and the stored state:
// - same content on both sides: nothing;
// - both present, contents differ: download when only the server changed, upload when only
//   the local file changed, conflict (server copy beside, local uploaded) when both changed or
//   when nothing is stored to tell which side changed;
// - only local: deleted locally when the server dropped a file that is unchanged since the last
//   sync, otherwise uploaded (an edit wins over a remote deletion);
// - only on the server: downloaded.
// Local entries come first in path order, then the downloads.
std::vector<DiffEntry> computeDiff(const std::map<std::string, std::string>& localFiles,
                                   const std::vector<FileInfo>& remoteFiles,
                                   const StateLookup& getState);

}  // namespace corvane
