#include "Housekeeper.h"

#include <iostream>

#include "BlobStore.h"
#include "ServerClock.h"
#include "Store.h"
#include "SyncApi.h"

namespace corvane::server {

namespace {

// Rows forgotten per hold of the store's lock, so requests go on between batches.
constexpr std::int64_t kBlobBatch = 256;

}  // namespace

Housekeeper::Housekeeper(Store& store, const BlobStore& blobs, const ServerClock& clock,
                         std::chrono::milliseconds interval)
    : m_store(store), m_blobs(blobs), m_clock(clock), m_interval(interval)
{
    collectLogged();
    m_thread = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

Housekeeper::~Housekeeper() = default;

Housekeeper::Round Housekeeper::collect()
{
    std::lock_guard round(m_roundMutex);
    Round result;
    result.expiredUploads = m_store.expirePendingUploads(
        ServerClock::isoText(m_clock.now() - SyncApi::kPendingUploadLifetime));
    const auto remove = [this](const std::string& hash) { m_blobs.remove(hash); };
    for (std::int64_t removed = kBlobBatch; removed == kBlobBatch;) {
        removed = m_store.collectUnreferencedBlobs(kBlobBatch, remove);
        result.removedBlobs += removed;
    }
    m_blobs.forEachBlob([&](const std::string& hash) {
        result.removedBlobs += m_store.removeIfUnrecorded(hash, remove) ? 1 : 0;
    });
    return result;
}

void Housekeeper::collectLogged()
{
    try {
        collect();
    } catch (const std::exception& error) {
        // The next round tries again; what was not removed stays harmless until then.
        std::cerr << "housekeeping failed: " << error.what() << std::endl;
    }
}

void Housekeeper::run(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(m_waitMutex);
            m_wake.wait_for(lock, stop, m_interval, [] { return false; });
        }
        if (!stop.stop_requested()) {
            collectLogged();
        }
    }
}

}  // namespace corvane::server
