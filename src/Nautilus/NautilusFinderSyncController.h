#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Nautilus/GWeakObjectRef.h"
#include "Platform/FinderSyncController.h"

typedef struct _NautilusFileInfo NautilusFileInfo;

namespace corvane {

// The extension's controller inside Nautilus. It keeps what the extension registers (watched
// folders, badge images), hands the badge identifier of one file back to the request that asked
// for it, and remembers the files Nautilus has shown, without keeping them alive, so that a
// change makes Nautilus ask for their badges again. Main thread only.
class NautilusFinderSyncController final : public FinderSyncController {
public:
    // A change of folders makes Nautilus ask again about the shown files in the old and the
    // new folders.
    void setWatchedFolders(const std::set<std::string>& folders) override;
    void setBadgeImage(const Image& image, const std::string& label,
                       const std::string& badgeIdentifier) override;
    // Taken only for the path whose request runs (see badgeIdentifierFor()): Nautilus has no
    // store of badges to set one in at another time.
    void setBadgeIdentifier(const std::string& badgeIdentifier, const std::string& path) override;
    std::vector<std::string> selectedItems() const override;

    const std::set<std::string>& watchedFolders() const { return m_watchedFolders; }
    const std::map<std::string, Image>& badgeImages() const { return m_badgeImages; }
    void setSelectedItems(std::vector<std::string> paths);

    // Runs `request`, which asks the extension for the badge of `path`, and returns the
    // identifier it set for `path`; nothing when it set none.
    std::optional<std::string> badgeIdentifierFor(const std::string& path,
                                                  const std::function<void()>& request);

    // Remembers that Nautilus shows `file` at `path`.
    void noteShown(NautilusFileInfo* file, const std::string& path);
    // Makes Nautilus ask again about the shown files inside the watched folders.
    void badgesChanged();
    // The shown files still alive (for tests).
    std::size_t shownCount() const;

private:
    void invalidateShown(const std::set<std::string>& folders);
    void forgetGoneFiles();

    std::set<std::string> m_watchedFolders;
    std::map<std::string, Image> m_badgeImages;
    std::vector<std::string> m_selection;
    std::optional<std::string> m_requestPath;
    std::optional<std::string> m_requestIdentifier;
    std::map<std::string, GWeakObjectRef> m_shown;
    std::size_t m_pruneAt = 256;
};

}  // namespace corvane
