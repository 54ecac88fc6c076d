#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Models/ActivityItem.h"

namespace corvane {

// The activity feed: the transfers in flight, in the order they started, and the finished
// entries, newest first, at most kMaxRecent. Held in memory only; it starts empty.
//
// Observable: a subscriber of a list is called with the list's new value just before each
// change of it (one call per change; updateProgress() of a transfer with a known size changes
// the active list twice). The subscription lasts as long as the returned handle.
//
// Main thread only: every operation and every read asserts it; background work posts its calls
// there, in order. Created with std::make_shared by the application.
class ActivityManager {
public:
    using ListObserver = std::function<void(const std::vector<ActivityItem>& newValue)>;
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::size_t kMaxRecent = 50;

    // `now` stamps new entries (the system's wall clock when empty); tests pass their own.
    explicit ActivityManager(WallClock now = {});

    const std::vector<ActivityItem>& recentActivities() const;
    const std::vector<ActivityItem>& activeTransfers() const;
    [[nodiscard]] std::shared_ptr<void> observeRecentActivities(ListObserver observer);
    [[nodiscard]] std::shared_ptr<void> observeActiveTransfers(ListObserver observer);

    // Adds an in-progress entry at the end of the active list; no check for a duplicate id.
    void startTransfer(const std::string& id, ActivityType type, const std::string& fileName,
                       const std::string& filePath, std::int64_t totalBytes);
    // The first active entry with `id` takes the count, and, when its size is known, the
    // fraction (not clamped). Unknown ids are ignored.
    void updateProgress(const std::string& id, std::int64_t bytesTransferred);
    // Moves the first active entry with `id`, completed (progress 1, bytes = total), to the
    // front of the recent list. Unknown ids are ignored.
    void completeTransfer(const std::string& id);
    // Moves the first active entry with `id`, failed with `error`, to the front of the recent
    // list. Unknown ids are ignored.
    void failTransfer(const std::string& id, const std::string& error);
    // Records a finished single event (deletion, conflict copy, ...) under a new UUID.
    void addActivity(ActivityType type, const std::string& fileName, const std::string& filePath);

    bool hasActiveTransfers() const;
    std::size_t activeCount() const;
    // The plain mean of the active entries' progress; 0 with none.
    double totalProgress() const;

private:
    class Publisher {
    public:
        std::shared_ptr<void> subscribe(ListObserver observer);
        void willChange(const std::vector<ActivityItem>& newValue);

    private:
        std::vector<std::weak_ptr<ListObserver>> m_observers;
    };

    // Announces `newValue`, then stores it; the recent list's setter returns the list replaced.
    void setActiveTransfers(std::vector<ActivityItem> newValue);
    std::vector<ActivityItem> setRecentActivities(std::vector<ActivityItem> newValue);
    void addToRecent(ActivityItem item);
    // Removes the first active entry with `id` (announced as a change) and returns it.
    std::optional<ActivityItem> takeActive(const std::string& id);
    // The first active entry with `id`, or end.
    std::vector<ActivityItem>::const_iterator findActive(const std::string& id) const;

    const WallClock m_now;
    std::vector<ActivityItem> m_recentActivities;
    std::vector<ActivityItem> m_activeTransfers;
    Publisher m_recentPublisher;
    Publisher m_activePublisher;
};

}  // namespace corvane
