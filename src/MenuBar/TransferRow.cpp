#include "MenuBar/TransferRow.h"

#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/OneLineLabel.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/SymbolLabel.h"
#include "Models/ActivityItem.h"

namespace corvane {
namespace {

// The bar's value for a fraction that the feed does not clamp (nor guard against NaN).
int progressSteps(double progress)
{
    if (!(progress > 0)) {
        return 0;
    }
    if (progress >= 1) {
        return TransferRow::kProgressSteps;
    }
    return static_cast<int>(std::floor(progress * TransferRow::kProgressSteps));
}

// Invalid UTF-8 in a name from the disk or the server shows as replacement characters.
QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace

TransferRow::TransferRow(QWidget* parent)
    : QWidget(parent), m_symbol(new SymbolLabel(PanelStyle::kCaptionSymbolSize,
                                                PanelStyle::kSymbolFrameWidth, this)),
      m_name(new OneLineLabel(PanelStyle::systemFont(12), this)),
      m_progress(new QProgressBar(this)),
      m_status(PanelStyle::plainLabel(QString(), PanelStyle::systemFont(10), this))
{
    setObjectName(QStringLiteral("transferRow"));
    m_symbol->setObjectName(QStringLiteral("transferSymbol"));
    m_name->setObjectName(QStringLiteral("transferName"));
    m_progress->setObjectName(QStringLiteral("transferProgress"));
    m_status->setObjectName(QStringLiteral("transferStatus"));
    m_progress->setRange(0, kProgressSteps);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    PanelStyle::setTextColor(*m_status, PanelStyle::secondaryColor(*m_status));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_name);
    texts->addWidget(m_progress);
    texts->addWidget(m_status);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PanelStyle::kSideInset, 2, PanelStyle::kSideInset, 2);
    row->setSpacing(8);
    row->addWidget(m_symbol);
    row->addLayout(texts, 1);
}

void TransferRow::setItem(const ActivityItem& item)
{
    m_symbol->setSymbol(QString::fromLatin1(item.icon()), SystemColors::blue());
    const QString name = fromUtf8(item.fileName);
    m_name->setFullText(name);
    setAccessibleName(name);
    m_progress->setAccessibleName(tr("Progress of %1").arg(name));
    m_progress->setValue(progressSteps(item.progress));
    const QString status = fromUtf8(item.statusText());
    if (m_status->text() != status) {
        m_status->setText(status);
        m_status->setAccessibleName(status);
    }
}

QString TransferRow::fileName() const
{
    return m_name->fullText();
}

int TransferRow::progressValue() const
{
    return m_progress->value();
}

QString TransferRow::statusText() const
{
    return m_status->text();
}

}  // namespace corvane
