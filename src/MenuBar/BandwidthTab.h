#pragma once

#include <cstdint>

#include <QWidget>

class QComboBox;

namespace corvane {

class AppState;

// The settings window's third tab: the upload and the download limit, each picked from the
// throttler's presets. Each time the tab is shown the pickers show the stored limits; a limit
// that matches no preset shows as "Unlimited". Every choice of the user is stored through the
// throttler at once, also a choice of the preset already shown, so that choosing "Unlimited"
// over an unmatched limit does lift it. Showing the limits stores nothing. Main thread only.
class BandwidthTab final : public QWidget {
    Q_OBJECT

public:
    explicit BandwidthTab(AppState& appState, QWidget* parent = nullptr);

    // The index of the first preset of `limit` bytes per second, or 0 ("Unlimited") when no
    // preset has that value.
    static int presetIndex(std::int64_t limit);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSection(const QString& title, const QString& pickerLabel,
                         const QString& objectName, QComboBox*& picker);
    void fillFromThrottler();

    AppState& m_appState;
    QComboBox* m_upload = nullptr;
    QComboBox* m_download = nullptr;
};

}  // namespace corvane
