#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Clock.h"
#include "Sync/SyncPaths.h"
#include "Sync/SyncStatus.h"

namespace corvane {

class APIClient;
class ActivityManager;
class FolderResolver;
class LocalStateStore;
class RecentDeletions;
class SelectiveSyncManager;
class Transfers;

// What the engine's handlers of local and remote changes share with the engine: its services,
// its state and its two reports. Every member is thread-safe.
struct SyncContext {
    std::shared_ptr<APIClient> apiClient;
    SyncPaths paths;
    std::shared_ptr<FolderResolver> folderResolver;
    std::shared_ptr<LocalStateStore> state;
    std::shared_ptr<Transfers> transfers;
    std::shared_ptr<SelectiveSyncManager> selectiveSyncManager;
    std::shared_ptr<ActivityManager> activityManager;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<RecentDeletions> recentDeletions;
    std::function<void(SyncStatus)> onStatusChange;
    std::function<void(const std::string& message)> onError;
    // The engine, for work that must keep it alive (or, held weakly, see whether it still is).
    std::function<std::shared_ptr<const void>()> holdEngine;
};

}  // namespace corvane
