#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Models/Models.h"
#include "Sync/LocalScanner.h"
#include "Sync/SyncContext.h"
#include "Sync/SyncDiff.h"

namespace corvane {

// The full sync cycle, run once when an engine starts: reads the server's trees, scans the sync
// folder, compares both with the stored state and carries out the resulting uploads, downloads,
// conflict copies and local deletions, then saves the state file. A failed entry is logged and
// the cycle goes on; only a tree that cannot be fetched fails the cycle.
//
// Threads: run() on the start-up task, once. Its entries run as child tasks, at most
// `maxInFlight` at once, in list order; `keepGoing` is asked before each is handed out, and the
// entries under way finish.
class StartupCycle {
public:
    StartupCycle(SyncContext context, std::size_t maxInFlight, std::function<bool()> keepGoing);

    // Throws when a folder's tree cannot be fetched.
    void run(const std::vector<std::string>& folderIDs);

private:
    struct RemoteFiles {
        std::vector<FileInfo> files;  // accepted, with sync-relative paths
        std::size_t total = 0;        // records the trees held, refused ones included
        // Sync-relative folders ("/" for all) that hold a record whose path was refused.
        std::set<std::string> unknownFolders;
    };
    RemoteFiles fetchRemoteFiles(const std::vector<std::string>& folderIDs) const;
    std::string folderOfRefused(const FileInfo& file) const;
    void recordAgreement(const std::map<std::string, std::string>& localFiles,
                         const std::vector<FileInfo>& remoteFiles) const;
    std::vector<DiffEntry> dropExcluded(std::vector<DiffEntry> entries) const;
    void executeEntries(std::vector<DiffEntry> entries) const;
    void executeDiff(const DiffEntry& entry) const;
    void deleteIfUnchanged(const DiffEntry& entry) const;

    const SyncContext m_context;
    const LocalScanner m_scanner;
    const std::size_t m_maxInFlight;
    const std::function<bool()> m_keepGoing;
    std::set<std::string> m_remotePaths;  // the server's files, written before the entries run
};

}  // namespace corvane
