#pragma once

#include <functional>

#include "Nautilus/NautilusTranslation.h"

typedef struct _GList GList;

namespace corvane {

// Turns a menu description into Nautilus menu items. Main thread only.
class NautilusMenuBuilder {
public:
    using Activate = std::function<void(FinderSyncController::MenuAction)>;

    // A list of one NautilusMenuItem (the menu's title) whose submenu holds the action items,
    // each calling `activate` with its action when chosen; null for a menu without items.
    // The caller owns the list (nautilus_menu_item_list_free), as Nautilus expects of a
    // provider.
    static GList* build(const NautilusTranslation::Menu& menu, const Activate& activate);
};

}  // namespace corvane
