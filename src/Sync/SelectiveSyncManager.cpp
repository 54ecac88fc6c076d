#include "Sync/SelectiveSyncManager.h"

#include <string_view>
#include <vector>

#include "Platform/Unicode.h"
#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

std::vector<std::string> storedPaths()
{
    return UserDefaults::standard()
        ->stringArray(SelectiveSyncManager::kStorageKey)
        .value_or(std::vector<std::string>{});
}

// `path` is `folder` or lies beneath it; both in NFC form.
bool isAtOrBeneath(std::string_view path, std::string_view folder)
{
    if (!path.starts_with(folder)) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == '/';
}

// Keeps the first of canonically equivalent spellings, as the stored array is read as a set of
// texts that compare under canonical equivalence.
template <typename Range>
std::set<std::string> canonicalSet(const Range& paths)
{
    std::set<std::string> result;
    std::set<std::string> seen;
    for (const std::string& path : paths) {
        if (seen.insert(Unicode::nfc(path)).second) {
            result.insert(path);
        }
    }
    return result;
}

}  // namespace

std::set<std::string> SelectiveSyncManager::excludedPaths() const
{
    return canonicalSet(storedPaths());
}

void SelectiveSyncManager::setExcludedPaths(const std::set<std::string>& paths)
{
    const std::set<std::string> unique = canonicalSet(paths);
    UserDefaults::standard()->setStringArray(
        kStorageKey, std::vector<std::string>(unique.begin(), unique.end()));
}

bool SelectiveSyncManager::isExcluded(const std::string& path) const
{
    const std::string wanted = Unicode::nfc(path);
    for (const std::string& excluded : storedPaths()) {
        if (isAtOrBeneath(wanted, Unicode::nfc(excluded))) {
            return true;
        }
    }
    return false;
}

void SelectiveSyncManager::exclude(const std::string& path)
{
    std::lock_guard lock(m_changeMutex);
    std::set<std::string> paths = excludedPaths();
    const std::string wanted = Unicode::nfc(path);
    bool present = false;
    for (const std::string& excluded : paths) {
        present = present || Unicode::nfc(excluded) == wanted;
    }
    if (!present) {
        paths.insert(path);
    }
    setExcludedPaths(paths);
}

void SelectiveSyncManager::include(const std::string& path)
{
    std::lock_guard lock(m_changeMutex);
    std::set<std::string> paths = excludedPaths();
    const std::string folder = Unicode::nfc(path);
    std::erase_if(paths, [&](const std::string& excluded) {
        return isAtOrBeneath(Unicode::nfc(excluded), folder);
    });
    setExcludedPaths(paths);
}

}  // namespace corvane
