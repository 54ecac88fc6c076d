#include "Sync/SyncDiff.h"

namespace corvane {

std::ostream& operator<<(std::ostream& out, DiffAction action)
{
    switch (action) {
    case DiffAction::upload:
        return out << "upload";
    case DiffAction::download:
        return out << "download";
    case DiffAction::conflict:
        return out << "conflict";
    case DiffAction::deleteLocal:
        return out << "deleteLocal";
    }
    return out;
}

namespace {

DiffEntry decideChanged(const std::string& path, const std::string& localHash,
                        const FileInfo& remote, const std::optional<FileState>& stored)
{
    if (!stored) {
        // Nothing tells which side changed: keep both.
        return {DiffAction::conflict, path, localHash, remote};
    }
    if (localHash == stored->hash) {
        return {DiffAction::download, path, std::nullopt, remote};
    }
    if (remote.hash == stored->hash) {
        return {DiffAction::upload, path, localHash, remote};
    }
    return {DiffAction::conflict, path, localHash, remote};
}

}  // namespace

std::vector<DiffEntry> computeDiff(const std::map<std::string, std::string>& localFiles,
                                   const std::vector<FileInfo>& remoteFiles,
                                   const StateLookup& getState)
{
    std::map<std::string, const FileInfo*> remoteByPath;
    for (const FileInfo& file : remoteFiles) {
        remoteByPath[file.path] = &file;  // a later record with the same path wins
    }

    std::vector<DiffEntry> entries;
    for (const auto& [path, localHash] : localFiles) {
        const auto remote = remoteByPath.find(path);
        if (remote != remoteByPath.end()) {
            if (localHash != remote->second->hash) {
                entries.push_back(decideChanged(path, localHash, *remote->second, getState(path)));
            }
            remoteByPath.erase(remote);
            continue;
        }
        const std::optional<FileState> stored = getState(path);
        if (stored && stored->hash == localHash) {
            entries.push_back({DiffAction::deleteLocal, path, localHash, std::nullopt});
        } else {
            entries.push_back({DiffAction::upload, path, localHash, std::nullopt});
        }
    }
    for (const auto& [path, remote] : remoteByPath) {
        entries.push_back({DiffAction::download, path, std::nullopt, *remote});
    }
    return entries;
}

}  // namespace corvane
