// The badge store under a full sync's load:
//   1. setBadge throughput while the map grows to N entries (N = 10,000 and 100,000), and the
//      rate of further badges on a map that already holds N;
//   2. how long after the last setBadge another process sees that badge: a child process of
//      this program that reads through SyncStateProvider::getBadge, as the file manager's
//      extension does, all through the further badges and the last one.
// Goals: 100,000 calls in under 2 s in all; the last badge visible within 200 ms.
//
// badge_bench [--rounds R] [--sizes N,N,...]
// Announcements go to a private session bus when dbus-daemon is at hand, else nowhere.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "FinderSync/BadgeStore.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/HelperProcess.h"
#include "Platform/PrivateBus.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane::bench {
namespace {

struct Options {
    int rounds = 3;
    std::vector<int> sizes{10000, 100000};
};

Options parse(int argc, char** argv)
{
    Options options;
    parseOptions(argc, argv, [&](const std::string& option, const auto& value) {
        if (option == "--rounds") {
            options.rounds = std::max(1, std::stoi(value()));
        } else if (option == "--sizes") {
            options.sizes.clear();
            std::istringstream list(value());
            for (std::string size; std::getline(list, size, ',');) {
                options.sizes.push_back(std::max(1, std::stoi(size)));
            }
        } else {
            return false;
        }
        return true;
    });
    return options;
}

// Paths shaped like a synced tree: a hundred files per folder.
std::string pathOf(int i)
{
    return "/home/user/Corvane/Projects/folder-" + std::to_string(i / 100) + "/document-" +
           std::to_string(i) + ".txt";
}

struct Round {
    double fillMs = 0;           // N badges on a map that starts empty
    double updateUsPerCall = 0;  // further badges on a map of N entries
    double persistedMs = 0;      // last badge call -> the file holds it
    double visibleMs = 0;        // last badge call -> another process sees it
};

constexpr const char* kReaderFlag = "--child-reader";

std::int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The other process: asks for the badge of `path` every 200 us, as a file manager redrawing its
// window does, and prints "ready" after its first answer, then "seen <steady clock in ns>"
// once the answer is `badge` (the steady clock is the same in every process).
int readerMain(const std::string& path, const std::string& badge)
{
    SyncStateProvider& provider = SyncStateProvider::shared();
    provider.getBadge(path);
    std::printf("ready\n");
    std::fflush(stdout);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (rawValue(provider.getBadge(path)) != badge) {
        if (Clock::now() > deadline) {
            std::printf("timeout\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::printf("seen %lld\n", static_cast<long long>(steadyNanoseconds()));
    return 0;
}

std::string expectLine(test::HelperProcess& process, const std::string& prefix)
{
    const auto line = process.readLine(std::chrono::seconds(30));
    if (!line || !line->starts_with(prefix)) {
        throw std::runtime_error("the reader process said \"" + line.value_or("") +
                                 "\" instead of \"" + prefix + "\"");
    }
    return line->substr(prefix.size());
}

Round runRound(int size)
{
    test::TempHome home;
    UserDefaults::resetShared();
    SyncStateProvider& provider = SyncStateProvider::shared();
    Round round;

    const auto start = Clock::now();
    for (int i = 0; i < size; ++i) {
        provider.setBadge(pathOf(i), i % 2 == 0 ? SyncBadge::syncing : SyncBadge::synced);
    }
    round.fillMs = milliseconds(Clock::now() - start);

    // The reader starts on the full map and keeps asking through everything that follows.
    const std::string last = pathOf(size - 1);
    test::HelperProcess reader("/proc/self/exe", {kReaderFlag, last, "error"});
    expectLine(reader, "ready");

    constexpr int kUpdates = 10000;
    const auto updates = Clock::now();
    for (int i = 0; i < kUpdates; ++i) {
        provider.setBadge(pathOf((i * 7919) % size), SyncBadge::synced);
    }
    round.updateUsPerCall = milliseconds(Clock::now() - updates) * 1000 / kUpdates;

    // The last badge of the run.
    auto badges = BadgeStore::ofSuite(SyncStateProvider::kSuiteName);
    provider.setBadge(last, SyncBadge::error);
    const std::int64_t written = steadyNanoseconds();
    std::atomic<std::int64_t> persisted{0};
    badges->whenPersisted("bench", [&] { persisted = steadyNanoseconds(); });
    const std::int64_t seen = std::stoll(expectLine(reader, "seen "));
    reader.wait();
    round.visibleMs = static_cast<double>(seen - written) / 1e6;
    provider.flush();
    round.persistedMs = static_cast<double>(persisted.load() - written) / 1e6;

    UserDefaults::resetShared();
    return round;
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane::bench;
    if (argc == 4 && std::string(argv[1]) == kReaderFlag) {
        return readerMain(argv[2], argv[3]);
    }
    const Options options = parse(argc, argv);

    std::optional<corvane::test::PrivateBus> bus;
    try {
        bus.emplace();
    } catch (const std::exception& error) {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("XDG_RUNTIME_DIR");
        std::printf("no private bus (%s): announcements go nowhere\n", error.what());
    }

    std::printf("%-9s %-6s %12s %12s %16s %14s %14s\n", "entries", "round", "fill ms", "calls/s",
                "update us/call", "persisted ms", "visible ms");
    for (const int size : options.sizes) {
        std::vector<double> fill;
        std::vector<double> update;
        std::vector<double> persisted;
        std::vector<double> visible;
        for (int r = 1; r <= options.rounds; ++r) {
            const Round round = runRound(size);
            fill.push_back(round.fillMs);
            update.push_back(round.updateUsPerCall);
            persisted.push_back(round.persistedMs);
            visible.push_back(round.visibleMs);
            std::printf("%-9d %-6d %12.1f %12.0f %16.2f %14.1f %14.1f\n", size, r, round.fillMs,
                        size / round.fillMs * 1000, round.updateUsPerCall, round.persistedMs,
                        round.visibleMs);
        }
        std::printf("%-9d %-6s %12.1f %12.0f %16.2f %14.1f %14.1f\n", size, "median", median(fill),
                    size / median(fill) * 1000, median(update), median(persisted), median(visible));
    }
    std::printf("goals: 100000 calls under 2000 ms in all; last badge visible to another process "
                "within 200 ms\n");
    return 0;
}
