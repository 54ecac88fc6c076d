#include "MenuBar/StatusBadge.h"

#include <QPainter>

#include "App/SymbolIcon.h"

namespace corvane {

StatusBadge::StatusBadge(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kDiameter, kDiameter);
}

void StatusBadge::setStatus(const QString& symbolName, const QColor& tint)
{
    if (symbolName == m_symbolName && tint == m_tint) {
        return;
    }
    m_symbolName = symbolName;
    m_tint = tint;
    m_symbol = symbolPixmap(symbolName, kSymbolSize, tint, devicePixelRatioF());
    update();
}

void StatusBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_tint;
    fill.setAlphaF(0.15F);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(rect());
    if (!m_symbol.isNull()) {
        const QSizeF size = m_symbol.deviceIndependentSize();
        const QPointF corner((width() - size.width()) / 2, (height() - size.height()) / 2);
        painter.drawPixmap(corner, m_symbol);
    }
}

}  // namespace corvane
