#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/FinderSyncController.h"

namespace corvane {

// How the extension's model maps onto what Nautilus can show, as plain values: badge
// identifiers become emblems, the menu model becomes item descriptions. Pure functions;
// thread-safe.
class NautilusTranslation {
public:
    using MenuAction = FinderSyncController::MenuAction;

    struct MenuItem {
        std::string name;  // unique among the extension's items; Nautilus keys items by it
        std::string label;
        std::string icon;
        MenuAction action = MenuAction::copyLink;

        bool operator==(const MenuItem&) const = default;
    };

    // One top-level item carrying the menu's title, with the action items as its submenu.
    struct Menu {
        std::string name;
        std::string label;
        std::vector<MenuItem> items;

        bool operator==(const Menu&) const = default;
    };

    // The emblem name for a badge identifier, from the icon of the image registered for it;
    // nothing for an identifier without one. Nautilus looks an emblem up as "emblem-" plus its
    // name, so an icon of that family is named without the prefix ("emblem-ok-symbolic" is
    // "ok-symbolic"); other icons keep their name.
    static std::optional<std::string>
    emblemName(const std::map<std::string, FinderSyncController::Image>& badgeImages,
               const std::string& badgeIdentifier);

    // Nautilus menus hold items and submenus only: the title becomes the top-level item and
    // separators are dropped.
    static Menu describeMenu(const FinderSyncController::Menu& menu);

    static std::string itemName(MenuAction action);

    // True when `path` is one of `folders` or lies below one ("/home/u/Sync2" is not below
    // "/home/u/Sync"). Canonically equivalent spellings count as equal; a trailing "/" of a
    // folder does not count; an empty folder holds nothing.
    static bool isInsideAnyFolder(const std::string& path, const std::set<std::string>& folders);
};

}  // namespace corvane
