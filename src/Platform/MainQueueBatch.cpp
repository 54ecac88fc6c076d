#include "Platform/MainQueueBatch.h"

#include <utility>

#include "Platform/CallGuarded.h"

namespace corvane {

std::shared_ptr<MainQueueBatch> MainQueueBatch::create()
{
    return std::shared_ptr<MainQueueBatch>(new MainQueueBatch());
}

void MainQueueBatch::add(MainQueue::Work work)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(work));
        if (std::exchange(m_posted, true)) {
            return;  // the run already posted takes it along
        }
    }
    MainQueue::async([self = shared_from_this()] { self->runBatch(); });
}

void MainQueueBatch::runBatch()
{
    std::vector<MainQueue::Work> items;
    {
        std::lock_guard lock(m_mutex);
        items.swap(m_items);
        m_posted = false;
    }
    for (const MainQueue::Work& item : items) {
        // Each item reports its own failures; one that escapes must not drop the others.
        callGuarded("main queue batch: work item", item);
    }
}

}  // namespace corvane
