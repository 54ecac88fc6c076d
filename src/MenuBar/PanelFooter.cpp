#include "MenuBar/PanelFooter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelStyle.h"

namespace corvane {

PanelFooter::PanelFooter(const QString& versionText, QWidget* parent)
    : QWidget(parent), m_quit(new QPushButton(MenuBarRules::quitTitle(), this)),
      m_version(PanelStyle::plainLabel(versionText, PanelStyle::caption2Font(), this))
{
    setObjectName(QStringLiteral("footer"));
    m_quit->setObjectName(QStringLiteral("quitButton"));
    m_quit->setAccessibleName(m_quit->text());
    m_quit->setFlat(true);
    m_quit->setFont(PanelStyle::captionFont());
    m_quit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    PanelStyle::setTextColor(*m_quit, PanelStyle::secondaryColor(*m_quit));
    m_version->setObjectName(QStringLiteral("version"));
    m_version->setAccessibleName(versionText);
    PanelStyle::setTextColor(*m_version, PanelStyle::secondaryColor(*m_version));
    m_version->setVisible(!versionText.isEmpty());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PanelStyle::kSideInset, 8, PanelStyle::kSideInset, 8);
    row->addWidget(m_quit);
    row->addStretch(1);
    row->addWidget(m_version);
    connect(m_quit, &QPushButton::clicked, this, &PanelFooter::quitClicked);
}

QString PanelFooter::versionText() const
{
    return m_version->isHidden() ? QString() : m_version->text();
}

}  // namespace corvane
