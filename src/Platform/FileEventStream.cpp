#include "Platform/FileEventStream.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "Platform/CallGuarded.h"
#include "Platform/Error.h"
#include "Platform/MainQueue.h"
#include "Platform/Paths.h"
#include "Platform/UniqueFd.h"
#include "Platform/WakeSignal.h"

namespace corvane {
namespace {

// IN_ONLYDIR: a path that turned into a file between listing and watching is not watched.
// IN_EXCL_UNLINK: files that are already deleted but still open report nothing more.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE |
                                     IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr const char* kWatchLimitWarning =
    "inotify watch limit reached; raise fs.inotify.max_user_watches";
constexpr std::size_t kReadBufferSize = 64 * 1024;
// Reads per wake-up before pending paths get a chance to go out, so that a steady flood of
// events cannot hold back deliveries for ever.
constexpr int kMaxReadsPerWake = 16;
// After a read, events gather this long before the next one: a burst of file operations (a sync
// writing thousands of files) then wakes the worker once per interval rather than once or more
// per file. Far below any latency the stream is given, and far from filling the kernel's queue.
// Real time, whatever the stream's clock: it paces the reads, not the deliveries.
constexpr auto kGatherTime = std::chrono::milliseconds(10);

std::string joined(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

bool isWithin(const std::string& path, const std::string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

struct FileEventStream::Outlet {
    Outlet(Handler onPaths, WarningHandler onWarning)
        : onPaths(std::move(onPaths)), onWarning(std::move(onWarning))
    {
    }

    // Opens a new session; results of earlier sessions are dropped from now on.
    std::uint64_t open()
    {
        std::lock_guard lock(mutex);
        current = ++lastSession;
        return current;
    }

    // After this returns no callback starts, and none is running unless the caller is in one.
    void close()
    {
        std::unique_lock lock(mutex);
        current = 0;
        if (runner == std::this_thread::get_id()) {
            return;  // stopped from a callback, which is about to return
        }
        finished.wait(lock, [&] { return depth == 0; });
    }

    // True the first time only: the watch-limit warning is given once per stream.
    bool claimWarning()
    {
        std::lock_guard lock(mutex);
        return !std::exchange(warned, true);
    }

    static void postPaths(const std::shared_ptr<Outlet>& outlet, std::uint64_t session,
                          std::vector<std::string> paths)
    {
        MainQueue::async([outlet, session, paths = std::move(paths)] {
            if (outlet->onPaths) {
                outlet->call(session, [&] { outlet->onPaths(paths); });
            }
        });
    }

    static void postWarning(const std::shared_ptr<Outlet>& outlet, std::string message)
    {
        // Not bound to one session: a warning from a start() that failed still reaches the
        // owner unless the stream has been stopped since.
        MainQueue::async([outlet, message = std::move(message)] {
            if (outlet->onWarning) {
                outlet->call(std::nullopt, [&] { outlet->onWarning(message); });
            }
        });
    }

    template <typename Callback>
    void call(std::optional<std::uint64_t> session, const Callback& callback)
    {
        {
            std::lock_guard lock(mutex);
            if (current == 0 || (session && *session != current)) {
                return;
            }
            if (depth++ == 0) {
                runner = std::this_thread::get_id();
            }
        }
        try {
            callback();
        } catch (...) {
            leave();
            throw;  // the main queue reports it
        }
        leave();
    }

    void leave()
    {
        {
            std::lock_guard lock(mutex);
            if (--depth == 0) {
                runner = {};
            }
        }
        finished.notify_all();
    }

    const Handler onPaths;
    const WarningHandler onWarning;
    std::mutex mutex;
    std::condition_variable finished;
    std::uint64_t lastSession = 0;
    std::uint64_t current = 0;  // 0 while stopped
    int depth = 0;              // callbacks running (on the main thread)
    std::thread::id runner;
    bool warned = false;
};

class FileEventStream::Watcher {
public:
    Watcher(const std::string& root, Clock::Duration latency, std::shared_ptr<Clock> clock,
            std::shared_ptr<Outlet> outlet, std::uint64_t session, TestHooks hooks,
            bool skipsHiddenFolders, std::atomic<std::size_t>& watchCount)
        : m_root(root), m_latency(latency), m_clock(std::move(clock)), m_outlet(std::move(outlet)),
          m_session(session), m_hooks(std::move(hooks)), m_skipsHiddenFolders(skipsHiddenFolders),
          m_watchCount(watchCount), m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_wake(std::make_shared<WakeSignal>())
    {
    }

    ~Watcher() { m_watchCount = 0; }  // closing the descriptor drops every watch

    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // Watches the root and every folder below it. False when the root cannot be watched.
    bool open()
    {
        if (!m_inotify.valid() || !m_wake->valid()) {
            return false;
        }
        // A manual clock moves without the worker noticing: let each advance wake it. The
        // registration holds the signal, not the watcher, so a late advance touches nothing gone.
        m_advanceSubscription = m_clock->onAdvance([wake = m_wake] { wake->signal(); });
        return watchTree(m_root, false);
    }

    void run(const std::stop_token& stop)
    {
        const std::stop_callback wakeOnStop(stop, [wake = m_wake] { wake->signal(); });
        // While events gather, only the wake signal and the time end the wait; whatever ends
        // it, the events gathered so far are read before anything is delivered.
        std::optional<std::chrono::steady_clock::time_point> gatherEnd;
        while (!stop.stop_requested()) {
            const bool gathering = gatherEnd && std::chrono::steady_clock::now() < *gatherEnd;
            std::array<pollfd, 2> fds{
                {{gathering ? -1 : m_inotify.get(), POLLIN, 0}, {m_wake->fd(), POLLIN, 0}}};
            const std::optional<timespec> timeout =
                pollTimeout(gathering ? std::optional(*gatherEnd) : std::nullopt);
            const int ready =
                ::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr);
            if (m_hooks.onWake) {
                m_hooks.onWake();
            }
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                std::fprintf(stderr, "file event stream: poll failed: %s\n",
                             systemErrorText(errno).c_str());
                return;  // retrying a failing poll would spin
            }
            if (fds[1].revents & POLLIN) {
                m_wake->drain();
            }
            if (gathering || (fds[0].revents & POLLIN)) {
                gatherEnd = readEvents()
                                ? std::optional(std::chrono::steady_clock::now() + kGatherTime)
                                : std::nullopt;
            }
            if (fds[0].revents & (POLLERR | POLLNVAL)) {
                std::fprintf(stderr, "file event stream: inotify descriptor failed\n");
                return;
            }
            flushIfDue();
        }
    }

private:
    // A folder moved away whose new name may follow under the same cookie.
    struct Departure {
        std::string path;
        std::vector<int> watches;  // the watches of the folder and of everything below it
        bool watched = false;      // whether the folder itself had a watch
    };

    // No timeout while nothing is pending and no events gather (until `gatherEnd`), so an idle
    // stream sleeps. A manual clock wakes the worker through its advance notification instead.
    std::optional<timespec>
    pollTimeout(std::optional<std::chrono::steady_clock::time_point> gatherEnd) const
    {
        std::optional<Clock::Duration> wait;
        if (!m_pending.empty() && !m_clock->isManual()) {
            wait = *m_lastDelivery + m_latency - m_clock->now();
        }
        if (gatherEnd) {
            const Clock::Duration gatherLeft = *gatherEnd - std::chrono::steady_clock::now();
            wait = wait ? std::min(*wait, gatherLeft) : gatherLeft;
        }
        if (!wait) {
            return std::nullopt;
        }
        const auto left = std::max(*wait, Clock::Duration::zero());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
        return timespec{static_cast<time_t>(seconds.count()),
                        static_cast<long>(nanoseconds.count())};
    }

    // Reads what the kernel holds; true when there was anything.
    bool readEvents()
    {
        bool read = false;
        alignas(inotify_event) std::array<char, kReadBufferSize> buffer;
        std::unordered_map<std::uint32_t, Departure> departures;
        for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
            const ssize_t length = ::read(m_inotify.get(), buffer.data(), buffer.size());
            if (length < 0 && errno == EINTR) {
                continue;
            }
            if (length <= 0) {
                break;  // drained (EAGAIN)
            }
            read = true;
            std::size_t offset = 0;
            while (offset + sizeof(inotify_event) <= static_cast<std::size_t>(length)) {
                inotify_event event{};
                std::memcpy(&event, buffer.data() + offset, sizeof event);
                const char* name = buffer.data() + offset + sizeof event;
                handle(event, std::string_view(name, ::strnlen(name, event.len)), departures);
                offset += sizeof event + event.len;
            }
        }
        // A folder whose new name did not follow has left the tree: stop watching it, or its
        // events would come back under a path that no longer holds it.
        for (const auto& [cookie, departure] : departures) {
            unwatch(departure.watches);
        }
        return read;
    }

