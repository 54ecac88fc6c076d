#pragma once

#include <optional>

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace corvane {

// The text styles, colours and control styles the views share. Sizes are given on the scale
// where body text is 13 units, and follow the desktop's own font size from there. Main thread
// only.
enum class TextStyle { largeTitle, title, title2, headline, body, callout, caption };

// The application font at `style`'s size and weight.
QFont styledFont(TextStyle style);
// The application font at `size` units (body text being 13) and `weight`.
QFont systemFont(qreal size, QFont::Weight weight = QFont::Normal);

QColor secondaryTextColor(const QPalette& palette);
QColor systemRed();
QColor systemBlue();

// A label of `style` (fonts and, for secondary text, the colour) that shows its text as
// plain text: no markup from an address, an error or a path is ever rendered.
void styleLabel(QLabel& label, TextStyle style, bool secondary = false);
// Sets `color` as the label's text colour.
void setTextColor(QWidget& widget, const QColor& color);

// The accent-filled button of a form's main action.
void makeProminent(QPushButton& button);
// A borderless button that reads like a link.
void makeLinkButton(QPushButton& button);

// A thin horizontal line across the width of its layout.
QFrame* makeDivider(QWidget* parent);
// A vertical layout without margins, `spacing` apart; set on `owner` when one is given.
QVBoxLayout* makeColumn(int spacing, QWidget* owner = nullptr);
// The column of a form view: `header` with a divider under it; the caller adds the body.
QVBoxLayout* makeHeadedColumn(QWidget& view, QWidget* header);
// The red error line of a form (object name "error"): caption text, wrapped over as many
// lines as it takes, plain text whatever the server or the transport put in it.
QLabel* makeErrorLabel(QWidget* parent);
// The error line shows `error`, or is hidden while there is none.
void showErrorLine(QLabel& line, const std::optional<QString>& error);
// A text field for a user name, an address or a code: no capitals or corrections put in by an
// input method.
QLineEdit* makeTextField(const QString& objectName, const QString& placeholder,
                         const QString& accessibleName, QWidget* parent);

}  // namespace corvane
