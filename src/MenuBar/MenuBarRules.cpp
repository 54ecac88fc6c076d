#include "MenuBar/MenuBarRules.h"

#include <algorithm>

#include <QCoreApplication>
#include <QStringList>

namespace corvane {
namespace MenuBarRules {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("MenuBarView", text);
}

}  // namespace

std::size_t transferRowCount(std::size_t activeCount)
{
    return std::min(activeCount, kMaxTransferRows);
}

QString moreTransfersText(std::size_t activeCount)
{
    if (activeCount <= kMaxTransferRows) {
        return {};
    }
    return tr("and %1 more...").arg(activeCount - kMaxTransferRows);
}

std::size_t recentRowCount(std::size_t recentCount)
{
    return std::min(recentCount, kMaxRecentRows);
}

QString folderOfItem(const QString& syncDir, const QString& filePath)
{
    // The path's folders, read lexically: "." stays, ".." goes up but never above the sync
    // folder, and the last component is the item itself.
    QStringList components = filePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!components.isEmpty()) {
        components.removeLast();
    }
    QStringList folders;
    for (const QString& component : components) {
        if (component == QLatin1String("..")) {
            if (folders.isEmpty()) {
                return syncDir;
            }
            folders.removeLast();
        } else if (component != QLatin1String(".")) {
            folders.append(component);
        }
    }
    if (folders.isEmpty()) {
        return syncDir;
    }
    QString base = syncDir;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    const QString separator = base.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    return base + separator + folders.join(QLatin1Char('/'));
}

QColor statusColor(SyncStatus status)
{
    switch (status) {
    case SyncStatus::idle:
        return SystemColors::green();
    case SyncStatus::syncing:
        return SystemColors::blue();
    case SyncStatus::error:
        return SystemColors::red();
    case SyncStatus::offline:
        return SystemColors::gray();
    case SyncStatus::paused:
        return SystemColors::orange();
    }
    return SystemColors::gray();
}

QString versionText(const QString& version, const QString& build)
{
    if (version.isEmpty() || build.isEmpty()) {
        return {};
    }
    return tr("v%1 (%2)").arg(version, build);
}

ActionRow actionRow(Action action, bool isPaused)
{
    switch (action) {
    case Action::togglePause:
        if (isPaused) {
            return {QStringLiteral("play.fill"), tr("Resume Sync")};
        }
        return {QStringLiteral("pause.fill"), tr("Pause Sync")};
    case Action::openSyncFolder:
        return {QStringLiteral("folder"), tr("Open Sync Folder")};
    case Action::preferences:
        return {QStringLiteral("gearshape"), tr("Preferences...")};
    case Action::exportLogs:
        return {QStringLiteral("doc.text"), tr("Export Logs...")};
    case Action::logOut:
        return {QStringLiteral("rectangle.portrait.and.arrow.right"), tr("Log Out")};
    }
    return {};
}

QString actionId(Action action)
{
    switch (action) {
    case Action::togglePause:
        return QStringLiteral("togglePause");
    case Action::openSyncFolder:
        return QStringLiteral("openSyncFolder");
    case Action::preferences:
        return QStringLiteral("preferences");
    case Action::exportLogs:
        return QStringLiteral("exportLogs");
    case Action::logOut:
        return QStringLiteral("logOut");
    }
    return {};
}

QString logInTitle()
{
    return tr("Log In...");
}

QString quitTitle()
{
    return tr("Quit Corvane");
}

}  // namespace MenuBarRules

namespace SystemColors {

QColor green()
{
    return {52, 199, 89};
}

QColor blue()
{
    return {0, 122, 255};
}

QColor red()
{
    return {255, 59, 48};
}

QColor gray()
{
    return {142, 142, 147};
}

QColor orange()
{
    return {255, 149, 0};
}

}  // namespace SystemColors
}  // namespace corvane
