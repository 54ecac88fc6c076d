#include "MenuBar/GeneralTabSave.h"

#include <QDir>

#include "App/AppState.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

constexpr const char* kSyncDirKey = "syncDir";
const QString kHomePrefix = QStringLiteral("~/");

}  // namespace

std::optional<QString> GeneralTabSave::absoluteFolder(const QString& typed, const QString& home)
{
    QString folder = typed;
    if (folder.startsWith(kHomePrefix)) {
        folder = QDir(home).filePath(folder.mid(kHomePrefix.size()));
    }
    if (!folder.startsWith(QLatin1Char('/'))) {
        return std::nullopt;
    }
    return folder;
}

std::optional<GeneralTabSave> GeneralTabSave::plan(const QString& typedServerURL,
                                                   const QString& typedSyncDir,
                                                   const QString& currentServerURL,
                                                   const QString& home)
{
    const auto folder = absoluteFolder(typedSyncDir, home);
    if (!folder) {
        return std::nullopt;
    }
    const bool changed = typedServerURL != currentServerURL;
    return GeneralTabSave{typedServerURL, *folder, changed && !typedServerURL.isEmpty()};
}

void GeneralTabSave::apply(AppState& state) const
{
    MainQueue::assertMainThread("GeneralTabSave::apply");
    if (signsOut) {
        // Also stores the address and the folder and publishes the folder.
        state.completeSetup(serverURL, syncDir);
        return;
    }
    state.setServerURL(serverURL);
    state.setSyncDir(syncDir);
    UserDefaults::standard()->setString(kSyncDirKey, syncDir.toStdString());
    SyncStateProvider::shared().setSyncDirectory(syncDir.toStdString());
}

}  // namespace corvane
