#include "MenuBar/PanelActions.h"

#include <utility>

#include "App/AppState.h"
#include "App/BackgroundCall.h"
#include "App/Scenes.h"
#include "Logging/FileLogger.h"
#include "MenuBar/MenuBarRules.h"
#include "Platform/FileURL.h"
#include "Platform/MainQueue.h"
#include "Platform/Workspace.h"

namespace corvane {
namespace {

constexpr const char* kModule = "menubar";

std::filesystem::path pathOf(const QString& text)
{
    return std::filesystem::path(text.toStdString());
}

}  // namespace

PanelActions::PanelActions(AppState& state, Scenes& scenes, LogExport logExport, QObject* parent)
    : QObject(parent), m_state(state), m_scenes(scenes), m_logExport(std::move(logExport))
{
}

void PanelActions::logIn()
{
    m_scenes.closePanel();
    m_scenes.showSetupWindow();
}

void PanelActions::togglePause()
{
    m_state.togglePause();
}

void PanelActions::openSyncFolder()
{
    openFolder(m_state.syncDir());
}

void PanelActions::openPreferences()
{
    m_scenes.closePanel();
    // After the click has been handled; nothing of the panel is needed by then.
    MainQueue::async([&scenes = m_scenes] { scenes.showSettingsWindow(); });
}

void PanelActions::exportLogs()
{
    setExportError(QString());
    runInBackground(
        this,
        [exportLogs = m_logExport.exportLogs, syncDir = pathOf(m_state.syncDir())] {
            return exportLogs(syncDir);
        },
        [this](const std::optional<std::filesystem::path>& archive) { applyExport(archive); },
        [this](const QString& reason) { failExport(reason); });
}

void PanelActions::logOut()
{
    m_state.logout();
}

void PanelActions::quit()
{
    m_state.stopSync();
    m_scenes.quit();
}

void PanelActions::trigger(MenuBarRules::Action action)
{
    using MenuBarRules::Action;
    switch (action) {
    case Action::togglePause:
        togglePause();
        return;
    case Action::openSyncFolder:
        openSyncFolder();
        return;
    case Action::preferences:
        openPreferences();
        return;
    case Action::exportLogs:
        exportLogs();
        return;
    case Action::logOut:
        logOut();
        return;
    }
}

void PanelActions::openFolderOf(const QString& filePath)
{
    openFolder(MenuBarRules::folderOfItem(m_state.syncDir(), filePath));
}

void PanelActions::openFolder(const QString& path)
{
    // Whether a file manager showed it is not known; a missing folder shows nothing. A folder
    // that is not absolute (an empty setting) would be read against some working folder.
    const std::filesystem::path folder = pathOf(path);
    const auto& workspace = m_state.services().workspace;
    if (workspace && folder.is_absolute()) {
        workspace->openURL(fileURL(folder));
    }
}

void PanelActions::applyExport(const std::optional<std::filesystem::path>& archive)
{
    if (!archive) {
        failExport(QStringLiteral("no archive was written"));
        return;
    }
    if (const auto& workspace = m_state.services().workspace) {
        workspace->selectFile(*archive);
    }
    emit exportFinished();
}

void PanelActions::failExport(const QString& reason)
{
    if (m_logExport.logger) {
        m_logExport.logger->error(
            kModule, "log export failed",
            {{"reason", reason.toStdString()}, {"syncDir", m_state.syncDir().toStdString()}});
    }
    setExportError(tr("Could not export the logs"));
    emit exportFinished();
}

void PanelActions::setExportError(const QString& error)
{
    if (std::exchange(m_exportError, error) != error) {
        emit exportErrorChanged();
    }
}

}  // namespace corvane
