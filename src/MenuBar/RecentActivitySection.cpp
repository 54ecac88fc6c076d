#include "MenuBar/RecentActivitySection.h"

#include <algorithm>

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/RecentActivityRow.h"
#include "Models/ActivityItem.h"

namespace corvane {

RecentActivitySection::RecentActivitySection(QWidget* parent)
    : QWidget(parent),
      m_empty(PanelStyle::plainLabel(tr("No recent activity"), PanelStyle::captionFont(), this)),
      m_scroll(new QScrollArea(this)), m_rows(nullptr)
{
    setObjectName(QStringLiteral("recentSection"));
    m_empty->setObjectName(QStringLiteral("noRecentActivity"));
    m_empty->setAccessibleName(m_empty->text());
    m_empty->setContentsMargins(PanelStyle::kSideInset, 8, PanelStyle::kSideInset, 8);
    PanelStyle::setTextColor(*m_empty, PanelStyle::secondaryColor(*m_empty));

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("recentRows"));
    m_rows = new QVBoxLayout(content);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    m_scroll->setObjectName(QStringLiteral("recentList"));
    m_scroll->setAccessibleName(tr("Recent activity"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);  // its rows take the focus, and it follows them
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(content);
    m_scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);

    // All rows up front, hidden until used, so that they take their place in the focus order.
    for (std::size_t i = 0; i < MenuBarRules::kMaxRecentRows; ++i) {
        auto* row = new RecentActivityRow(content);
        row->hide();
        connect(row, &RecentActivityRow::clicked, this,
                [this, row] { emit rowClicked(row->filePath()); });
        m_rows->addWidget(row);
        m_rowWidgets.push_back(row);
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 6);
    column->setSpacing(4);
    column->addWidget(PanelStyle::sectionTitle(tr("RECENT"), QStringLiteral("recentTitle"), this));
    column->addWidget(m_empty);
    column->addWidget(m_scroll);
}

void RecentActivitySection::refresh(const std::vector<ActivityItem>& recent,
                                    std::chrono::system_clock::time_point now)
{
    const std::size_t shown = MenuBarRules::recentRowCount(recent.size());
    for (std::size_t i = 0; i < m_rowWidgets.size(); ++i) {
        if (i < shown) {
            m_rowWidgets[i]->setItem(recent[i], now);
        }
        m_rowWidgets[i]->setVisible(i < shown);
    }
    m_empty->setVisible(shown == 0);
    m_scroll->setVisible(shown > 0);
    fitListHeight();
}

void RecentActivitySection::refreshTimes(std::chrono::system_clock::time_point now)
{
    for (RecentActivityRow* row : m_rowWidgets) {
        if (!row->isHidden()) {
            row->refreshTime(now);
        }
    }
}

std::vector<RecentActivityRow*> RecentActivitySection::rows() const
{
    std::vector<RecentActivityRow*> shown;
    std::copy_if(m_rowWidgets.begin(), m_rowWidgets.end(), std::back_inserter(shown),
                 [](const RecentActivityRow* row) { return !row->isHidden(); });
    return shown;
}

bool RecentActivitySection::showsEmptyNotice() const
{
    return !m_empty->isHidden();
}

void RecentActivitySection::fitListHeight()
{
    // As high as the rows, up to the limit; taller content scrolls.
    const int content = m_rows->sizeHint().height();
    m_scroll->setFixedHeight(std::min(content, kMaxListHeight));
}

}  // namespace corvane
