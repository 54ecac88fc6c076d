#include "MenuBar/PlainRowButton.h"

#include <QFocusEvent>
#include <QLayout>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace corvane {

PlainRowButton::PlainRowButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PlainRowButton::paintEvent(QPaintEvent*)
{
    if (!m_keyboardFocus || !hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(2, 1, -2, -1);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void PlainRowButton::focusInEvent(QFocusEvent* event)
{
    m_keyboardFocus =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void PlainRowButton::focusOutEvent(QFocusEvent* event)
{
    m_keyboardFocus = false;
    QAbstractButton::focusOutEvent(event);
}

QSize PlainRowButton::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QAbstractButton::sizeHint();
}

QSize PlainRowButton::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : QAbstractButton::minimumSizeHint();
}

}  // namespace corvane
