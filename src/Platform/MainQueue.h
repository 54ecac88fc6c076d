#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace corvane {

// The main thread's queue. Work posted with async() runs on the main thread, in order. Which
// loop carries it is pluggable: the application binds it to Qt's event loop, tests and
// benchmarks to a RunLoop they drive. Thread-safe.
class MainQueue {
public:
    using Work = std::function<void()>;

    class Executor {
    public:
        virtual ~Executor() = default;
        virtual void post(Work work) = 0;
    };

    static void async(Work work);
    // Runs `work` on the main thread and waits for it; runs it at once when called there.
    static void sync(const Work& work);
    static bool isMainThread();
    // Ends the process with a message when not called on the main thread.
    static void assertMainThread(const char* where);

    // Binds the main queue to `executor`, with the calling thread as the main thread. Work
    // posted while no executor was bound is handed over now.
    static void install(std::shared_ptr<Executor> executor);
    static void uninstall(const std::shared_ptr<Executor>& executor);
};

// A plain run loop for tests and benchmarks: constructing it makes the calling thread the main
// thread; the thread then drives it. Main thread only.
class RunLoop {
public:
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Runs posted work until `predicate` holds or `timeout` has passed; returns the predicate.
    bool runUntil(const std::function<bool()>& predicate,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Runs the work posted so far, without waiting.
    void runPending();

private:
    class Queue;
    std::shared_ptr<Queue> m_queue;
};

}  // namespace corvane
