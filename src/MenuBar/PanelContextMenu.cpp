#include "MenuBar/PanelContextMenu.h"

#include <map>

#include <QMenu>

#include "App/AppState.h"
#include "App/SymbolIcon.h"
#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelActions.h"

namespace corvane {
namespace {

using MenuBarRules::Action;

// The menu's entries, made once: they are shown, hidden and renamed, never deleted, since an
// entry's own action may change the state that they follow.
struct Entries {
    QAction* logIn = nullptr;
    std::map<Action, QAction*> actions;
    QAction* exportError = nullptr;
    QAction* beforeLogOut = nullptr;
};

void refresh(const Entries& entries, const AppState& state, const PanelActions& actions)
{
    const bool signedIn = state.isLoggedIn();
    const auto pause = MenuBarRules::actionRow(Action::togglePause, state.isPaused());
    QAction* pauseEntry = entries.actions.at(Action::togglePause);
    pauseEntry->setText(pause.title);
    pauseEntry->setIcon(symbolIcon(pause.icon));
    entries.logIn->setVisible(!signedIn);
    for (const auto& [action, entry] : entries.actions) {
        entry->setVisible(signedIn);
    }
    entries.beforeLogOut->setVisible(signedIn);
    entries.exportError->setText(actions.exportError());
    entries.exportError->setVisible(signedIn && !actions.exportError().isEmpty());
}

}  // namespace

std::unique_ptr<QMenu> buildContextMenu(const AppState& state, PanelActions& actions,
                                        QWidget* parent)
{
    auto menu = std::make_unique<QMenu>(parent);
    menu->setObjectName(QStringLiteral("trayMenu"));
    Entries entries;
    entries.logIn = menu->addAction(symbolIcon(QStringLiteral("icloud.slash")),
                                    MenuBarRules::logInTitle(), &actions, &PanelActions::logIn);
    entries.logIn->setObjectName(QStringLiteral("logIn"));
    for (const Action action : MenuBarRules::kActions) {
        if (action == Action::logOut) {
            entries.beforeLogOut = menu->addSeparator();
        }
        const auto row = MenuBarRules::actionRow(action, false);
        QAction* entry = menu->addAction(symbolIcon(row.icon), row.title, &actions,
                                         [&actions, action] { actions.trigger(action); });
        entry->setObjectName(MenuBarRules::actionId(action));
        entries.actions.emplace(action, entry);
        if (action == Action::exportLogs) {
            entries.exportError = menu->addAction(QString());
            entries.exportError->setObjectName(QStringLiteral("exportError"));
            entries.exportError->setEnabled(false);
        }
    }
    menu->addSeparator();
    menu->addAction(MenuBarRules::quitTitle(), &actions, &PanelActions::quit)
        ->setObjectName(QStringLiteral("quit"));

    const auto follow = [entries, &state, &actions] { refresh(entries, state, actions); };
    QObject::connect(&state, &AppState::isLoggedInChanged, menu.get(), follow);
    QObject::connect(&state, &AppState::isPausedChanged, menu.get(), follow);
    QObject::connect(&actions, &PanelActions::exportErrorChanged, menu.get(), follow);
    QObject::connect(menu.get(), &QMenu::aboutToShow, menu.get(), follow);
    follow();
    return menu;
}

}  // namespace corvane
