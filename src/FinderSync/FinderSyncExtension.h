#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/DistributedNotificationCenter.h"
#include "Platform/FinderSyncController.h"

namespace corvane {

class Pasteboard;
class SyncStateProvider;
class Workspace;

// The file-manager extension. It runs inside the file manager's process, which creates one and
// keeps it; it shares with the application only the app-group suite "group.com.corvane.app"
// (through SyncStateProvider::shared() and the key "serverURL") and distributed notifications.
//
// It watches the sync folder, registers one badge image per SyncBadge, answers badge requests
// from the shared store, offers a menu with "Copy Corvane Link", "Share with..." and "View on
// Corvane Web", and observes "com.corvane.syncStateChanged" and "com.corvane.shareLinkReady".
// It keeps no state of its own: every handler reads the suite afresh.
//
// The controller, pasteboard and workspace are the file manager's and must outlive the
// extension. Main thread only, like the notification handlers it registers.
class CorvaneFinderSync {
public:
    static constexpr const char* kServerURLKey = "serverURL";
    static constexpr const char* kDefaultServerURL = "http://localhost:8080";
    static constexpr const char* kShareLinkReadyNotification = "com.corvane.shareLinkReady";
    static constexpr const char* kCopyLinkNotification = "com.corvane.copyLink";
    static constexpr const char* kShareURLPrefix = "corvane://share?path=";

    // Sets the watched folder, registers the badge images and starts observing, in that order.
    CorvaneFinderSync(FinderSyncController& controller, Pasteboard& pasteboard,
                      Workspace& workspace, std::shared_ptr<DistributedNotificationCenter> center);
    ~CorvaneFinderSync();
    CorvaneFinderSync(const CorvaneFinderSync&) = delete;
    CorvaneFinderSync& operator=(const CorvaneFinderSync&) = delete;

    // Sets the stored badge of `path` (`synced` when it has none) as its badge identifier.
    void requestBadgeIdentifier(const std::string& path);

    std::string toolbarItemName() const;
    std::string toolbarItemToolTip() const;
    FinderSyncController::Image toolbarItemImage() const;
    // A new menu at every call; the same for every kind.
    FinderSyncController::Menu menu(FinderSyncController::MenuKind kind) const;

    // Watches the sync folder again, when there is one.
    void syncStateChanged();
    // Puts the notification's "link" on the pasteboard, when it has one.
    void shareLinkReady(const DistributedNotificationCenter::UserInfo& userInfo);

    // The menu actions; each works on the first selected item and does nothing without one.
    // Puts the item's web link on the pasteboard (when it has one) and posts
    // "com.corvane.copyLink" with its "path".
    void copyLink();
    // Opens "corvane://share?path=" followed by the item's path, percent-encoded for a query.
    void shareWith();
    // Opens the item's web link, when it has one.
    void viewOnline();

private:
    std::optional<std::string> firstSelectedItem() const;
    // The server address, then "/files", then the path below the sync folder; nothing when
    // there is no sync folder or `path` is neither the folder nor inside it.
    std::optional<std::string> webLink(const std::string& path) const;
    void watchSyncDirectory();

    SyncStateProvider& m_stateProvider;
    FinderSyncController& m_controller;
    Pasteboard& m_pasteboard;
    Workspace& m_workspace;
    const std::shared_ptr<DistributedNotificationCenter> m_center;
    std::unique_ptr<DistributedNotificationCenter::Observation> m_syncStateObservation;
    std::unique_ptr<DistributedNotificationCenter::Observation> m_shareLinkObservation;
};

}  // namespace corvane
