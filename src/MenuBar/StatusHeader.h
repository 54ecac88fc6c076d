#pragma once

#include <chrono>

#include <QWidget>

class QLabel;

namespace corvane {

class AppState;
class OneLineLabel;
class StatusBadge;

// The top of the signed-in panel: the badge tinted by the sync status with the tray icon's
// symbol, the status summary, "Last sync: ... ago" once there was one, and the e-mail address at
// the right. Main thread only.
class StatusHeader final : public QWidget {
    Q_OBJECT

public:
    StatusHeader(const AppState& state, QWidget* parent = nullptr);

    // Reads everything it shows from the state afresh.
    void refresh(std::chrono::system_clock::time_point now);
    // Only the elapsed time of the last sync.
    void refreshTime(std::chrono::system_clock::time_point now);

    const StatusBadge& badge() const { return *m_badge; }
    QString summary() const;
    // Empty while no sync has finished.
    QString lastSyncText() const;
    QString email() const;

private:
    const AppState& m_state;
    StatusBadge* m_badge;
    QLabel* m_summary;
    QLabel* m_lastSync;
    OneLineLabel* m_email;
};

}  // namespace corvane
