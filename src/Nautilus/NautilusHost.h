#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Nautilus/NautilusFinderSyncController.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/SerialQueue.h"

typedef struct _GList GList;

namespace corvane {

class CorvaneFinderSync;
class Pasteboard;
class Workspace;

// What the Nautilus module runs: one CorvaneFinderSync on a controller implemented on Nautilus,
// answering Nautilus's requests for file information and menu items. Emblems and menus are
// offered only for local files inside the watched folders, as a file manager extension of
// this kind only ever sees those. Badge changes ("com.corvane.syncStateChanged") make Nautilus
// ask again about the files it shows, once the badges are read; while a large badge file that
// another process keeps rewriting waits for its pause, the host comes back after it, so that the
// last change of a burst is shown too.
//
// Main thread only: the main queue must run on the thread that calls it (in Nautilus, through
// GLibMainQueueExecutor on the default main context).
class NautilusHost {
public:
    NautilusHost(std::shared_ptr<DistributedNotificationCenter> center,
                 std::unique_ptr<Pasteboard> pasteboard, std::unique_ptr<Workspace> workspace);
    ~NautilusHost();
    NautilusHost(const NautilusHost&) = delete;
    NautilusHost& operator=(const NautilusHost&) = delete;

    // Adds the emblem of the file's badge.
    void updateFileInfo(NautilusFileInfo* file);
    // The extension's menu for the selected files, when they all lie inside the watched
    // folders; null otherwise. The caller owns the list.
    GList* fileItems(GList* files);
    // The extension's menu for the empty space of a folder inside the watched folders, with
    // nothing selected; null elsewhere. The caller owns the list.
    GList* backgroundItems(NautilusFileInfo* folder);

    // The local path of a file; nothing for one that has none (a remote location).
    static std::optional<std::string> localPath(NautilusFileInfo* file);

    NautilusFinderSyncController& controller() { return m_controller; }

private:
    // The menu when every shown path lies inside the watched folders; its actions run on
    // `selection`.
    GList* menuFor(const std::vector<std::string>& shown, std::vector<std::string> selection,
                   FinderSyncController::MenuKind kind);
    void perform(FinderSyncController::MenuAction action, const std::vector<std::string>& paths);
    // Reads the badges again and makes Nautilus ask about the shown files, now or, while the
    // change waits for its pause, once that is over.
    void badgesChanged();
    void badgesChangedLater();

    const std::shared_ptr<DistributedNotificationCenter> m_center;
    const std::unique_ptr<Pasteboard> m_pasteboard;
    const std::unique_ptr<Workspace> m_workspace;
    NautilusFinderSyncController m_controller;
    std::unique_ptr<CorvaneFinderSync> m_extension;
    std::unique_ptr<DistributedNotificationCenter::Observation> m_badgeObservation;
    bool m_badgesChangedLater = false;
    // Only waits, then posts to the main queue.
    SerialQueue m_laterQueue{"com.corvane.nautilus.later"};
    // Menu items may outlive the host; they reach it through this, weakly.
    const std::shared_ptr<NautilusHost*> m_self;
};

}  // namespace corvane
