// A second process for the extension's tests: the application's side of the shared state.
// It inherits the test's home folder and bus address. Commands, run in the order given:
//   sync-directory <path>     stores the sync folder (posts nothing)
//   badge <path> <raw value>  stores a badge, which posts "com.corvane.syncStateChanged"
//   pause <ms>                waits, so that the settings write what came before on their own
//   exit-unflushed            leaves the writing to the settings' own exit (no flush here),
//                             with the process's notification center made after the settings,
//                             as an application that observes notifications has it
// Exits once everything is written and posted.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/UserDefaults.h"

int main(int argc, char** argv)
{
    using namespace corvane;
    auto& provider = SyncStateProvider::shared();
    bool flush = true;
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "exit-unflushed") {
            flush = false;
        } else if (command == "sync-directory" && i + 1 < argc) {
            provider.setSyncDirectory(std::string(argv[++i]));
        } else if (command == "pause" && i + 1 < argc) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[++i])));
        } else if (command == "badge" && i + 2 < argc) {
            const std::string path = argv[++i];
            const auto badge = syncBadgeFromRawValue(argv[++i]);
            if (!badge) {
                std::fprintf(stderr, "unknown badge %s\n", argv[i]);
                return 2;
            }
            provider.setBadge(path, *badge);
        } else {
            std::fprintf(stderr, "unknown command %s\n", command.c_str());
            return 2;
        }
    }
    // Writes the file and posts what waits for it; the center sends it before the process ends.
    if (flush) {
        UserDefaults::suite(SyncStateProvider::kSuiteName)->flush();
    } else {
        DistributedNotificationCenter::defaultCenter();
    }
    return 0;
}
