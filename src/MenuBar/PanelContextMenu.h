#pragma once

#include <memory>

class QMenu;
class QWidget;

namespace corvane {

class AppState;
class PanelActions;

// The tray icon's menu, for hosts that show a menu and never activate the icon: the panel's
// actions, "Log In..." and "Quit Corvane" while signed out, and "Pause Sync" (or "Resume
// Sync"), "Open Sync Folder", "Preferences...", "Export Logs...", "Log Out" and "Quit Corvane"
// while signed in, with the line of a failed export. The entries follow the state as it
// changes. `state` and `actions` outlive the menu. Main thread only.
std::unique_ptr<QMenu> buildContextMenu(const AppState& state, PanelActions& actions,
                                        QWidget* parent = nullptr);

}  // namespace corvane
