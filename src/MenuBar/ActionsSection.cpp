#include "MenuBar/ActionsSection.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "MenuBar/MenuButton.h"
#include "MenuBar/PanelActions.h"
#include "MenuBar/PanelStyle.h"

namespace corvane {

using MenuBarRules::Action;

ActionsSection::ActionsSection(const AppState& state, PanelActions& actions, QWidget* parent)
    : QWidget(parent), m_state(state), m_actions(actions),
      m_exportError(PanelStyle::plainLabel(QString(), PanelStyle::captionFont(), this))
{
    setObjectName(QStringLiteral("actionsSection"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_exportError->setObjectName(QStringLiteral("exportError"));
    // Under the title of "Export Logs...".
    m_exportError->setContentsMargins(PanelStyle::kSideInset + PanelStyle::kSymbolFrameWidth + 8, 0,
                                      PanelStyle::kSideInset, 6);
    PanelStyle::setTextColor(*m_exportError, SystemColors::red());
    m_exportError->hide();

    for (const Action action : MenuBarRules::kActions) {
        if (action == Action::logOut) {
            addDivider();
        }
        const auto row = MenuBarRules::actionRow(action, false);
        auto* button = new MenuButton(row.icon, row.title, this);
        button->setObjectName(MenuBarRules::actionId(action) + QStringLiteral("Button"));
        column->addWidget(button);
        m_buttons.emplace(action, button);
        connect(button, &MenuButton::clicked, &actions,
                [&actions, action] { actions.trigger(action); });
        if (action == Action::exportLogs) {
            column->addWidget(m_exportError);
        }
    }
    connect(&actions, &PanelActions::exportErrorChanged, this, &ActionsSection::refresh);
}

void ActionsSection::addDivider()
{
    auto* inset = new QWidget(this);
    auto* line = new QVBoxLayout(inset);
    line->setContentsMargins(PanelStyle::kSideInset, 0, PanelStyle::kSideInset, 0);
    line->addWidget(PanelStyle::divider(inset));
    layout()->addWidget(inset);
}

void ActionsSection::refresh()
{
    const auto pause = MenuBarRules::actionRow(Action::togglePause, m_state.isPaused());
    button(Action::togglePause).setSymbolAndTitle(pause.icon, pause.title);
    const QString& error = m_actions.exportError();
    m_exportError->setText(error);
    m_exportError->setAccessibleName(error);
    m_exportError->setVisible(!error.isEmpty());
}

MenuButton& ActionsSection::button(Action action) const
{
    return *m_buttons.at(action);
}

QString ActionsSection::exportErrorText() const
{
    return m_exportError->isHidden() ? QString() : m_exportError->text();
}

}  // namespace corvane
