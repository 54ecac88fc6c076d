#include "MenuBar/SignedOutNotice.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/SymbolLabel.h"

namespace corvane {
namespace {

constexpr int kSymbolSize = 32;

// The platform's prominent button: filled with the accent colour, the title in white.
void makeProminent(QPushButton& button)
{
    QPalette palette = button.palette();
    palette.setColor(QPalette::Button, SystemColors::blue());
    palette.setColor(QPalette::ButtonText, Qt::white);
    button.setPalette(palette);
    button.setDefault(true);
}

}  // namespace

SignedOutNotice::SignedOutNotice(QWidget* parent)
    : QWidget(parent), m_logIn(new QPushButton(MenuBarRules::logInTitle(), this))
{
    setObjectName(QStringLiteral("signedOutNotice"));
    auto* symbol = new SymbolLabel(kSymbolSize, kSymbolSize + 8, this);
    symbol->setObjectName(QStringLiteral("notConnectedSymbol"));
    symbol->setSymbol(QStringLiteral("icloud.slash"), PanelStyle::secondaryColor(*this));
    QLabel* title = PanelStyle::plainLabel(tr("Not connected"), PanelStyle::headlineFont(), this);
    title->setObjectName(QStringLiteral("notConnected"));
    title->setAccessibleName(title->text());
    m_logIn->setObjectName(QStringLiteral("logInButton"));
    m_logIn->setAccessibleName(m_logIn->text());
    makeProminent(*m_logIn);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addWidget(m_logIn, 0, Qt::AlignHCenter);
    connect(m_logIn, &QPushButton::clicked, this, &SignedOutNotice::logInClicked);
}

}  // namespace corvane
