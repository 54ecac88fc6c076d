#include "App/SpinnerButton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace corvane {
namespace {

constexpr int kStepDegrees = 30;
constexpr int kStepMilliseconds = 80;
constexpr int kArcDegrees = 270;

}  // namespace

SpinnerButton::SpinnerButton(qreal spinnerDiameter, QWidget* parent)
    : QPushButton(parent), m_diameter(spinnerDiameter)
{
    // A click leaves the focus where it was: the button disables itself while loading, and a
    // disabled focus holder would hand the focus on to the next field, selecting its text.
    setFocusPolicy(Qt::TabFocus);
    m_turn.setInterval(kStepMilliseconds);
    connect(&m_turn, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + kStepDegrees) % 360;
        update();
    });
}

void SpinnerButton::setLoading(bool loading)
{
    if (m_loading == loading) {
        return;
    }
    m_loading = loading;
    if (loading) {
        m_turn.start();
    } else {
        m_turn.stop();
    }
    update();
}

void SpinnerButton::paintEvent(QPaintEvent* event)
{
    if (!m_loading) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);

    painter.setRenderHint(QPainter::Antialiasing);
    // The window's text colour: the button's own is meant for its enabled, accent-filled face.
    QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
    ink.setAlphaF(0.7);
    QPen pen(ink, qMax(1.5, m_diameter / 8));
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const qreal inset = pen.widthF() / 2;
    QRectF circle(0, 0, m_diameter - 2 * inset, m_diameter - 2 * inset);
    circle.moveCenter(QRectF(rect()).center());
    // Qt counts angles in 1/16 degree, anticlockwise: minus turns it clockwise.
    painter.drawArc(circle, -m_angle * 16, kArcDegrees * 16);
}

}  // namespace corvane
