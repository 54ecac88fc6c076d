// The file-manager extension's side of the badge store, run as a second process by the tests.
// It inherits the test's home folder and bus address. Commands:
//   wait-badge <path> <badge> <timeout-ms>
//       prints "ready", then "seen" once getBadge(path) gives <badge>, or "timeout <badge>"
//   watch-badge <path> <count> <timeout-ms>
//       prints "ready", then "badge <raw value>" as read on each of <count> change
//       notifications, while another thread keeps asking for badges the way a file manager
//       does when it redraws a folder

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/MainQueue.h"

namespace {

using namespace corvane;

void printLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int waitBadge(const std::string& path, const std::string& expected, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    printLine("ready");
    while (std::chrono::steady_clock::now() < deadline) {
        if (rawValue(SyncStateProvider::shared().getBadge(path)) == expected) {
            printLine("seen");
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    printLine("timeout " + std::string(rawValue(SyncStateProvider::shared().getBadge(path))));
    return 1;
}

int watchBadge(const std::string& path, int count, int timeoutMs)
{
    RunLoop loop;
    DistributedNotificationCenter center;
    std::atomic<bool> stop{false};
    std::thread redraws([&] {
        while (!stop) {
            SyncStateProvider::shared().getBadge(path + ".neighbour");
        }
    });
    int received = 0;
    const auto observation =
        center.observe(SyncStateProvider::kChangedNotification, [&](auto&&...) {
            printLine("badge " + std::string(rawValue(SyncStateProvider::shared().getBadge(path))));
            ++received;
        });
    printLine(center.isConnected() ? "ready" : "no-bus");
    const bool done =
        loop.runUntil([&] { return received >= count; }, std::chrono::milliseconds(timeoutMs));
    stop = true;
    redraws.join();
    return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "wait-badge" && argc == 5) {
        return waitBadge(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (command == "watch-badge" && argc == 5) {
        return watchBadge(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    std::fprintf(stderr, "usage: finder_sync_probe <command> ...\n");
    return 64;
}
