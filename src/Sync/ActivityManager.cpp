#include "Sync/ActivityManager.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <utility>

#include "Platform/MainQueue.h"
#include "Platform/UUID.h"

namespace corvane {

std::shared_ptr<void> ActivityManager::Publisher::subscribe(ListObserver observer)
{
    auto shared = std::make_shared<ListObserver>(std::move(observer));
    std::erase_if(m_observers, [](const auto& weak) { return weak.expired(); });
    m_observers.push_back(shared);
    return shared;
}

void ActivityManager::Publisher::willChange(const std::vector<ActivityItem>& newValue)
{
    // Called from a copy: an observer may subscribe or end its subscription while it runs.
    std::vector<std::shared_ptr<ListObserver>> current;
    for (const auto& weak : m_observers) {
        if (auto observer = weak.lock()) {
            current.push_back(std::move(observer));
        }
    }
    for (const auto& observer : current) {
        (*observer)(newValue);
    }
}

ActivityManager::ActivityManager(WallClock now)
    : m_now(now ? std::move(now) : WallClock([] { return std::chrono::system_clock::now(); }))
{
}

const std::vector<ActivityItem>& ActivityManager::recentActivities() const
{
    MainQueue::assertMainThread("ActivityManager::recentActivities");
    return m_recentActivities;
}

const std::vector<ActivityItem>& ActivityManager::activeTransfers() const
{
    MainQueue::assertMainThread("ActivityManager::activeTransfers");
    return m_activeTransfers;
}

std::shared_ptr<void> ActivityManager::observeRecentActivities(ListObserver observer)
{
    MainQueue::assertMainThread("ActivityManager::observeRecentActivities");
    return m_recentPublisher.subscribe(std::move(observer));
}

std::shared_ptr<void> ActivityManager::observeActiveTransfers(ListObserver observer)
{
    MainQueue::assertMainThread("ActivityManager::observeActiveTransfers");
    return m_activePublisher.subscribe(std::move(observer));
}

void ActivityManager::startTransfer(const std::string& id, ActivityType type,
                                    const std::string& fileName, const std::string& filePath,
                                    std::int64_t totalBytes)
{
    MainQueue::assertMainThread("ActivityManager::startTransfer");
    std::vector<ActivityItem> transfers = m_activeTransfers;
    transfers.push_back(ActivityItem{id, type, fileName, filePath, ActivityStatus::inProgress, 0, 0,
                                     totalBytes, m_now(), std::nullopt});
    setActiveTransfers(std::move(transfers));
}

void ActivityManager::updateProgress(const std::string& id, std::int64_t bytesTransferred)
{
    MainQueue::assertMainThread("ActivityManager::updateProgress");
    const auto found = findActive(id);
    if (found == m_activeTransfers.end()) {
        return;
    }
    const auto index = static_cast<std::size_t>(std::distance(m_activeTransfers.cbegin(), found));
    // Two changes, as observers of the list see them: the count, then the fraction.
    std::vector<ActivityItem> transfers = m_activeTransfers;
    transfers[index].bytesTransferred = bytesTransferred;
    setActiveTransfers(std::move(transfers));
    const std::int64_t total = m_activeTransfers[index].totalBytes;
    if (total > 0) {
        transfers = m_activeTransfers;
        transfers[index].progress =
            static_cast<double>(bytesTransferred) / static_cast<double>(total);
        setActiveTransfers(std::move(transfers));
    }
}

std::optional<ActivityItem> ActivityManager::takeActive(const std::string& id)
{
    const auto found = findActive(id);
    if (found == m_activeTransfers.end()) {
        return std::nullopt;
    }
    ActivityItem item = *found;
    std::vector<ActivityItem> transfers = m_activeTransfers;
    transfers.erase(transfers.begin() + std::distance(m_activeTransfers.cbegin(), found));
    setActiveTransfers(std::move(transfers));
    return item;
}

void ActivityManager::completeTransfer(const std::string& id)
{
    MainQueue::assertMainThread("ActivityManager::completeTransfer");
    std::optional<ActivityItem> taken = takeActive(id);
    if (!taken) {
        return;
    }
    ActivityItem& item = *taken;
    item.status = ActivityStatus::completed;
    item.progress = 1;
    item.bytesTransferred = item.totalBytes;
    addToRecent(std::move(item));
}

void ActivityManager::failTransfer(const std::string& id, const std::string& error)
{
    MainQueue::assertMainThread("ActivityManager::failTransfer");
    std::optional<ActivityItem> taken = takeActive(id);
    if (!taken) {
        return;
    }
    ActivityItem& item = *taken;
    item.status = ActivityStatus::failed;
    item.errorMessage = error;
    addToRecent(std::move(item));
}

void ActivityManager::addActivity(ActivityType type, const std::string& fileName,
                                  const std::string& filePath)
{
    MainQueue::assertMainThread("ActivityManager::addActivity");
    addToRecent(ActivityItem{UUID::make(), type, fileName, filePath, ActivityStatus::completed, 1,
                             0, 0, m_now(), std::nullopt});
}

bool ActivityManager::hasActiveTransfers() const
{
    MainQueue::assertMainThread("ActivityManager::hasActiveTransfers");
    return !m_activeTransfers.empty();
}

std::size_t ActivityManager::activeCount() const
{
    MainQueue::assertMainThread("ActivityManager::activeCount");
    return m_activeTransfers.size();
}

double ActivityManager::totalProgress() const
{
    MainQueue::assertMainThread("ActivityManager::totalProgress");
    if (m_activeTransfers.empty()) {
        return 0;
    }
    const double sum = std::accumulate(
        m_activeTransfers.begin(), m_activeTransfers.end(), 0.0,
        [](double total, const ActivityItem& item) { return total + item.progress; });
    return sum / static_cast<double>(m_activeTransfers.size());
}

void ActivityManager::setActiveTransfers(std::vector<ActivityItem> newValue)
{
    m_activePublisher.willChange(newValue);
    m_activeTransfers = std::move(newValue);
}

std::vector<ActivityItem> ActivityManager::setRecentActivities(std::vector<ActivityItem> newValue)
{
    m_recentPublisher.willChange(newValue);
    return std::exchange(m_recentActivities, std::move(newValue));
}

void ActivityManager::addToRecent(ActivityItem item)
{
    std::vector<ActivityItem> recent;
    recent.reserve(m_recentActivities.size() + 1);
    recent.push_back(item);
    recent.insert(recent.end(), m_recentActivities.begin(), m_recentActivities.end());
    std::vector<ActivityItem> previous = setRecentActivities(std::move(recent));
    if (m_recentActivities.size() <= kMaxRecent) {
        return;
    }
    // The list cut back to its limit holds the new entry and what the list held before, less
    // its last: those are taken from the list just replaced rather than copied once more.
    previous.pop_back();
    previous.insert(previous.begin(), std::move(item));
    setRecentActivities(std::move(previous));
}

std::vector<ActivityItem>::const_iterator ActivityManager::findActive(const std::string& id) const
{
    return std::find_if(m_activeTransfers.cbegin(), m_activeTransfers.cend(),
                        [&](const ActivityItem& item) { return item.id == id; });
}

}  // namespace corvane
