#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace corvane {

// The images of the system-symbol names the views use ("checkmark.icloud", "folder.fill", ...):
// the logical ids stay those names in code and tests. Each maps to a freedesktop icon-theme
// name and, where the theme has no such icon, to an SVG bundled with the application, so the
// tray and the rows look right on any theme. Main thread only (the GUI thread).
//
// The names known here; any other name gives a null icon.
QStringList knownSymbolNames();
// The icon of `symbolName` as the theme draws it, or the bundled one where the theme has none.
QIcon symbolIcon(const QString& symbolName);
// The bundled icon of `symbolName`, whatever the theme: black line glyphs on a 24-unit grid.
QIcon bundledSymbolIcon(const QString& symbolName);
// The theme's icon of `symbolName` where it has one (a desktop recolours its own symbolic icons
// to suit where they sit), else the bundled glyph painted in `color`: for the tray.
QIcon tintedSymbolIcon(const QString& symbolName, const QColor& color);
// The symbol at `size` device-independent pixels, painted in `color` (its shape kept, its own
// colours replaced), for the tinted symbols of rows and headers.
QPixmap symbolPixmap(const QString& symbolName, int size, const QColor& color,
                     qreal devicePixelRatio = 1.0);

}  // namespace corvane
