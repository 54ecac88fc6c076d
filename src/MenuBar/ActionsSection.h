#pragma once

#include <map>

#include <QWidget>

#include "MenuBar/MenuBarRules.h"

class QLabel;

namespace corvane {

class AppState;
class MenuButton;
class PanelActions;

// The panel's action rows: "Pause Sync" or "Resume Sync", "Open Sync Folder", "Preferences...",
// "Export Logs..." (with the line of a failed export under it), a divider and "Log Out".
// Main thread only.
class ActionsSection final : public QWidget {
    Q_OBJECT

public:
    ActionsSection(const AppState& state, PanelActions& actions, QWidget* parent = nullptr);

    // Reads the pause state and the export's error afresh.
    void refresh();

    MenuButton& button(MenuBarRules::Action action) const;
    // Empty while hidden.
    QString exportErrorText() const;

private:
    void addDivider();

    const AppState& m_state;
    const PanelActions& m_actions;
    std::map<MenuBarRules::Action, MenuButton*> m_buttons;
    QLabel* m_exportError;
};

}  // namespace corvane
