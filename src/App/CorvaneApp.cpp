#include "App/CorvaneApp.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <QApplication>
#include <QSocketNotifier>

#include "App/ActivationListener.h"
#include "App/AppServices.h"
#include "App/AppState.h"
#include "App/QtMainQueue.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Logging/FileLogger.h"
#include "Platform/ActivationService.h"
#include "Platform/Error.h"
#include "Platform/InstanceLock.h"
#include "Platform/TerminationSignals.h"
#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

constexpr const char* kModule = "app";

// A second start: the running instance is asked to show its window, and this one ends.
int handOverToRunningInstance()
{
    switch (ActivationService::activateRunningInstance(std::chrono::seconds(3))) {
    case ActivationService::Outcome::activated:
        std::puts("Corvane is already running; its window was brought forward.");
        break;
    case ActivationService::Outcome::noBus:
        std::puts("Corvane is already running. Without a session bus it cannot be asked to show "
                  "its window.");
        break;
    case ActivationService::Outcome::noAnswer:
        std::puts("Corvane is already running but did not answer the request to show its window.");
        break;
    }
    return 0;
}

// Everything written so far reaches disk before the process ends.
void flushStores()
{
    if (const auto defaults = UserDefaults::standard()) {
        defaults->flush();
    }
    SyncStateProvider::shared().flush();
    FileLogger::shared().flush();
}

// Stops sync and waits, serving the main queue, until the engine's work has ended: that work may
// wait for the main thread. Work that does not end in time is left to the end of the process,
// which then skips the destructors that would wait for it.
void stopSyncInOrder(AppState& state)
{
    state.stopSync();
    if (QtMainQueue::runUntil([&] { return !state.hasEngineWork(); },
                              CorvaneApp::kShutdownPatience)) {
        return;
    }
    FileLogger::shared().warn(kModule, "sync work still under way at exit");
    flushStores();
    std::_Exit(0);
}

}  // namespace

CorvaneApp::CorvaneApp(AppState& state, QObject* parent) : QObject(parent), m_state(state) {}

void CorvaneApp::showWindow()
{
    FileLogger::shared().info(kModule, "window requested");
    emit windowRequested();
}

int CorvaneApp::main(int argc, char** argv)
{
    // First, before any thread starts, so that every thread leaves the signals to the loop.
    TerminationSignals termination;
    // The log's echo reaches a pipe (the session's journal) line by line, as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::optional<InstanceLock> lock;
    try {
        lock = InstanceLock::acquire();
    } catch (const Error& error) {
        std::fprintf(stderr, "Corvane cannot tell whether it runs already: %s\n", error.what());
        return 1;
    }
    if (!lock) {
        return handOverToRunningInstance();
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    QtMainQueue mainQueue;

    QSocketNotifier terminate(termination.fd(), QSocketNotifier::Read);
    QObject::connect(&terminate, &QSocketNotifier::activated, &application, [&] {
        if (const auto signal = termination.take()) {
            FileLogger::shared().info(kModule, "quitting on signal", {{"signal", *signal}});
            QCoreApplication::quit();
        }
    });

    auto state = std::make_unique<AppState>(AppServices::production());
    auto scenes = std::make_unique<CorvaneApp>(*state);
    const auto activation = ActivationListener::start();
    if (activation) {
        QObject::connect(activation.get(), &ActivationListener::activationRequested, scenes.get(),
                         &CorvaneApp::showWindow);
    }
    FileLogger::shared().info(kModule, "started", {{"single_instance_bus", activation != nullptr}});

    const int status = QApplication::exec();
    stopSyncInOrder(*state);
    scenes.reset();
    state.reset();
    flushStores();
    FileLogger::shared().info(kModule, "ended");
    FileLogger::shared().flush();
    return status;
}

}  // namespace corvane
