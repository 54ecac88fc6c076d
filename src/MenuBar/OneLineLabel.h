#pragma once

#include <QLabel>
#include <QString>

namespace corvane {

// Plain text on one line, cut with an ellipsis at the end when the width is short. The whole
// text stays its accessible name, so the row can be found by what it says. Main thread only.
class OneLineLabel final : public QLabel {
    Q_OBJECT

public:
    explicit OneLineLabel(const QFont& font, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }

    // As wide as the whole text, but content with the width of an ellipsis.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_fullText;
};

}  // namespace corvane
