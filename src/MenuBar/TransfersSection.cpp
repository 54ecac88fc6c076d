#include "MenuBar/TransfersSection.h"

#include <QLabel>
#include <QVBoxLayout>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/TransferRow.h"
#include "Models/ActivityItem.h"

namespace corvane {

TransfersSection::TransfersSection(QWidget* parent)
    : QWidget(parent), m_rows(new QVBoxLayout),
      m_more(PanelStyle::plainLabel(QString(), PanelStyle::captionFont(), this))
{
    setObjectName(QStringLiteral("transfersSection"));
    m_more->setObjectName(QStringLiteral("moreTransfers"));
    m_more->setContentsMargins(PanelStyle::kSideInset, 0, PanelStyle::kSideInset, 0);
    PanelStyle::setTextColor(*m_more, PanelStyle::secondaryColor(*m_more));
    m_more->hide();
    m_rows->setSpacing(4);
    m_rows->setContentsMargins(0, 0, 0, 0);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 6);
    column->setSpacing(4);
    column->addWidget(
        PanelStyle::sectionTitle(tr("SYNCING"), QStringLiteral("syncingTitle"), this));
    column->addLayout(m_rows);
    column->addWidget(m_more);
}

void TransfersSection::refresh(const std::vector<ActivityItem>& transfers)
{
    const std::size_t shown = MenuBarRules::transferRowCount(transfers.size());
    while (m_rowWidgets.size() < shown) {
        auto* row = new TransferRow(this);
        m_rows->addWidget(row);
        m_rowWidgets.push_back(row);
    }
    for (std::size_t i = 0; i < m_rowWidgets.size(); ++i) {
        if (i < shown) {
            m_rowWidgets[i]->setItem(transfers[i]);
        }
        m_rowWidgets[i]->setVisible(i < shown);
    }
    const QString more = MenuBarRules::moreTransfersText(transfers.size());
    m_more->setText(more);
    m_more->setAccessibleName(more);
    m_more->setVisible(!more.isEmpty());
}

std::vector<const TransferRow*> TransfersSection::rows() const
{
    std::vector<const TransferRow*> shown;
    for (const TransferRow* row : m_rowWidgets) {
        if (!row->isHidden()) {
            shown.push_back(row);
        }
    }
    return shown;
}

QString TransfersSection::moreText() const
{
    return m_more->isHidden() ? QString() : m_more->text();
}

}  // namespace corvane
