#include "MenuBar/MenuButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

#include "MenuBar/PanelStyle.h"
#include "MenuBar/SymbolLabel.h"

namespace corvane {

MenuButton::MenuButton(const QString& icon, const QString& title, QWidget* parent)
    : PlainRowButton(parent),
      m_symbol(new SymbolLabel(PanelStyle::kRowSymbolSize, PanelStyle::kSymbolFrameWidth, this)),
      m_title(PanelStyle::plainLabel(QString(), PanelStyle::systemFont(13), this))
{
    m_symbol->setObjectName(QStringLiteral("menuButtonSymbol"));
    m_title->setObjectName(QStringLiteral("menuButtonTitle"));
    m_symbol->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_title->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PanelStyle::kSideInset, 6, PanelStyle::kSideInset, 6);
    row->setSpacing(8);
    row->addWidget(m_symbol);
    row->addWidget(m_title);
    row->addStretch(1);
    setSymbolAndTitle(icon, title);
}

void MenuButton::setSymbolAndTitle(const QString& icon, const QString& title)
{
    m_icon = icon;
    paintSymbol();
    m_title->setText(title);
    m_title->setAccessibleName(title);
    setAccessibleName(title);
}

QString MenuButton::title() const
{
    return m_title->text();
}

void MenuButton::changeEvent(QEvent* event)
{
    PlainRowButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
        paintSymbol();
    }
}

void MenuButton::paintSymbol()
{
    // The symbol takes the title's colour, as the platform's plain button draws both.
    m_symbol->setSymbol(m_icon, palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                                QPalette::ButtonText));
}

}  // namespace corvane
