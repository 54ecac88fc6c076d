#pragma once

#include <QAbstractButton>

namespace corvane {

// A row of the panel that is a button across its whole rectangle, margins and empty space
// included, drawn without bezel or background: the row's own child widgets show its content.
// A focus frame shows only when the focus came from the keyboard. Main thread only.
class PlainRowButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlainRowButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    bool m_keyboardFocus = false;
};

}  // namespace corvane
