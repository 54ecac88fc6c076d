#include "App/CorvaneLogo.h"

#include <QPainter>
#include <QPainterPath>

namespace corvane {
namespace {

constexpr qreal kGrid = 32;
constexpr qreal kCornerRadius = 6;
constexpr qreal kHexagonWidth = 2;
constexpr qreal kInnerLineWidth = 1.5;
constexpr int kBackgroundGrey = 10;  // of 255
constexpr qreal kInnerLineOpacity = 0.5;
// The miter limit of the platform whose strokes the mark was drawn with (Qt's default is 2).
constexpr qreal kMiterLimit = 10;

QPainterPath polyline(std::initializer_list<QPointF> units, qreal unit)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : units) {
        if (first) {
            path.moveTo(point * unit);
            first = false;
        } else {
            path.lineTo(point * unit);
        }
    }
    return path;
}

// Strokes as the mark's geometry gives them: flat ends and mitred corners, set explicitly
// because Qt's own defaults are square ends and bevelled corners.
QPen strokePen(const QColor& color, qreal width)
{
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(kMiterLimit);
    return pen;
}

}  // namespace

CorvaneLogo::CorvaneLogo(qreal size, QWidget* parent) : QWidget(parent), m_size(size)
{
    const int edge = qRound(size);
    setFixedSize(edge, edge);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(tr("Corvane"));
}

void CorvaneLogo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, width());
}

void CorvaneLogo::paint(QPainter& painter, qreal size)
{
    const qreal unit = size / kGrid;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, size, size), size * kCornerRadius / kGrid,
                          size * kCornerRadius / kGrid);
    painter.setClipPath(square);
    painter.fillPath(square, QColor(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey));

    QPainterPath hexagon =
        polyline({{8, 12}, {16, 7}, {24, 12}, {24, 20}, {16, 25}, {8, 20}}, unit);
    hexagon.closeSubpath();
    painter.strokePath(hexagon, strokePen(Qt::white, kHexagonWidth * unit));

    QColor halfWhite(Qt::white);
    halfWhite.setAlphaF(kInnerLineOpacity);
    const QPen inner = strokePen(halfWhite, kInnerLineWidth * unit);
    painter.strokePath(polyline({{16, 7}, {16, 25}}, unit), inner);
    painter.strokePath(polyline({{8, 12}, {16, 17}, {24, 12}}, unit), inner);
    painter.strokePath(polyline({{8, 20}, {16, 15}, {24, 20}}, unit), inner);
    painter.restore();
}

}  // namespace corvane
