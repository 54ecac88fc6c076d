#include "Nautilus/NautilusFinderSyncController.h"

#include <algorithm>
#include <utility>

#include "Nautilus/NautilusExtensionApi.h"
#include "Nautilus/NautilusTranslation.h"

namespace corvane {
namespace {

constexpr std::size_t kMinimumPruneSize = 256;

}  // namespace

void NautilusFinderSyncController::setWatchedFolders(const std::set<std::string>& folders)
{
    if (folders == m_watchedFolders) {
        return;
    }
    std::set<std::string> affected = m_watchedFolders;
    affected.insert(folders.begin(), folders.end());
    m_watchedFolders = folders;
    invalidateShown(affected);
}

void NautilusFinderSyncController::setBadgeImage(const Image& image, const std::string&,
                                                 const std::string& badgeIdentifier)
{
    m_badgeImages.insert_or_assign(badgeIdentifier, image);
}

void NautilusFinderSyncController::setBadgeIdentifier(const std::string& badgeIdentifier,
                                                      const std::string& path)
{
    if (m_requestPath == path) {
        m_requestIdentifier = badgeIdentifier;
    }
}

std::vector<std::string> NautilusFinderSyncController::selectedItems() const
{
    return m_selection;
}

void NautilusFinderSyncController::setSelectedItems(std::vector<std::string> paths)
{
    m_selection = std::move(paths);
}

std::optional<std::string>
NautilusFinderSyncController::badgeIdentifierFor(const std::string& path,
                                                 const std::function<void()>& request)
{
    m_requestPath = path;
    m_requestIdentifier.reset();
    request();
    m_requestPath.reset();
    return std::exchange(m_requestIdentifier, std::nullopt);
}

void NautilusFinderSyncController::noteShown(NautilusFileInfo* file, const std::string& path)
{
    const auto known = m_shown.find(path);
    if (known != m_shown.end()) {
        if (known->second.get().get() == G_OBJECT(file)) {
            return;
        }
        m_shown.erase(known);
    }
    m_shown.try_emplace(path, file);
    // Files Nautilus has let go are forgotten now and then, so the map follows what is shown.
    if (m_shown.size() >= m_pruneAt) {
        forgetGoneFiles();
        m_pruneAt = std::max(kMinimumPruneSize, 2 * m_shown.size());
    }
}

void NautilusFinderSyncController::badgesChanged()
{
    invalidateShown(m_watchedFolders);
}

std::size_t NautilusFinderSyncController::shownCount() const
{
    return static_cast<std::size_t>(
        std::count_if(m_shown.begin(), m_shown.end(),
                      [](const auto& entry) { return entry.second.get() != nullptr; }));
}

void NautilusFinderSyncController::invalidateShown(const std::set<std::string>& folders)
{
    // Collected first: invalidating may make Nautilus ask again at once, which changes m_shown.
    std::vector<GObjectPtr<GObject>> stale;
    for (auto entry = m_shown.begin(); entry != m_shown.end();) {
        auto file = entry->second.get();
        if (!file) {
            entry = m_shown.erase(entry);
            continue;
        }
        if (NautilusTranslation::isInsideAnyFolder(entry->first, folders)) {
            stale.push_back(std::move(file));
        }
        ++entry;
    }
    for (const auto& file : stale) {
        nautilus_file_info_invalidate_extension_info(NAUTILUS_FILE_INFO(file.get()));
    }
}

void NautilusFinderSyncController::forgetGoneFiles()
{
    std::erase_if(m_shown, [](const auto& entry) { return entry.second.get() == nullptr; });
}

}  // namespace corvane
