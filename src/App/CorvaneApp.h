#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QString>

#include "App/AppPhase.h"
#include "App/Scenes.h"

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace corvane {

class AppState;
class MenuBarView;
class SetupWindow;

// The application entry and its scenes. main() runs the whole life of the process: one
// instance per user, one QApplication, the main queue on its loop, the one AppState, the scenes,
// and the orderly end at quit or SIGTERM/SIGINT: sync is stopped (the state file saved) and the
// engine's remaining work is waited for, with the main queue served, before the state and the
// application go.
//
// The scenes: the tray icon, whose image follows AppState's menuBarIcon and whose activation
// opens the panel; the one "setup" window (SetupWindow); the settings window, made when first
// asked for and reused. Closing a window never ends the process. Main thread only.
class CorvaneApp final : public QObject, public Scenes {
    Q_OBJECT

public:
    // How long the end of the process waits for work of a stopped engine.
    static constexpr std::chrono::seconds kShutdownPatience{10};

    explicit CorvaneApp(AppState& state, QObject* parent = nullptr);
    ~CorvaneApp() override;

    AppState& state() { return m_state; }

    // At start the setup window opens unless the client is signed in and ready and the desktop
    // has a tray to reach it from: the client is never out of reach.
    static bool opensSetupWindowAtStart(AppPhase phase, bool trayAvailable);
    void showStartupScenes(bool trayAvailable);

    void showSetupWindow() override;
    void showSettingsWindow() override;
    void closePanel() override;
    void quit() override;

    // The tray icon's activation: opens the panel at the icon, or closes an open one.
    void showPanel();

    QSystemTrayIcon& trayIcon() { return *m_tray; }
    // The symbol name the tray icon shows.
    QString trayIconName() const { return m_trayIconName; }
    SetupWindow& setupWindow() { return *m_setupWindow; }
    MenuBarView& panel() const { return *m_panel; }
    QMenu& trayMenu() const { return *m_trayMenu; }
    // Nothing until first opened.
    QWidget* settingsWindow() const { return m_settingsWindow.get(); }

    static int main(int argc, char** argv);

private:
    void followMenuBarIcon();

    AppState& m_state;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QString m_trayIconName;
    std::unique_ptr<SetupWindow> m_setupWindow;
    std::unique_ptr<MenuBarView> m_panel;
    std::unique_ptr<QMenu> m_trayMenu;  // must go before the panel
    std::unique_ptr<QWidget> m_settingsWindow;
};

}  // namespace corvane
