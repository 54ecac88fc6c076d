#pragma once

#include <QWidget>

class QTabWidget;

namespace corvane {

class AppState;
class AccountTab;
class BandwidthTab;
class GeneralTab;
class SyncTab;

// The content of the settings window: a fixed 480 x 340 frame around four tabs, General, Sync,
// Bandwidth and Account, each with its symbol. The tabs keep their own view state for as long
// as the view lives (the window is made once and reused). Main thread only.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 340;

    explicit SettingsView(AppState& appState, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    GeneralTab* generalTab() const { return m_general; }
    SyncTab* syncTab() const { return m_sync; }
    BandwidthTab* bandwidthTab() const { return m_bandwidth; }
    AccountTab* accountTab() const { return m_account; }

private:
    QTabWidget* m_tabs = nullptr;
    GeneralTab* m_general = nullptr;
    SyncTab* m_sync = nullptr;
    BandwidthTab* m_bandwidth = nullptr;
    AccountTab* m_account = nullptr;
};

}  // namespace corvane
