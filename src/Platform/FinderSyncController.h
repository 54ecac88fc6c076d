#pragma once

#include <set>
#include <string>
#include <vector>

namespace corvane {

// What the file-manager extension asks of its file manager: which folders to watch, the images
// of its badge identifiers, the badge of each path it is asked about, and which items the user
// selected. A host implements it on a real file manager; tests use a fake. Images are
// freedesktop icon-theme names. Paths are absolute, without a trailing "/".
//
// Implementations are called on the main thread only.
class FinderSyncController {
public:
    // An image of the extension: an icon-theme name with the text that describes it to
    // assistive technology. A template image takes the colour of its surroundings.
    struct Image {
        std::string iconName;
        std::string accessibilityDescription;
        bool isTemplate = false;

        bool operator==(const Image&) const = default;
    };

    // The extension's operations a menu item can trigger.
    enum class MenuAction { copyLink, shareWith, viewOnline };

    // Where the file manager shows the menu.
    enum class MenuKind {
        contextualMenuForItems,
        contextualMenuForContainer,
        contextualMenuForSidebar,
        toolbarItemMenu
    };

    struct MenuItem {
        enum class Kind { action, separator };

        Kind kind = Kind::action;
        std::string title;
        std::string iconName;
        MenuAction action = MenuAction::copyLink;  // meaningless for a separator
        std::string keyEquivalent;

        bool operator==(const MenuItem&) const = default;
    };

    struct Menu {
        std::string title;
        std::vector<MenuItem> items;

        bool operator==(const Menu&) const = default;
    };

    virtual ~FinderSyncController() = default;

    // The folders whose contents the extension badges and offers its menu for.
    virtual void setWatchedFolders(const std::set<std::string>& folders) = 0;
    virtual void setBadgeImage(const Image& image, const std::string& label,
                               const std::string& badgeIdentifier) = 0;
    virtual void setBadgeIdentifier(const std::string& badgeIdentifier,
                                    const std::string& path) = 0;
    // The selected items, in the order the file manager gives them; empty when there are none.
    virtual std::vector<std::string> selectedItems() const = 0;
};

}  // namespace corvane
