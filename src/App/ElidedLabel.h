#pragma once

#include <QString>
#include <QWidget>

namespace corvane {

// One line of plain text that is shortened in the middle ("/home/ada/…/Corvane") when it does
// not fit, so that both its beginning and its end stay in view. Its accessible name is the
// whole text. Main thread only.
class ElidedLabel final : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // The text as it is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

}  // namespace corvane
