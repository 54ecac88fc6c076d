#include "App/QtMainQueue.h"

#include <deque>
#include <mutex>
#include <utility>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "Platform/CallGuarded.h"
#include "Platform/MainQueue.h"
#include "Platform/WakeSignal.h"

namespace corvane {

// Keeps the posted work in a queue of its own, guarded by a mutex, and wakes the main thread
// through an eventfd that a socket notifier of the main thread watches. No Qt object is touched
// off the main thread, and the hand-over of the work is ordered by the mutex.
class QtMainQueueExecutor final : public MainQueue::Executor {
public:
    void post(MainQueue::Work work) override
    {
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_closed) {
                return;  // the application is going: nothing runs on its main thread any more
            }
            wake = m_work.empty();
            m_work.push_back(std::move(work));
        }
        if (wake) {
            m_wake.signal();
        }
    }

    int fd() const { return m_wake.fd(); }

    // Main thread: runs what was posted up to now, in order.
    void drain()
    {
        m_wake.drain();
        std::deque<MainQueue::Work> due;
        {
            std::lock_guard lock(m_mutex);
            due.swap(m_work);
        }
        for (const auto& work : due) {
            // Main-thread work reports its own failures; one that escapes must not reach the Qt
            // event loop.
            callGuarded("main queue: work item", work);
        }
    }

    void close()
    {
        std::deque<MainQueue::Work> dropped;
        std::lock_guard lock(m_mutex);
        m_closed = true;
        dropped.swap(m_work);
    }

private:
    const WakeSignal m_wake;
    std::mutex m_mutex;  // guards the members below
    std::deque<MainQueue::Work> m_work;
    bool m_closed = false;
};

QtMainQueue::QtMainQueue()
    : m_executor(std::make_shared<QtMainQueueExecutor>()),
      m_notifier(std::make_unique<QSocketNotifier>(m_executor->fd(), QSocketNotifier::Read))
{
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [executor = m_executor.get()] { executor->drain(); });
    MainQueue::install(m_executor);
}

QtMainQueue::~QtMainQueue()
{
    MainQueue::uninstall(m_executor);
    m_executor->close();
}

bool QtMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(std::chrono::milliseconds(5));
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || std::chrono::steady_clock::now() >= deadline) {
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    return done();
}

}  // namespace corvane
