#include "App/CorvaneApp.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include <QApplication>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "App/ActivationListener.h"
#include "App/AppServices.h"
#include "App/AppState.h"
#include "App/QtMainQueue.h"
#include "App/SetupWindow.h"
#include "App/SymbolIcon.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Logging/FileLogger.h"
#include "MenuBar/MenuBarView.h"
#include "MenuBar/SettingsView.h"
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

// A window of the client around `content`, at the content's size.
std::unique_ptr<QWidget> windowAround(std::unique_ptr<QWidget> content, const QString& objectName,
                                      const QString& title)
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(objectName);
    window->setWindowTitle(title);
    window->setAccessibleName(title);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content.release());  // the window owns it from here
    return window;
}

void present(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

CorvaneApp::CorvaneApp(AppState& state, QObject* parent)
    : QObject(parent), m_state(state), m_tray(std::make_unique<QSystemTrayIcon>()),
      m_setupWindow(std::make_unique<SetupWindow>(state)),
      m_panel(std::make_unique<MenuBarView>(state, *this)), m_trayMenu(m_panel->buildContextMenu())
{
    // The client lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    followMenuBarIcon();
    connect(&state, &AppState::summaryChanged, this, &CorvaneApp::followMenuBarIcon);
    // A click opens the panel; hosts that show only a menu (and a right click on the others)
    // get the same actions from the context menu.
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    showPanel();
                }
            });
    m_tray->show();
}

CorvaneApp::~CorvaneApp() = default;

bool CorvaneApp::opensSetupWindowAtStart(AppPhase phase, bool trayAvailable)
{
    return phase != AppPhase::ready || !trayAvailable;
}

void CorvaneApp::showStartupScenes(bool trayAvailable)
{
    if (opensSetupWindowAtStart(m_state.phase(), trayAvailable)) {
        showSetupWindow();
    }
}

void CorvaneApp::followMenuBarIcon()
{
    const QString name = m_state.menuBarIcon();
    if (name == m_trayIconName) {
        return;
    }
    m_trayIconName = name;
    m_tray->setIcon(tintedSymbolIcon(name, QApplication::palette().color(QPalette::WindowText)));
}

void CorvaneApp::showSetupWindow()
{
    present(*m_setupWindow);
}

void CorvaneApp::showSettingsWindow()
{
    if (!m_settingsWindow) {
        m_settingsWindow = windowAround(std::make_unique<SettingsView>(m_state),
                                        QStringLiteral("settings"), tr("Settings"));
    }
    present(*m_settingsWindow);
}

void CorvaneApp::showPanel()
{
    m_panel->toggleAt(m_tray->geometry());
}

void CorvaneApp::closePanel()
{
    m_panel->close();
}

void CorvaneApp::quit()
{
    QCoreApplication::quit();
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
                         [&scenes] {
                             FileLogger::shared().info(kModule, "window requested");
                             scenes->showSetupWindow();
                         });
    }
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    scenes->showStartupScenes(trayAvailable);
    FileLogger::shared().info(
        kModule, "started",
        {{"single_instance_bus", activation != nullptr}, {"system_tray", trayAvailable}});

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
