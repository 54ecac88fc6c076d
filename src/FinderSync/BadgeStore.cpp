#include "FinderSync/BadgeStore.h"

#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "Platform/Unicode.h"
#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

// The map's key for `path`, derived alike by writers and readers: its NFC form, so that
// equivalent spellings meet, and for a name that is not UTF-8 (a Linux file name can be any
// bytes) its stray bytes escaped. The file holds UTF-8 only, so unescaped they would be written
// as replacement characters, under which a reader asking with the real name finds nothing and
// names that differ only in those bytes share one entry.
std::string badgeKey(std::string_view path)
{
    return Unicode::nfc(Unicode::escapedUTF8(path));
}

}  // namespace

std::optional<BadgeStore> BadgeStore::ofSuite(const std::string& suiteName)
{
    const auto file = UserDefaults::suiteFile(suiteName);
    if (!file) {
        return std::nullopt;
    }
    return BadgeStore(SettingsFile::shared(*file));
}

BadgeStore::BadgeStore(std::shared_ptr<SettingsFile> file) : m_file(std::move(file)) {}

BadgeStore::BadgeStore(const std::filesystem::path& file)
    : BadgeStore(std::make_shared<SettingsFile>(file))
{
}

std::optional<SyncBadge> BadgeStore::badge(const std::string& path) const
{
    const std::string key = badgeKey(path);
    std::optional<SyncBadge> result;
    m_file->read([&](const SettingsFile::Values& values) {
        const nlohmann::json* map = values.stringDictionary(SyncStateProvider::kStateKey);
        if (!map) {
            return;
        }
        if (const auto entry = map->find(key); entry != map->end()) {
            result = syncBadgeFromRawValue(entry->get_ref<const std::string&>());
        }
    });
    return result;
}

void BadgeStore::setBadge(const std::string& path, SyncBadge badge)
{
    const std::string key = badgeKey(path);
    m_file->write(SyncStateProvider::kStateKey, [&](SettingsFile::Values& values) {
        values.stringDictionaryToChange(SyncStateProvider::kStateKey)[key] =
            std::string(rawValue(badge));
    });
}

void BadgeStore::setBadges(const std::map<std::string, SyncBadge>& badges)
{
    std::map<std::string, std::string> entries;
    for (const auto& [path, badge] : badges) {
        entries.insert_or_assign(badgeKey(path), std::string(rawValue(badge)));
    }
    m_file->write(SyncStateProvider::kStateKey, [&](SettingsFile::Values& values) {
        nlohmann::json& map = values.stringDictionaryToChange(SyncStateProvider::kStateKey);
        for (const auto& [key, raw] : entries) {
            map[key] = raw;
        }
    });
}

void BadgeStore::clear()
{
    m_file->write(SyncStateProvider::kStateKey,
                  [](SettingsFile::Values& values) { values.erase(SyncStateProvider::kStateKey); });
}

void BadgeStore::whenPersisted(const std::string& tag, std::function<void()> callback)
{
    m_file->whenPersisted(tag, std::move(callback));
}

void BadgeStore::flush()
{
    m_file->flush();
}

bool BadgeStore::synchronize()
{
    return m_file->synchronize();
}

}  // namespace corvane
