#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "Sync/SyncEngine.h"

namespace corvane {

class APIClient;
class ActivityManager;
class BandwidthThrottler;
class SelectiveSyncManager;

// What the application hands every engine it builds: the shared client and stores, the sync
// folder and the two reports.
struct SyncEngineParts {
    std::shared_ptr<APIClient> apiClient;
    std::filesystem::path syncDir;
    std::shared_ptr<ActivityManager> activityManager;
    std::shared_ptr<SelectiveSyncManager> selectiveSyncManager;
    std::shared_ptr<BandwidthThrottler> bandwidthThrottler;
    SyncEngine::StatusCallback onStatusChange;
    SyncEngine::ErrorCallback onError;
};

// Builds one engine, not started. The application builds every engine through one of these, so
// that tests can give it shorter timings or watch what it builds.
using SyncEngineFactory = std::function<std::shared_ptr<SyncEngine>(SyncEngineParts parts)>;

// Engines with `options` (the product's timings by default).
SyncEngineFactory makeSyncEngineFactory(SyncEngineOptions options = {});

}  // namespace corvane
