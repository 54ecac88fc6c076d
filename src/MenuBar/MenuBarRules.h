#pragma once

#include <cstddef>

#include <QColor>
#include <QString>

#include "Sync/SyncStatus.h"

namespace corvane {

// The rules of the tray panel that hold without a window, so that tests can ask them. Pure.
namespace MenuBarRules {

inline constexpr std::size_t kMaxTransferRows = 5;
inline constexpr std::size_t kMaxRecentRows = 8;

// How many of `activeCount` running transfers get a row.
std::size_t transferRowCount(std::size_t activeCount);
// "and <n> more..." for the transfers beyond the rows; empty while all have one.
QString moreTransfersText(std::size_t activeCount);
// How many of `recentCount` finished activities get a row.
std::size_t recentRowCount(std::size_t recentCount);

// The folder that holds the item at `filePath` (relative to the sync folder, "/" first): the
// sync folder itself for an item directly in it, also for an empty path or "/"; never a folder
// outside the sync folder, whatever ".." the path holds.
QString folderOfItem(const QString& syncDir, const QString& filePath);

// The tint of the status header: green, blue, red, gray or orange.
QColor statusColor(SyncStatus status);

// "v<version> (<build>)", or empty when either is missing.
QString versionText(const QString& version, const QString& build);

// The action rows, in the panel's order, and the symbol and title of each: the first reads
// "Resume Sync" with "play.fill" while paused, "Pause Sync" with "pause.fill" otherwise.
enum class Action { togglePause, openSyncFolder, preferences, exportLogs, logOut };
inline constexpr Action kActions[] = {Action::togglePause, Action::openSyncFolder,
                                      Action::preferences, Action::exportLogs, Action::logOut};
struct ActionRow {
    QString icon;
    QString title;
};
ActionRow actionRow(Action action, bool isPaused);
// A name of the action for object names: "togglePause", "openSyncFolder", ...
QString actionId(Action action);

// The titles of the signed-out panel's button and of the footer's.
QString logInTitle();
QString quitTitle();

}  // namespace MenuBarRules

// The platform's named colours that the panel tints with.
namespace SystemColors {
QColor green();
QColor blue();
QColor red();
QColor gray();
QColor orange();
}  // namespace SystemColors

}  // namespace corvane
