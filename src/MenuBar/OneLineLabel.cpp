#include "MenuBar/OneLineLabel.h"

#include <QFontMetrics>

namespace corvane {

OneLineLabel::OneLineLabel(const QFont& font, QWidget* parent) : QLabel(parent)
{
    setFont(font);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void OneLineLabel::setFullText(const QString& text)
{
    if (text == m_fullText) {
        return;
    }
    m_fullText = text;
    setAccessibleName(text);
    updateGeometry();
    elide();
}

QSize OneLineLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return {metrics.horizontalAdvance(m_fullText) + margins.left() + margins.right() + 1,
            metrics.height() + margins.top() + margins.bottom()};
}

QSize OneLineLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return {metrics.horizontalAdvance(QStringLiteral("\u2026")) + margins.left() + margins.right(),
            metrics.height() + margins.top() + margins.bottom()};
}

void OneLineLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void OneLineLabel::elide()
{
    // Line breaks and tabs of a file name would break the one line.
    QString line = m_fullText;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    const QFontMetrics metrics(font());
    setText(metrics.elidedText(line, Qt::ElideRight, contentsRect().width()));
}

}  // namespace corvane
