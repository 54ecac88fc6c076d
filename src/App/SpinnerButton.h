#pragma once

#include <QPushButton>
#include <QTimer>

namespace corvane {

// A push button that shows a small turning indicator in place of its title while a request is
// in flight. The title stays the button's text (and accessible name), so the button keeps its
// size. The owner disables it while loading. Main thread only.
class SpinnerButton final : public QPushButton {
    Q_OBJECT

public:
    // `spinnerDiameter`: the indicator's size in device-independent pixels.
    explicit SpinnerButton(qreal spinnerDiameter, QWidget* parent = nullptr);

    void setLoading(bool loading);
    bool showsSpinner() const { return m_loading; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const qreal m_diameter;
    bool m_loading = false;
    int m_angle = 0;
    QTimer m_turn;
};

}  // namespace corvane
