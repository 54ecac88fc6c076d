// The tray panel under a busy feed: five transfers whose progress is each updated 1,000 times a
// second (5,000 updates a second in all) for 10 s, posted to the main queue from a thread of
// their own as the engine's transfers do, while the panel is shown on the offscreen platform.
// It measures the main thread's CPU time (user + system, of that thread alone) against the wall
// time, and the largest gap between two turns of the event loop, taken as the longest interval
// between two firings of a precise 2 ms timer. Goals: under 20% of a core, no gap over 50 ms.
//
// panel_bench [--seconds S] [--rate N]   (N: updates per second of each transfer)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <sys/resource.h>

#include <QApplication>
#include <QTimer>

#include "App/AppServices.h"
#include "App/AppState.h"
#include "App/QtMainQueue.h"
#include "App/Scenes.h"
#include "BenchSupport.h"
#include "MenuBar/MenuBarView.h"
#include "MenuBar/TransfersSection.h"
#include "Platform/LoginItem.h"
#include "Platform/MainQueue.h"
#include "Platform/NotificationPoster.h"
#include "Platform/UserDefaults.h"
#include "Platform/Workspace.h"
#include "Sync/ActivityManager.h"
#include "Sync/SyncEngineFactory.h"
#include "support/TempHome.h"

namespace corvane::bench {
namespace {

constexpr double kGoalCorePercent = 20;
constexpr double kGoalGapMs = 50;
constexpr int kTransfers = 5;
constexpr std::int64_t kTransferBytes = 1'000'000'000;
constexpr std::chrono::milliseconds kTickInterval{2};

struct Options {
    int seconds = 10;
    int rate = 1000;
};

Options parse(int argc, char** argv)
{
    Options options;
    parseOptions(argc, argv, [&](const std::string& option, const auto& value) {
        if (option == "--seconds") {
            options.seconds = std::max(1, std::stoi(value()));
        } else if (option == "--rate") {
            options.rate = std::max(1, std::stoi(value()));
        } else {
            return false;
        }
        return true;
    });
    return options;
}

class QuietNotifications final : public NotificationPoster {
public:
    void requestPermission() override {}
    void post(const std::string&, const std::string&) override {}
};

class NoLoginItem final : public LoginItem {
public:
    bool isRegistered() const override { return false; }
    void registerItem() override {}
    void unregisterItem() override {}
};

class NoWorkspace final : public Workspace {
public:
    bool openURL(const std::string&) override { return true; }
};

class NoScenes final : public Scenes {
public:
    void showSetupWindow() override {}
    void showSettingsWindow() override {}
    void closePanel() override {}
    void quit() override {}
};

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return cpuSecondsOf(usage);
}

// The longest interval between two firings of a precise repeating timer.
class LoopGapProbe {
public:
    LoopGapProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickInterval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_largest = std::max(m_largest, now - m_last);
            m_last = now;
        });
    }

    void start()
    {
        m_last = Clock::now();
        m_largest = {};
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    Clock::duration largest() const { return m_largest; }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_largest{};
};

int run(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    test::TempHome home;
    UserDefaults::resetShared();
    QApplication application(argc, argv);
    QtMainQueue mainQueue;

    // Signed in against an address nobody serves: the engine gives up at once, the panel shows
    // its signed-in content, and only the feed below moves.
    UserDefaults::standard()->setBool("setupDone", true);
    UserDefaults::standard()->setString("serverURL", "http://127.0.0.1:9");
    AppState state(AppServices{makeSyncEngineFactory(), std::make_shared<QuietNotifications>(),
                               std::make_shared<NoLoginItem>(), std::make_shared<NoWorkspace>(),
                               nullptr, [] { return std::chrono::system_clock::now(); }});
    state.login("token", "ada@example.com");
    QtMainQueue::runUntil([&] { return state.syncStatus() == SyncStatus::error; },
                          std::chrono::seconds(10));

    NoScenes scenes;
    MenuBarView panel(state, scenes);
    ActivityManager& feed = *state.activityManager();
    for (int i = 0; i < kTransfers; ++i) {
        feed.startTransfer("t" + std::to_string(i), ActivityType::upload,
                           "file-" + std::to_string(i) + ".bin",
                           "/file-" + std::to_string(i) + ".bin", kTransferBytes);
    }
    panel.showAt(QRect());
    QtMainQueue::runUntil([] { return false; }, std::chrono::milliseconds(300));

    printMachineNote("before");
    const auto period = std::chrono::nanoseconds(1'000'000'000LL / options.rate);
    const long long updates = static_cast<long long>(options.rate) * options.seconds;
    std::atomic<long long> applied{0};
    int redraws = 0;
    QObject::connect(&state, &AppState::summaryChanged, [&] { ++redraws; });

    LoopGapProbe probe;
    probe.start();
    const double cpuBefore = threadCpuSeconds();
    const auto started = Clock::now();
    std::jthread feeder([&] {
        auto next = Clock::now();
        for (long long step = 1; step <= updates; ++step) {
            next += period;
            std::this_thread::sleep_until(next);
            const std::int64_t bytes = kTransferBytes * step / updates;
            for (int i = 0; i < kTransfers; ++i) {
                MainQueue::async([&feed, &applied, i, bytes] {
                    feed.updateProgress("t" + std::to_string(i), bytes);
                    ++applied;
                });
            }
        }
    });
    QtMainQueue::runUntil([&] { return applied.load() == updates * kTransfers; },
                          std::chrono::seconds(options.seconds * 3));
    const double wall = seconds(Clock::now() - started);
    const double cpu = threadCpuSeconds() - cpuBefore;
    probe.stop();
    feeder.join();
    // The last redraw after the last update.
    QtMainQueue::runUntil([] { return false; }, 3 * AppState::kSummaryInterval);

    const double corePercent = 100 * cpu / wall;
    const double gapMs = milliseconds(probe.largest());
    const auto rows = panel.transfersSection().rows();
    std::cout << std::fixed << std::setprecision(1) << "updates applied: " << applied.load() << " ("
              << kTransfers << " transfers x " << options.rate << "/s for " << options.seconds
              << " s), wall " << wall << " s, summary redraws " << redraws << "\n"
              << "main-thread CPU: " << cpu << " s = " << corePercent << "% of a core (goal < "
              << kGoalCorePercent << "%)\n"
              << "largest gap between loop turns: " << gapMs << " ms (goal <= " << kGoalGapMs
              << " ms; probe timer every " << kTickInterval.count() << " ms)\n"
              << "shown at the end: " << rows.size() << " rows, summary \""
              << state.statusSummary().toStdString() << "\"\n";
    printMachineNote("after");
    state.stopSync();
    QtMainQueue::runUntil([&] { return !state.hasEngineWork(); }, std::chrono::seconds(10));
    UserDefaults::resetShared();
    return corePercent < kGoalCorePercent && gapMs <= kGoalGapMs ? 0 : 1;
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv)
{
    return corvane::bench::runBenchmarkMain([&] { return corvane::bench::run(argc, argv); });
}