    void handle(const inotify_event& event, std::string_view name,
                std::unordered_map<std::uint32_t, Departure>& departures)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            take(m_root);
            departures.clear();
            rewatch();
            return;
        }
        const auto found = m_paths.find(event.wd);
        if (found == m_paths.end()) {
            return;  // a watch we have already dropped
        }
        if (event.mask & IN_IGNORED) {
            m_paths.erase(found);
            m_watchCount = m_paths.size();
            return;
        }
        if (name.empty()) {
            // An event about a watched folder itself. Its parent's watch reports it too, except
            // for the root, whose parent is not watched.
            if (event.wd == m_rootWatch && (event.mask & IN_ATTRIB)) {
                take(m_root);
            }
            return;
        }
        const std::string path = joined(found->second, name);
        const bool isFolder = event.mask & IN_ISDIR;
        take(path);
        if (!isFolder) {
            return;
        }
        if (event.mask & IN_MOVED_FROM) {
            departures[event.cookie] = departureOf(path);
        } else if (event.mask & IN_MOVED_TO) {
            const auto departed = departures.extract(event.cookie);
            if (skips(name)) {
                if (departed && departed.mapped().watched) {
                    unwatch(departed.mapped().watches);  // renamed to a hidden name
                }
            } else if (departed && departed.mapped().watched) {
                move(departed.mapped(), path);
            } else {
                // Moved in from outside the tree, or renamed before its watch could be added
                // (made and renamed at once): watched and scanned under its new name.
                watchTree(path, true);
            }
        } else if ((event.mask & IN_CREATE) && !skips(name)) {
            watchTree(path, true);
        }
    }

    bool skips(std::string_view name) const
    {
        return m_skipsHiddenFolders && name.starts_with('.');
    }

    // Watches `top` and every folder below it, symbolic links not followed (the root may be
    // one). With `report`, everything found below `top` is taken up as a change: it was created
    // before its folder's watch existed. False when `top` itself cannot be watched.
    bool watchTree(const std::string& top, bool report)
    {
        // Depth-first with an explicit stack: deep trees must not exhaust the thread's stack.
        std::vector<std::string> folders{top};
        bool topWatched = false;
        while (!folders.empty()) {
            const std::string folder = std::move(folders.back());
            folders.pop_back();
            // Watch before listing, so that an entry created meanwhile is seen by one or both.
            const int watch = addWatch(folder, folder == m_root);
            if (watch < 0) {
                continue;  // gone again, not a folder, unreadable or over the watch limit
            }
            if (folder == m_root) {
                m_rootWatch = watch;
            }
            topWatched = topWatched || folder == top;
            std::error_code error;
            for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
                 it.increment(error)) {
                const std::string path = it->path().string();
                if (report) {
                    take(path);
                }
                std::error_code typeError;
                if (it->symlink_status(typeError).type() == std::filesystem::file_type::directory &&
                    !skips(it->path().filename().native())) {
                    folders.push_back(path);
                }
            }
        }
        return topWatched;
    }

    // Returns the watch descriptor, or -1.
    int addWatch(const std::string& folder, bool followLink)
    {
        const std::uint32_t mask = kWatchMask | (followLink ? 0 : IN_DONT_FOLLOW);
        const int watch = m_hooks.addWatch
                              ? m_hooks.addWatch(m_inotify.get(), folder.c_str(), mask)
                              : ::inotify_add_watch(m_inotify.get(), folder.c_str(), mask);
        if (watch < 0) {
            if (errno == ENOSPC && m_outlet->claimWarning()) {
                Outlet::postWarning(m_outlet, kWatchLimitWarning);
            }
            return -1;
        }
        // A folder that is already watched keeps its watch; only its path may be new.
        m_paths[watch] = folder;
        m_watchCount = m_paths.size();
        return watch;
    }

    Departure departureOf(const std::string& folder) const
    {
        Departure departure{folder, {}, false};
        for (const auto& [watch, path] : m_paths) {
            if (isWithin(path, folder)) {
                departure.watches.push_back(watch);
                departure.watched = departure.watched || path.size() == folder.size();
            }
        }
        return departure;
    }

    // A folder renamed inside the tree keeps its watches (they follow the folder, not the
    // name); only the paths they stand for change.
    void move(const Departure& departure, const std::string& to)
    {
        for (const int watch : departure.watches) {
            const auto found = m_paths.find(watch);
            if (found != m_paths.end() && isWithin(found->second, departure.path)) {
                found->second = to + found->second.substr(departure.path.size());
            }
        }
    }

    void unwatch(const std::vector<int>& watches)
    {
        for (const int watch : watches) {
            if (m_paths.erase(watch) > 0) {
                ::inotify_rm_watch(m_inotify.get(), watch);
            }
        }
        m_watchCount = m_paths.size();
    }

    // After an overflow the watch table may be stale (folders created, moved or removed
    // unseen): watch the tree afresh and drop the watches that no folder in it holds.
    void rewatch()
    {
        const auto previous = std::exchange(m_paths, {});
        watchTree(m_root, false);
        for (const auto& [watch, path] : previous) {
            if (!m_paths.contains(watch)) {
                ::inotify_rm_watch(m_inotify.get(), watch);
            }
        }
        m_watchCount = m_paths.size();
    }

    // The first path after a quiet period goes out at once; later ones wait for the latency
    // to pass since the previous delivery.
    void take(const std::string& path)
    {
        if (m_hooks.onPath) {
            m_hooks.onPath(path);
        }
        const auto now = m_clock->now();
        if (m_pending.empty() && (!m_lastDelivery || now - *m_lastDelivery >= m_latency)) {
            m_lastDelivery = now;
            Outlet::postPaths(m_outlet, m_session, {path});
            return;
        }
        if (m_pendingSet.insert(path).second) {
            m_pending.push_back(path);
        }
    }

    void flushIfDue()
    {
        if (m_pending.empty()) {
            return;
        }
        const auto now = m_clock->now();
        if (now - *m_lastDelivery < m_latency) {
            return;
        }
        m_lastDelivery = now;
        m_pendingSet.clear();
        Outlet::postPaths(m_outlet, m_session, std::exchange(m_pending, {}));
    }

    const std::string m_root;
    const Clock::Duration m_latency;
    const std::shared_ptr<Clock> m_clock;
    const std::shared_ptr<Outlet> m_outlet;
    const std::uint64_t m_session;
    const TestHooks m_hooks;
    const bool m_skipsHiddenFolders;
    std::atomic<std::size_t>& m_watchCount;
    const UniqueFd m_inotify;
    const std::shared_ptr<WakeSignal> m_wake;
    std::shared_ptr<void> m_advanceSubscription;
    std::unordered_map<int, std::string> m_paths;  // watch descriptor -> folder path
    int m_rootWatch = -1;
    std::vector<std::string> m_pending;  // in the order first seen
    std::unordered_set<std::string> m_pendingSet;
    std::optional<Clock::TimePoint> m_lastDelivery;
};

