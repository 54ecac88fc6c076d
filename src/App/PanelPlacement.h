#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace corvane {

// Where the tray panel's top-left corner goes: under the tray icon when the icon sits in the
// upper half of the screen, above it otherwise, centred on the icon; at the pointer when the
// desktop does not tell where the icon is (an empty `icon`). Always inside `available`, the
// screen's free area, as far as the panel fits. Pure.
QPoint panelPosition(const QRect& icon, const QSize& panel, const QRect& available,
                     const QPoint& pointer);

}  // namespace corvane
