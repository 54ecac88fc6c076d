#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QSocketNotifier>

namespace corvane {

class QtMainQueueExecutor;

// Binds MainQueue to the Qt event loop of the thread that creates it (the main thread) for its
// lifetime: work posted from any thread runs there, in order, from the event loop. Work posted
// once the binding is gone waits in MainQueue for the next binding. Main thread only.
class QtMainQueue {
public:
    QtMainQueue();
    ~QtMainQueue();
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    // Serves the event loop (and so the main queue) until `done` holds or `timeout` has passed;
    // returns `done`. `done` is asked every few milliseconds, also when nothing is posted.
    static bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    std::shared_ptr<QtMainQueueExecutor> m_executor;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace corvane
