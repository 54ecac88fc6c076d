#include "Nautilus/NautilusHost.h"

#include <algorithm>
#include <utility>

#include "FinderSync/BadgeStore.h"
#include "FinderSync/FinderSyncExtension.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Nautilus/GLibDeleter.h"
#include "Nautilus/NautilusExtensionApi.h"
#include "Nautilus/NautilusMenuBuilder.h"
#include "Nautilus/NautilusTranslation.h"
#include "Platform/MainQueue.h"
#include "Platform/Pasteboard.h"
#include "Platform/Workspace.h"

namespace corvane {

using MenuAction = FinderSyncController::MenuAction;
using MenuKind = FinderSyncController::MenuKind;

NautilusHost::NautilusHost(std::shared_ptr<DistributedNotificationCenter> center,
                           std::unique_ptr<Pasteboard> pasteboard,
                           std::unique_ptr<Workspace> workspace)
    : m_center(std::move(center)), m_pasteboard(std::move(pasteboard)),
      m_workspace(std::move(workspace)), m_self(std::make_shared<NautilusHost*>(this))
{
    m_extension =
        std::make_unique<CorvaneFinderSync>(m_controller, *m_pasteboard, *m_workspace, m_center);
    m_badgeObservation = m_center->observe(SyncStateProvider::kChangedNotification,
                                           [this](auto&&...) { badgesChanged(); });
}

NautilusHost::~NautilusHost()
{
    m_badgeObservation.reset();
    m_extension.reset();
}

std::optional<std::string> NautilusHost::localPath(NautilusFileInfo* file)
{
    if (!file) {
        return std::nullopt;
    }
    const GObjectPtr<GFile> location(nautilus_file_info_get_location(file));
    if (!location) {
        return std::nullopt;
    }
    const GCharPtr path(g_file_get_path(location.get()));
    if (!path) {
        return std::nullopt;
    }
    return std::string(path.get());
}

void NautilusHost::updateFileInfo(NautilusFileInfo* file)
{
    const auto path = localPath(file);
    if (!path) {
        return;
    }
    m_controller.noteShown(file, *path);
    if (!NautilusTranslation::isInsideAnyFolder(*path, m_controller.watchedFolders())) {
        return;
    }
    const auto identifier =
        m_controller.badgeIdentifierFor(*path, [&] { m_extension->requestBadgeIdentifier(*path); });
    if (!identifier) {
        return;
    }
    if (const auto emblem =
            NautilusTranslation::emblemName(m_controller.badgeImages(), *identifier)) {
        nautilus_file_info_add_emblem(file, emblem->c_str());
    }
}

GList* NautilusHost::fileItems(GList* files)
{
    std::vector<std::string> paths;
    for (GList* node = files; node; node = node->next) {
        const auto path = localPath(NAUTILUS_FILE_INFO(node->data));
        if (!path) {
            return nullptr;
        }
        paths.push_back(*path);
    }
    return menuFor(paths, paths, MenuKind::contextualMenuForItems);
}

GList* NautilusHost::backgroundItems(NautilusFileInfo* folder)
{
    const auto path = localPath(folder);
    if (!path) {
        return nullptr;
    }
    // The empty space of a folder has no selected item, and the extension's actions work on
    // the selection alone: here, as without a selection anywhere, they do nothing.
    return menuFor({*path}, {}, MenuKind::contextualMenuForContainer);
}

GList* NautilusHost::menuFor(const std::vector<std::string>& shown,
                             std::vector<std::string> selection, MenuKind kind)
{
    const auto& watched = m_controller.watchedFolders();
    if (shown.empty() || !std::all_of(shown.begin(), shown.end(), [&](const std::string& path) {
            return NautilusTranslation::isInsideAnyFolder(path, watched);
        })) {
        return nullptr;
    }
    const std::weak_ptr<NautilusHost*> self = m_self;
    return NautilusMenuBuilder::build(NautilusTranslation::describeMenu(m_extension->menu(kind)),
                                      [self, selection = std::move(selection)](MenuAction action) {
                                          if (const auto host = self.lock()) {
                                              (*host)->perform(action, selection);
                                          }
                                      });
}

void NautilusHost::badgesChanged()
{
    // The file holds the change already; read it before Nautilus asks again.
    auto badges = BadgeStore::ofSuite(SyncStateProvider::kSuiteName);
    if (badges && !badges->synchronize()) {
        badgesChangedLater();
        return;
    }
    m_controller.badgesChanged();
}

void NautilusHost::badgesChangedLater()
{
    if (std::exchange(m_badgesChangedLater, true)) {
        return;
    }
    const std::weak_ptr<NautilusHost*> self = m_self;
    m_laterQueue.asyncAfter(BadgeStore::kMaxReloadPause, [self] {
        MainQueue::async([self] {
            const auto host = self.lock();
            if (!host) {
                return;
            }
            (*host)->m_badgesChangedLater = false;
            // The extension's own handler looked at the file while the change waited, too.
            (*host)->m_extension->syncStateChanged();
            (*host)->badgesChanged();
        });
    });
}

void NautilusHost::perform(MenuAction action, const std::vector<std::string>& paths)
{
    // The selection is the one the menu was made for, whatever Nautilus shows by now.
    m_controller.setSelectedItems(paths);
    switch (action) {
    case MenuAction::copyLink:
        m_extension->copyLink();
        break;
    case MenuAction::shareWith:
        m_extension->shareWith();
        break;
    case MenuAction::viewOnline:
        m_extension->viewOnline();
        break;
    }
    m_controller.setSelectedItems({});
}

}  // namespace corvane
