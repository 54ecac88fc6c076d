#include "App/LogoHeader.h"

#include <QLabel>
#include <QVBoxLayout>

#include "App/CorvaneLogo.h"

namespace corvane {
namespace {

constexpr int kLogoTop = 28;
constexpr int kTitleTop = 8;
constexpr int kLineBottom = 20;

}  // namespace

LogoHeader::LogoHeader(const Look& look, const QString& lineObjectName, QWidget* parent)
    : QWidget(parent), m_line(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, kLogoTop, 0, kLineBottom);
    layout->setSpacing(0);

    auto* logo = new CorvaneLogo(look.logoSize, this);
    logo->setObjectName(QStringLiteral("logo"));
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    layout->addSpacing(kTitleTop);

    auto* title = new QLabel(tr("Corvane"), this);
    title->setObjectName(QStringLiteral("title"));
    styleLabel(*title, look.titleStyle);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title, 0, Qt::AlignHCenter);

    m_line->setObjectName(lineObjectName);
    styleLabel(*m_line, look.lineStyle, true);
    layout->addWidget(m_line, 0, Qt::AlignHCenter);
}

}  // namespace corvane
