#include "Nautilus/NautilusTranslation.h"

#include <algorithm>
#include <string_view>

#include "Platform/Unicode.h"

namespace corvane {
namespace {

constexpr std::string_view kNamePrefix = "CorvaneFinderSync::";
constexpr std::string_view kEmblemPrefix = "emblem-";

}  // namespace

std::optional<std::string> NautilusTranslation::emblemName(
    const std::map<std::string, FinderSyncController::Image>& badgeImages,
    const std::string& badgeIdentifier)
{
    const auto image = badgeImages.find(badgeIdentifier);
    if (image == badgeImages.end() || image->second.iconName.empty()) {
        return std::nullopt;
    }
    const std::string& icon = image->second.iconName;
    if (icon.size() > kEmblemPrefix.size() && icon.starts_with(kEmblemPrefix)) {
        return icon.substr(kEmblemPrefix.size());
    }
    return icon;
}

NautilusTranslation::Menu NautilusTranslation::describeMenu(const FinderSyncController::Menu& menu)
{
    Menu described{std::string(kNamePrefix) + "menu", menu.title, {}};
    for (const auto& item : menu.items) {
        if (item.kind == FinderSyncController::MenuItem::Kind::separator) {
            continue;
        }
        described.items.push_back({itemName(item.action), item.title, item.iconName, item.action});
    }
    return described;
}

std::string NautilusTranslation::itemName(MenuAction action)
{
    switch (action) {
    case MenuAction::copyLink:
        return std::string(kNamePrefix) + "copyLink";
    case MenuAction::shareWith:
        return std::string(kNamePrefix) + "shareWith";
    case MenuAction::viewOnline:
        return std::string(kNamePrefix) + "viewOnline";
    }
    return std::string(kNamePrefix) + "unknown";
}

bool NautilusTranslation::isInsideAnyFolder(const std::string& path,
                                            const std::set<std::string>& folders)
{
    return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
        return !folder.empty() && Unicode::pathBelow(path, folder);
    });
}

}  // namespace corvane
