#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Clock.h"

namespace corvane {

// Watches a folder tree with inotify and reports the absolute paths of what changed in it:
// creations, finished writes (close after writing), attribute changes, deletions and moves (the
// old and the new path; a move out of the tree gives the old path, a move in the new one).
//
// Every folder below the root is watched, hidden ones included unless setSkipsHiddenFolders()
// says otherwise; symbolic links inside the tree are reported but not followed. The root may itself
// be a link: paths keep the root as given. Folders that appear later (created or moved in) are
// watched at once and scanned, and what they already hold is reported too, so nothing created in a
// fresh folder is missed. Only changes from start() on are reported. When the kernel's event queue
// overflows, the root's own path is reported: something below it changed and was not seen.
//
// Paths are coalesced and handed to `onPaths` on the main queue (MainQueue::async), each path
// once per delivery. The first change after a quiet period is delivered at once; whatever follows
// is held until `latency` has passed since the previous delivery. `onWarning` gets one text, once
// per stream, when the system's inotify watch limit stops folders from being watched; it also
// runs on the main queue. Once stop() has returned, neither callback is started again.
//
// One worker thread reads the events; it sleeps in poll() while nothing is pending, and after a
// read it lets events gather for a few milliseconds before it reads again.
//
// Threads: start() and stop() (and destruction) from one thread at a time, usually the main
// thread; the callbacks may call stop(). watchCount() is thread-safe.
class FileEventStream {
public:
    using Handler = std::function<void(const std::vector<std::string>& paths)>;
    using WarningHandler = std::function<void(const std::string& message)>;

    // Seams for tests; production code leaves them empty.
    struct TestHooks {
        // Stands in for inotify_add_watch(2): same arguments, result and errno.
        std::function<int(int fd, const char* path, std::uint32_t mask)> addWatch;
        // Runs on the worker thread every time poll() returns, before anything is read.
        std::function<void()> onWake;
        // Runs on the worker thread for every path it takes up for delivery.
        std::function<void(const std::string& path)> onPath;
    };

    // `latency` must be positive; a relative root is taken relative to the current folder.
    FileEventStream(std::filesystem::path root, Clock::Duration latency, Handler onPaths,
                    WarningHandler onWarning = {}, std::shared_ptr<Clock> clock = Clock::system());
    ~FileEventStream();
    FileEventStream(const FileEventStream&) = delete;
    FileEventStream& operator=(const FileEventStream&) = delete;

    // Only before start().
    void setTestHooks(TestHooks hooks);
    // Only before start(). With true, folders below the root whose name begins with "." are not
    // watched: they are reported when they appear, change or go, but nothing inside them is. A
    // hidden folder renamed to a visible name is then watched and scanned like one moved in.
    void setSkipsHiddenFolders(bool skips);

    // Watches the tree and starts reporting; every folder that exists now is watched when it
    // returns (the walk runs on the calling thread). False when inotify cannot be set up or the
    // root cannot be watched. Does nothing while running; after stop() it starts afresh.
    bool start();
    // Stops reporting and joins the worker; paths not yet delivered are dropped. Idempotent.
    void stop();

    // The number of inotify watches in use, which is the number of folders watched.
    std::size_t watchCount() const;
    const std::string& root() const { return m_root; }

private:
    // Hands results to the main queue and keeps them from running after stop().
    struct Outlet;
    // Owns the inotify descriptor and the watch table; runs on the worker thread.
    class Watcher;

    const std::string m_root;
    const Clock::Duration m_latency;
    const std::shared_ptr<Clock> m_clock;
    const std::shared_ptr<Outlet> m_outlet;
    TestHooks m_hooks;
    bool m_skipsHiddenFolders = false;
    std::atomic<std::size_t> m_watchCount{0};
    std::unique_ptr<Watcher> m_watcher;
    std::jthread m_worker;
};

}  // namespace corvane
