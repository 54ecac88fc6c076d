#include "MenuBar/StatusHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "MenuBar/MenuBarRules.h"
#include "MenuBar/OneLineLabel.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/RelativeTime.h"
#include "MenuBar/StatusBadge.h"

namespace corvane {

StatusHeader::StatusHeader(const AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_badge(new StatusBadge(this)),
      m_summary(PanelStyle::plainLabel(QString(), PanelStyle::systemFont(13, QFont::Medium), this)),
      m_lastSync(PanelStyle::plainLabel(QString(), PanelStyle::caption2Font(), this)),
      m_email(new OneLineLabel(PanelStyle::caption2Font(), this))
{
    setObjectName(QStringLiteral("statusHeader"));
    m_badge->setObjectName(QStringLiteral("statusBadge"));
    m_summary->setObjectName(QStringLiteral("statusSummary"));
    m_lastSync->setObjectName(QStringLiteral("lastSync"));
    m_email->setObjectName(QStringLiteral("userEmail"));
    PanelStyle::setTextColor(*m_lastSync, PanelStyle::secondaryColor(*m_lastSync));
    PanelStyle::setTextColor(*m_email, PanelStyle::secondaryColor(*m_email));
    m_email->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_summary);
    texts->addWidget(m_lastSync);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PanelStyle::kSideInset, 10, PanelStyle::kSideInset, 10);
    row->setSpacing(10);
    row->addWidget(m_badge);
    row->addLayout(texts);
    row->addStretch(1);
    // The address gives way (and is cut) before the summary does.
    m_summary->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    m_lastSync->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    row->addWidget(m_email);
}

void StatusHeader::refresh(std::chrono::system_clock::time_point now)
{
    m_badge->setStatus(m_state.menuBarIcon(), MenuBarRules::statusColor(m_state.syncStatus()));
    m_badge->setAccessibleName(m_state.statusSummary());
    m_summary->setText(m_state.statusSummary());
    m_summary->setAccessibleName(m_state.statusSummary());
    m_email->setFullText(m_state.userEmail());
    refreshTime(now);
}

void StatusHeader::refreshTime(std::chrono::system_clock::time_point now)
{
    const QDateTime lastSync = m_state.lastSyncTime();
    m_lastSync->setVisible(!lastSync.isNull());
    if (!lastSync.isNull()) {
        const QString text = tr("Last sync: %1 ago").arg(relativeTime(lastSync, now));
        m_lastSync->setText(text);
        m_lastSync->setAccessibleName(text);
    }
}

QString StatusHeader::summary() const
{
    return m_summary->text();
}

QString StatusHeader::lastSyncText() const
{
    return m_lastSync->isHidden() ? QString() : m_lastSync->text();
}

QString StatusHeader::email() const
{
    return m_email->fullText();
}

}  // namespace corvane
