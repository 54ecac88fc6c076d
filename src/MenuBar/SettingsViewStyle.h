#pragma once

#include <QColor>
#include <QString>

class QGroupBox;
class QLabel;
class QLayout;
class QWidget;

namespace corvane {

// The text styles the settings tabs share: the platform's body text made smaller for callouts
// and captions, and a secondary colour for hints and values. Main thread only.
enum class SettingsTextStyle { body, callout, caption };

// The padding of each tab on all four edges.
inline constexpr int kSettingsTabPadding = 20;
// The red of warnings and of the sign-out button.
inline const QColor kSettingsRed{215, 0, 21};

// A label in `style` and the secondary colour that wraps at word boundaries; `text` is shown as
// written, never as markup.
QLabel* makeSecondaryLabel(const QString& text, SettingsTextStyle style, const QString& objectName,
                           QWidget* parent = nullptr);
// A titled section of a tab's form; the title is also its accessible name.
QGroupBox* makeSettingsSection(const QString& title, const QString& objectName, QWidget* parent);
// Gives the layout of a whole tab the tab's padding.
void setTabPadding(QLayout* layout);
// Gives `label` the secondary colour and shows its text as written, never as markup.
void makeSecondary(QLabel* label);

}  // namespace corvane
