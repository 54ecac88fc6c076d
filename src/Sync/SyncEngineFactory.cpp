#include "Sync/SyncEngineFactory.h"

#include <utility>

namespace corvane {

SyncEngineFactory makeSyncEngineFactory(SyncEngineOptions options)
{
    return [options = std::move(options)](SyncEngineParts parts) {
        return SyncEngine::create(
            std::move(parts.apiClient), std::move(parts.syncDir), std::move(parts.activityManager),
            std::move(parts.selectiveSyncManager), std::move(parts.bandwidthThrottler),
            std::move(parts.onStatusChange), std::move(parts.onError), options);
    };
}

}  // namespace corvane
