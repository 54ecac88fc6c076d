#include "App/QtMainQueue.h"

#include <mutex>
#include <utility>

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include "Platform/CallGuarded.h"
#include "Platform/MainQueue.h"

namespace corvane {

// Posts to a receiver object of the main thread. The receiver belongs to the binding, which
// closes the executor before it destroys the receiver: a thread that is still inside post()
// then either reaches a live receiver or none at all.
class QtMainQueueExecutor final : public MainQueue::Executor {
public:
    explicit QtMainQueueExecutor(QObject* receiver) : m_receiver(receiver) {}

    void post(MainQueue::Work work) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_receiver) {
            return;  // the application is going: nothing runs on its main thread any more
        }
        QMetaObject::invokeMethod(
            m_receiver,
            [work = std::move(work)] {
                // Main-thread work reports its own failures; one that escapes must not reach
                // the Qt event loop.
                callGuarded("main queue: work item", work);
            },
            Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
    }

private:
    std::mutex m_mutex;
    QObject* m_receiver;  // guarded by m_mutex
};

QtMainQueue::QtMainQueue()
    : m_receiver(std::make_unique<QObject>()),
      m_executor(std::make_shared<QtMainQueueExecutor>(m_receiver.get()))
{
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
