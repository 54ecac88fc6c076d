#include "MenuBar/RecentActivityRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/OneLineLabel.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/RelativeTime.h"
#include "MenuBar/SymbolLabel.h"
#include "Models/ActivityItem.h"

namespace corvane {

RecentActivityRow::RecentActivityRow(QWidget* parent)
    : PlainRowButton(parent), m_symbol(new SymbolLabel(PanelStyle::kCaptionSymbolSize,
                                                       PanelStyle::kSymbolFrameWidth, this)),
      m_name(new OneLineLabel(PanelStyle::systemFont(12), this)),
      m_time(PanelStyle::plainLabel(QString(), PanelStyle::systemFont(10), this)),
      m_marker(
          new SymbolLabel(PanelStyle::kCaptionSymbolSize, PanelStyle::kCaptionSymbolSize, this))
{
    setObjectName(QStringLiteral("recentRow"));
    m_symbol->setObjectName(QStringLiteral("recentSymbol"));
    m_name->setObjectName(QStringLiteral("recentName"));
    m_time->setObjectName(QStringLiteral("recentTime"));
    m_marker->setObjectName(QStringLiteral("failedMarker"));
    m_marker->setAccessibleName(tr("Failed"));
    m_marker->setSymbol(QString::fromLatin1(kFailedMarker), SystemColors::red());
    PanelStyle::setTextColor(*m_time, PanelStyle::secondaryColor(*m_time));
    // The labels show the row; the row takes the clicks.
    for (QWidget* part : {static_cast<QWidget*>(m_symbol), static_cast<QWidget*>(m_name),
                          static_cast<QWidget*>(m_time), static_cast<QWidget*>(m_marker)}) {
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(m_name);
    texts->addWidget(m_time);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PanelStyle::kSideInset, 4, PanelStyle::kSideInset, 4);
    row->setSpacing(8);
    row->addWidget(m_symbol);
    row->addLayout(texts, 1);
    row->addWidget(m_marker);
}

void RecentActivityRow::setItem(const ActivityItem& item, std::chrono::system_clock::time_point now)
{
    const bool failed = item.status == ActivityStatus::failed;
    m_symbol->setSymbol(QString::fromLatin1(item.icon()),
                        failed ? SystemColors::red() : PanelStyle::secondaryColor(*this));
    const QString name = QString::fromStdString(item.fileName);
    m_name->setFullText(name);
    setAccessibleName(name);  // never setText(): a "&" in a name would become a shortcut
    setAccessibleDescription(QString::fromStdString(item.statusText()));
    m_marker->setVisible(failed);
    m_filePath = QString::fromStdString(item.filePath);
    m_timestamp = item.timestamp;
    refreshTime(now);
}

void RecentActivityRow::refreshTime(std::chrono::system_clock::time_point now)
{
    const QString text = tr("%1 ago").arg(relativeTime(m_timestamp, now));
    if (m_time->text() != text) {
        m_time->setText(text);
        m_time->setAccessibleName(text);
    }
}

QString RecentActivityRow::fileName() const
{
    return m_name->fullText();
}

QString RecentActivityRow::timeText() const
{
    return m_time->text();
}

const SymbolLabel* RecentActivityRow::failedMarker() const
{
    return m_marker->isHidden() ? nullptr : m_marker;
}

}  // namespace corvane
