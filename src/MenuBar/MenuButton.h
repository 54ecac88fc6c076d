#pragma once

#include <QString>

#include "MenuBar/PlainRowButton.h"

class QLabel;

namespace corvane {

class SymbolLabel;

// An action row of the panel: a symbol in a 16-pixel frame and the title in the 13-pixel system
// font, clickable across the panel's width, in the colours of a plain button. Main thread only.
class MenuButton final : public PlainRowButton {
    Q_OBJECT

public:
    MenuButton(const QString& icon, const QString& title, QWidget* parent = nullptr);

    void setSymbolAndTitle(const QString& icon, const QString& title);
    QString title() const;
    const SymbolLabel& symbol() const { return *m_symbol; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void paintSymbol();

    SymbolLabel* m_symbol;
    QLabel* m_title;
    QString m_icon;
};

}  // namespace corvane
