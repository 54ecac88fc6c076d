#pragma once

#include <chrono>

#include <QObject>

namespace corvane {

class AppState;

// The application entry and its scenes. main() runs the whole life of the process: one
// instance per user, one QApplication (which stays when its last window closes), the main queue
// on its loop, the one AppState, the scenes, and the orderly end at quit or SIGTERM/SIGINT:
// sync is stopped (the state file saved) and the engine's remaining work is waited for, with
// the main queue served, before the state and the application go.
//
// The scenes are a placeholder so far: a second start's request to show the window is only
// announced (windowRequested) and logged.
class CorvaneApp final : public QObject {
    Q_OBJECT

public:
    // How long the end of the process waits for work of a stopped engine.
    static constexpr std::chrono::seconds kShutdownPatience{10};

    explicit CorvaneApp(AppState& state, QObject* parent = nullptr);

    AppState& state() { return m_state; }
    void showWindow();

    static int main(int argc, char** argv);

signals:
    void windowRequested();

private:
    AppState& m_state;
};

}  // namespace corvane
