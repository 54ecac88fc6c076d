#include "Sync/StartupCycle.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "API/APIClient.h"
#include "Logging/FileLogger.h"
#include "Platform/Error.h"
#include "Platform/Task.h"
#include "Sync/ContentHash.h"
#include "Sync/FolderResolver.h"
#include "Sync/LocalStateStore.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/Transfers.h"

namespace corvane {
namespace {

void logSyncError(const std::string& path, const std::string& error)
{
    FileLogger::shared().error("sync", "sync error", {{"path", path}, {"error", error}});
}

void logRefusedPath(const std::string& path, const std::string& reason)
{
    logSyncError(path, "refused server path: " + reason);
}

}  // namespace

StartupCycle::StartupCycle(SyncContext context, std::size_t maxInFlight,
                           std::function<bool()> keepGoing)
    : m_context(std::move(context)), m_scanner(m_context.paths), m_maxInFlight(maxInFlight),
      m_keepGoing(std::move(keepGoing))
{
}

StartupCycle::RemoteFiles
StartupCycle::fetchRemoteFiles(const std::vector<std::string>& folderIDs) const
{
    std::vector<FileInfo> remoteFiles;
    const auto refused = [](const std::string& path, const std::string& reason) {
        logRefusedPath(path, reason);
    };
    for (const std::string& folderId : folderIDs) {
        const FolderTree tree = m_context.apiClient->getFolderTree(folderId);
        // A tree that failed to load at start still teaches the resolver its folders.
        m_context.folderResolver->indexTree(tree);
        std::vector<FileInfo> files = LocalScanner::collectFiles(tree);
        remoteFiles.insert(remoteFiles.end(), std::make_move_iterator(files.begin()),
                           std::make_move_iterator(files.end()));
        m_scanner.createLocalFolders(tree, m_context.folderResolver->isRootFolder(folderId),
                                     refused);
    }
    RemoteFiles accepted;
    accepted.total = remoteFiles.size();
    for (FileInfo& file : m_context.folderResolver->normalizeFilePaths(std::move(remoteFiles))) {
        auto checked = m_context.paths.checkRemotePath(file.path);
        if (!checked.path) {
            logRefusedPath(file.path, checked.refusal);
            accepted.unknownFolders.insert(folderOfRefused(file));
            continue;
        }
        file.path = std::move(*checked.path);
        accepted.files.push_back(std::move(file));
    }
    return accepted;
}

std::string StartupCycle::folderOfRefused(const FileInfo& file) const
{
    // The record's folder bounds the file it stands for. Without a folder of its own (the root,
    // or one not known) it may stand for any file.
    const auto folder = m_context.folderResolver->getFolderByID(file.folderId);
    if (m_context.folderResolver->isRootFolder(file.folderId) || !folder) {
        return "/";
    }
    const auto checked = m_context.paths.checkRemotePath(folder->path);
    return checked.path ? *checked.path : "/";
}

void StartupCycle::run(const std::vector<std::string>& folderIDs)
{
    const auto started = std::chrono::steady_clock::now();
    FileLogger::shared().info("sync", "sync cycle started");

    const RemoteFiles remote = fetchRemoteFiles(folderIDs);
    const std::vector<FileInfo>& remoteFiles = remote.files;
    const auto localFiles =
        m_scanner.scanLocalFiles([](const std::string& path, const std::string& reason) {
            FileLogger::shared().warn("sync", "file skipped", {{"path", path}, {"reason", reason}});
        });
    FileLogger::shared().debug(
        "sync", "trees scanned",
        {{"remote_files", remote.total}, {"local_files", localFiles.size()}});

    const auto diff = computeDiff(localFiles, remoteFiles, [this](const std::string& path) {
        return m_context.state->get(path);
    });
    std::size_t counts[4] = {};
    for (const DiffEntry& entry : diff) {
        ++counts[static_cast<int>(entry.action)];
    }
    FileLogger::shared().info("sync", "diff computed",
                              {{"uploads", counts[static_cast<int>(DiffAction::upload)]},
                               {"downloads", counts[static_cast<int>(DiffAction::download)]},
                               {"deletes", counts[static_cast<int>(DiffAction::deleteLocal)]},
                               {"conflicts", counts[static_cast<int>(DiffAction::conflict)]}});

    for (const FileInfo& file : remoteFiles) {
        m_remotePaths.insert(file.path);
    }
    recordAgreement(localFiles, remoteFiles);
    std::vector<DiffEntry> entries = dropExcluded(diff);
    // The file a refused record stands for is not known: that the server seems to lack a file in
    // the record's folder is then no ground for deleting the local copy.
    const auto removed = std::erase_if(entries, [&](const DiffEntry& entry) {
        return entry.action == DiffAction::deleteLocal &&
               std::any_of(remote.unknownFolders.begin(), remote.unknownFolders.end(),
                           [&](const std::string& folder) {
                               return folder == "/" || entry.path.starts_with(folder + "/");
                           });
    });
    if (removed > 0) {
        FileLogger::shared().warn("sync", "local deletions skipped", {{"count", removed}});
    }
    executeEntries(std::move(entries));
    m_context.state->save();

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    FileLogger::shared().info("sync", "sync cycle complete", {{"duration_ms", elapsed.count()}});
}

void StartupCycle::recordAgreement(const std::map<std::string, std::string>& localFiles,
                                   const std::vector<FileInfo>& remoteFiles) const
{
    // Files that agree on both sides are remembered, so that a later deletion on either side
    // is taken for a deletion and not for a new file.
    for (const FileInfo& remote : remoteFiles) {
        const auto local = localFiles.find(remote.path);
        if (local == localFiles.end() || local->second != remote.hash) {
            continue;
        }
        const auto stored = m_context.state->get(remote.path);
        if (!stored || stored->hash != remote.hash || stored->version != remote.version) {
            m_context.state->set(remote.path,
                                 FileState{remote.hash, remote.version, currentStateTime()});
        }
    }
}

std::vector<DiffEntry> StartupCycle::dropExcluded(std::vector<DiffEntry> entries) const
{
    std::vector<DiffEntry> kept;
    for (DiffEntry& entry : entries) {
        if (m_context.selectiveSyncManager->isExcluded(entry.path)) {
            m_context.transfers->updateBadge(entry.path, SyncBadge::ignored);
        } else {
            kept.push_back(std::move(entry));
        }
    }
    return kept;
}

void StartupCycle::executeEntries(std::vector<DiffEntry> entries) const
{
    std::vector<Task::Work> work;
    work.reserve(entries.size());
    // The engine's own work: entries left over once it is gone are dropped.
    const std::weak_ptr<const void> engine = m_context.holdEngine();
    for (DiffEntry& entry : entries) {
        work.push_back([this, engine, entry = std::move(entry)] {
            const auto held = engine.lock();
            if (!held) {
                return;
            }
            try {
                executeDiff(entry);
            } catch (const std::exception& error) {
                logSyncError(entry.path, error.what());
            }
        });
    }
    BoundedTaskGroup(m_maxInFlight).run(std::move(work), m_keepGoing);
}

void StartupCycle::executeDiff(const DiffEntry& entry) const
{
    switch (entry.action) {
    case DiffAction::upload:
        m_context.transfers->uploadFile(entry.path, *entry.localHash, entry.remoteFile);
        break;
    case DiffAction::download:
        m_context.transfers->downloadFile(*entry.remoteFile, false);
        break;
    case DiffAction::conflict: {
        // Named clear of the server's files too: another device's copy made in the same
        // second may not be here yet, and the cycle would later download it over this one.
        const std::string copy = m_context.transfers->downloadFile(
            *entry.remoteFile, true,
            [this](const std::string& path) { return m_remotePaths.count(path) > 0; });
        m_context.transfers->uploadFile(entry.path, *entry.localHash, entry.remoteFile);
        // Sent now rather than after the cycle, when the watcher's events are handled: the
        // other devices get it sooner, and the server holds its content already. A file of its
        // own: its failure leaves the local version's upload standing.
        try {
            m_context.transfers->uploadFile(copy, entry.remoteFile->hash, std::nullopt);
        } catch (const std::exception& error) {
            logSyncError(copy, error.what());
        }
        break;
    }
    case DiffAction::deleteLocal:
        deleteIfUnchanged(entry);
        break;
    }
}

void StartupCycle::deleteIfUnchanged(const DiffEntry& entry) const
{
    // Looked at again just before removing: an edit made since the scan is uploaded instead.
    std::string currentHash;
    try {
        currentHash = hashFile(m_context.paths.localPath(entry.path));
    } catch (const FileError& error) {
        if (error.errorNumber() != ENOENT && error.errorNumber() != ENOTDIR) {
            throw;  // not known to be unchanged, nor gone: it stays
        }
        m_context.transfers->forgetLocalFile(entry.path);  // already gone
        return;
    }
    const auto stored = m_context.state->get(entry.path);
    if (stored && stored->hash == currentHash) {
        // Refused when edited just now: the edit's own file event uploads it after the cycle.
        m_context.transfers->deleteLocalFileIfUnchanged(entry.path, stored->hash);
    } else {
        m_context.transfers->uploadFile(entry.path, currentHash, std::nullopt);
    }
}

}  // namespace corvane