FileEventStream::FileEventStream(std::filesystem::path root, Clock::Duration latency,
                                 Handler onPaths, WarningHandler onWarning,
                                 std::shared_ptr<Clock> clock)
    : m_root(Paths::normalized(root).string()), m_latency(latency),
      m_clock(clock ? std::move(clock) : Clock::system()),
      m_outlet(std::make_shared<Outlet>(std::move(onPaths), std::move(onWarning)))
{
    if (latency <= Clock::Duration::zero()) {
        throw std::invalid_argument("FileEventStream needs a positive latency");
    }
}

FileEventStream::~FileEventStream()
{
    stop();
}

void FileEventStream::setTestHooks(TestHooks hooks)
{
    m_hooks = std::move(hooks);
}

void FileEventStream::setSkipsHiddenFolders(bool skips)
{
    m_skipsHiddenFolders = skips;
}

bool FileEventStream::start()
{
    if (m_worker.joinable()) {
        return true;
    }
    const std::uint64_t session = m_outlet->open();
    auto watcher = std::make_unique<Watcher>(m_root, m_latency, m_clock, m_outlet, session, m_hooks,
                                             m_skipsHiddenFolders, m_watchCount);
    if (!watcher->open()) {
        return false;
    }
    m_watcher = std::move(watcher);
    m_worker = std::jthread([watcher = m_watcher.get()](const std::stop_token& stop) {
        // Nothing may leave the thread; the stream stays silent until it is stopped.
        callGuarded("file event stream", [&] { watcher->run(stop); });
    });
    return true;
}

void FileEventStream::stop()
{
    m_outlet->close();
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_worker.join();
    }
    m_watcher.reset();
}

std::size_t FileEventStream::watchCount() const
{
    return m_watchCount;
}

}  // namespace corvane
