#include "Platform/KeyedTaskQueue.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace corvane {

struct KeyedTaskQueue::State {
    explicit State(std::size_t max) : maxInFlight(std::max<std::size_t>(1, max)) {}

    const std::size_t maxInFlight;
    mutable std::mutex mutex;                             // guards everything below
    std::map<std::string, std::deque<Task::Work>> lanes;  // only lanes with waiting items
    std::deque<std::string> ready;  // lanes with waiting items that no runner serves
    std::size_t running = 0;        // runners, each serving one lane
    std::size_t unfinished = 0;
    std::set<std::string> served;  // lanes a runner is serving right now
};

KeyedTaskQueue::KeyedTaskQueue(std::size_t maxInFlight)
    : m_state(std::make_shared<State>(maxInFlight))
{
}

KeyedTaskQueue::~KeyedTaskQueue()
{
    cancelPending();
}

void KeyedTaskQueue::submit(const std::string& key, Task::Work work)
{
    std::string start;
    {
        std::lock_guard lock(m_state->mutex);
        ++m_state->unfinished;
        auto& lane = m_state->lanes[key];
        lane.push_back(std::move(work));
        if (lane.size() > 1 || m_state->served.count(key)) {
            return;  // the lane is already waiting or being served
        }
        if (m_state->running >= m_state->maxInFlight) {
            m_state->ready.push_back(key);
            return;
        }
        ++m_state->running;
        m_state->served.insert(key);
        start = key;
    }
    Task::detached([state = m_state, start] { drain(state, start); });
}

void KeyedTaskQueue::drain(const std::shared_ptr<State>& state, std::string key)
{
    std::unique_lock lock(state->mutex);
    while (true) {
        // The lane is gone when cancelPending() came first.
        if (const auto lane = state->lanes.find(key); lane != state->lanes.end()) {
            Task::Work work = std::move(lane->second.front());
            lane->second.pop_front();
            if (lane->second.empty()) {
                state->lanes.erase(lane);
            }
            lock.unlock();
            Task::runGuarded(work);
            work = nullptr;  // release what the item held before taking the lock again
            lock.lock();
            --state->unfinished;
        }

        // Let the other lanes take their turn before this one goes on.
        state->served.erase(key);
        if (state->lanes.count(key) > 0) {
            state->ready.push_back(key);
        }
        if (state->ready.empty()) {
            --state->running;
            return;
        }
        key = std::move(state->ready.front());
        state->ready.pop_front();
        state->served.insert(key);
    }
}

void KeyedTaskQueue::cancelPending()
{
    std::map<std::string, std::deque<Task::Work>> dropped;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& [key, lane] : m_state->lanes) {
            m_state->unfinished -= lane.size();
        }
        dropped.swap(m_state->lanes);
        m_state->ready.clear();
    }
    // Destroyed outside the lock: an item may hold the last reference to its owner.
}

std::vector<std::string> KeyedTaskQueue::busyKeys(const std::string& prefix) const
{
    std::set<std::string> keys;
    std::lock_guard lock(m_state->mutex);
    for (auto it = m_state->lanes.lower_bound(prefix);
         it != m_state->lanes.end() && it->first.starts_with(prefix); ++it) {
        keys.insert(it->first);
    }
    for (auto it = m_state->served.lower_bound(prefix);
         it != m_state->served.end() && it->starts_with(prefix); ++it) {
        keys.insert(*it);
    }
    return {keys.begin(), keys.end()};
}

bool KeyedTaskQueue::isBusy(const std::string& key) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->lanes.count(key) > 0 || m_state->served.count(key) > 0;
}

std::size_t KeyedTaskQueue::unfinished() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->unfinished;
}

}  // namespace corvane
