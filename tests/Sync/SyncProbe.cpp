// A sync engine in a process of its own, for the crash tests: the test kills it with SIGKILL at
// chosen moments and starts another on the same folder.
//
//   sync_probe <server-url> <token> <sync-folder>
//
// Runs one SyncEngine with a RunLoop as its main queue: the start-up cycle, then live sync
// (file events and pushes) until it is killed. It inherits the test's home folder. Progress goes
// to standard output, one line per event, so that the parent can pick its kill points:
//   begin <type> <path>            a transfer started
//   done <type> <status> <path>    an entry of the activity feed: a transfer ended, a deletion,
//                                  a conflict copy
//   idle                           the start-up cycle is done (once)
//   error <message>                the engine reported an error
// The log's echo goes to /dev/null: its lines would only crowd the progress lines.

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "API/APIClient.h"
#include "Models/ActivityItem.h"
#include "Platform/MainQueue.h"
#include "Sync/ActivityManager.h"
#include "Sync/BandwidthThrottler.h"
#include "Sync/SelectiveSyncManager.h"
#include "Sync/SyncEngine.h"
#include "Sync/SyncEngineFactory.h"

namespace {

using namespace corvane;

// Writes whole lines to the progress descriptor; any thread.
class Progress {
public:
    explicit Progress(int fd) : m_fd(fd) {}

    void line(const std::string& text)
    {
        const std::string whole = text + "\n";
        std::lock_guard lock(m_mutex);
        std::size_t written = 0;
        while (written < whole.size()) {
            const ssize_t count = ::write(m_fd, whole.data() + written, whole.size() - written);
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;  // the parent is gone: nobody reads any more
            }
            written += static_cast<std::size_t>(count);
        }
    }

private:
    const int m_fd;
    std::mutex m_mutex;
};

// Moves standard output out of the way of the log's echo; returns the descriptor that still
// reaches the parent.
int takeProgressDescriptor()
{
    const int progress = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (progress < 0 || null < 0) {
        std::perror("sync_probe");
        std::_Exit(70);
    }
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    return progress;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: sync_probe <server-url> <token> <sync-folder>\n");
        return 64;
    }
    // Never outlive the test that started it, whatever way the test ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) {
        return 70;
    }
    Progress progress(takeProgressDescriptor());

    RunLoop loop;
    auto client = std::make_shared<APIClient>(argv[1]);
    client->setToken(std::string(argv[2]));
    const auto activity = std::make_shared<ActivityManager>();

    std::set<std::string> begun;
    const auto activeSubscription =
        activity->observeActiveTransfers([&](const std::vector<ActivityItem>& transfers) {
            for (const ActivityItem& item : transfers) {
                if (begun.insert(item.id).second) {
                    progress.line("begin " + std::string(rawValue(item.type)) + " " +
                                  item.filePath);
                }
            }
        });
    std::string newestRecent;
    const auto recentSubscription =
        activity->observeRecentActivities([&](const std::vector<ActivityItem>& recent) {
            // The observer sees each change before it is stored: a new entry is at the front.
            if (!recent.empty() && recent.front().id != newestRecent) {
                newestRecent = recent.front().id;
                const ActivityItem& item = recent.front();
                progress.line("done " + std::string(rawValue(item.type)) + " " +
                              std::string(rawValue(item.status)) + " " + item.filePath);
            }
        });

    std::once_flag idleOnce;
    SyncEngineOptions options;
    options.eventLatency = std::chrono::milliseconds(20);
    options.debounce = std::chrono::milliseconds(50);
    const auto engine = makeSyncEngineFactory(options)(
        SyncEngineParts{client, argv[3], activity, std::make_shared<SelectiveSyncManager>(),
                        std::make_shared<BandwidthThrottler>(),
                        [&](SyncStatus status) {
                            if (status == SyncStatus::idle) {
                                std::call_once(idleOnce, [&] { progress.line("idle"); });
                            }
                        },
                        [&](const std::string& message) { progress.line("error " + message); }});
    engine->start();
    while (true) {
        loop.runUntil([] { return false; }, std::chrono::hours(1));
    }
}
