#pragma once

#include <filesystem>
#include <optional>

#include <QObject>
#include <QString>

#include "MenuBar/LogExport.h"
#include "MenuBar/MenuBarRules.h"

namespace corvane {

class AppState;
class Scenes;

// What the panel's buttons and rows do, shared by the popup and the tray icon's context menu:
// sign-in, pause, the folders, the settings window, the log export, sign-out and quit. Main
// thread only.
class PanelActions final : public QObject {
    Q_OBJECT

public:
    PanelActions(AppState& state, Scenes& scenes, LogExport logExport, QObject* parent = nullptr);

    // Closes the panel, then shows the setup window.
    void logIn();
    void togglePause();
    void openSyncFolder();
    // Closes the panel; the settings window is shown at a later turn of the main queue.
    void openPreferences();
    // Exports off the main thread; on the main thread, selects the archive in the file
    // manager, or shows and logs that the export failed.
    void exportLogs();
    void logOut();
    // Stops sync, then ends the application.
    void quit();
    // The action of an action row.
    void trigger(MenuBarRules::Action action);
    // Opens the folder holding the recent item at `filePath` (sync-relative).
    void openFolderOf(const QString& filePath);

    // "Could not export the logs" after a failed export, until the next one starts; else empty.
    const QString& exportError() const { return m_exportError; }

signals:
    void exportErrorChanged();
    // An export has ended (either way) and its result has been applied.
    void exportFinished();

private:
    void openFolder(const QString& path);
    void applyExport(const std::optional<std::filesystem::path>& archive);
    void failExport(const QString& reason);
    void setExportError(const QString& error);

    AppState& m_state;
    Scenes& m_scenes;
    const LogExport m_logExport;
    QString m_exportError;
};

}  // namespace corvane
