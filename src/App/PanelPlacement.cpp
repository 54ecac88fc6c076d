#include "App/PanelPlacement.h"

#include <algorithm>

namespace corvane {
namespace {

int clampInto(int start, int length, int areaStart, int areaLength)
{
    // A panel larger than the area keeps its start at the area's.
    return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

}  // namespace

QPoint panelPosition(const QRect& icon, const QSize& panel, const QRect& available,
                     const QPoint& pointer)
{
    QPoint corner;
    if (icon.isEmpty()) {
        corner = QPoint(pointer.x() - panel.width() / 2, pointer.y());
    } else {
        const bool iconAtTop = icon.center().y() < available.center().y();
        corner = QPoint(icon.center().x() - panel.width() / 2,
                        iconAtTop ? icon.bottom() + 1 : icon.top() - panel.height());
    }
    return {clampInto(corner.x(), panel.width(), available.x(), available.width()),
            clampInto(corner.y(), panel.height(), available.y(), available.height())};
}

}  // namespace corvane
