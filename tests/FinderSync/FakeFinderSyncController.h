#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Platform/FinderSyncController.h"

namespace corvane::test {

// Records what the extension tells the file manager; the test sets the selection.
class FakeFinderSyncController final : public FinderSyncController {
public:
    struct BadgeImage {
        Image image;
        std::string label;
        std::string identifier;

        bool operator==(const BadgeImage&) const = default;
    };

    void setWatchedFolders(const std::set<std::string>& folders) override
    {
        watchedFolders.push_back(folders);
        calls.push_back("setWatchedFolders");
    }
    void setBadgeImage(const Image& image, const std::string& label,
                       const std::string& badgeIdentifier) override
    {
        badgeImages.push_back({image, label, badgeIdentifier});
        calls.push_back("setBadgeImage " + badgeIdentifier);
    }
    void setBadgeIdentifier(const std::string& badgeIdentifier, const std::string& path) override
    {
        badgeIdentifiers[path] = badgeIdentifier;
    }
    std::vector<std::string> selectedItems() const override { return selection; }

    std::vector<std::string> calls;
    std::vector<std::set<std::string>> watchedFolders;  // every call, in order
    std::vector<BadgeImage> badgeImages;
    std::map<std::string, std::string> badgeIdentifiers;
    std::vector<std::string> selection;
};

}  // namespace corvane::test
