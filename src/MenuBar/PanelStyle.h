#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

namespace corvane {

// The tray panel's look: its sizes (device-independent pixels), the system font at the sizes
// and weights it uses, the secondary text colour and the small widgets every section shares.
// Main thread only.
namespace PanelStyle {

inline constexpr int kWidth = 340;
inline constexpr int kSideInset = 12;
inline constexpr int kSymbolFrameWidth = 16;
// Symbols drawn at the caption style's size, and in the 13-pixel row buttons.
inline constexpr int kCaptionSymbolSize = 14;
inline constexpr int kRowSymbolSize = 16;

// The application's font family at `pixelSize`.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont headlineFont();
QFont captionFont();
QFont caption2Font();

// The text colour of `widget`'s palette at half strength, for secondary texts.
QColor secondaryColor(const QWidget& widget);
void setTextColor(QWidget& widget, const QColor& color);

// A plain label that shows `text` as written, never as markup.
QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent);
// A section's title ("SYNCING", "RECENT"): 10 pixels, semibold, secondary, 12 at the sides and
// 8 above.
QWidget* sectionTitle(const QString& title, const QString& objectName, QWidget* parent);
// The thin separator line between the panel's parts.
QFrame* divider(QWidget* parent);

}  // namespace PanelStyle
}  // namespace corvane
