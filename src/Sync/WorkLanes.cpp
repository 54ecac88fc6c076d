#include "Sync/WorkLanes.h"

#include "Platform/KeyedTaskQueue.h"

namespace corvane {
namespace {

// Not a sync-relative path, so no file's lane.
constexpr const char* kFolderLookupLane = "folder lookup";

}  // namespace

WorkLanes::WorkLanes(std::size_t maxInFlight)
    : m_queue(std::make_unique<KeyedTaskQueue>(maxInFlight))
{
}

WorkLanes::~WorkLanes() = default;

void WorkLanes::submit(const std::string& path, Task::Work work)
{
    m_queue->submit(path, std::move(work));
}

void WorkLanes::submitLookup(Task::Work work)
{
    m_queue->submit(kFolderLookupLane, std::move(work));
}

void WorkLanes::afterFolderLookups(Task::Work submit)
{
    // A push event waiting there for its folder may be of the same path as what comes now: that
    // must not take the path's lane ahead of it.
    if (m_queue->isBusy(kFolderLookupLane)) {
        m_queue->submit(kFolderLookupLane, std::move(submit));
    } else {
        submit();
    }
}

std::vector<std::string> WorkLanes::busyBelow(const std::string& path) const
{
    return m_queue->busyKeys(path + "/");
}

void WorkLanes::cancelPending()
{
    m_queue->cancelPending();
}

std::size_t WorkLanes::unfinished() const
{
    return m_queue->unfinished();
}

}  // namespace corvane
