#include "MenuBar/SymbolLabel.h"

#include "App/SymbolIcon.h"

namespace corvane {

SymbolLabel::SymbolLabel(int symbolSize, int frameWidth, QWidget* parent)
    : QLabel(parent), m_symbolSize(symbolSize)
{
    setFixedWidth(frameWidth);
    setMinimumHeight(symbolSize);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
}

void SymbolLabel::setSymbol(const QString& symbolName, const QColor& color)
{
    if (symbolName == m_symbolName && color == m_color) {
        return;
    }
    m_symbolName = symbolName;
    m_color = color;
    setPixmap(symbolPixmap(symbolName, m_symbolSize, color, devicePixelRatioF()));
}

}  // namespace corvane
