#include "FinderSync/FinderSyncProtocol.h"

#include "FinderSync/BadgeStore.h"
#include "Models/EnumTexts.h"
#include "Models/JsonCoding.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/UserDefaults.h"

namespace corvane {
namespace {

constexpr EnumTexts<SyncBadge, 4> kRawValues{{
    {SyncBadge::synced, "synced"},
    {SyncBadge::syncing, "syncing"},
    {SyncBadge::error, "error"},
    {SyncBadge::ignored, "ignored"},
}};

// A FileSyncState's keys, each named once for encoding and decoding.
constexpr const char* kPathKey = "path";
constexpr const char* kBadgeKey = "badge";

}  // namespace

std::string_view rawValue(SyncBadge badge)
{
    return textOf(kRawValues, badge).value_or("synced");
}

std::optional<SyncBadge> syncBadgeFromRawValue(std::string_view raw)
{
    return valueOf(kRawValues, raw);
}

std::ostream& operator<<(std::ostream& out, SyncBadge badge)
{
    return out << rawValue(badge);
}

void encodeJson(nlohmann::json& out, const FileSyncState& state)
{
    out = nlohmann::json::object();
    putRequired(out, kPathKey, state.path);
    putRequired(out, kBadgeKey, std::string(rawValue(state.badge)));
}

FileSyncState decodeJson(const JsonReader& reader, std::type_identity<FileSyncState>)
{
    reader.expectObject();
    FileSyncState state;
    state.path = reader.required<std::string>(kPathKey);
    const auto raw = reader.required<std::string>(kBadgeKey);
    const auto badge = syncBadgeFromRawValue(raw);
    if (!badge) {
        throw DecodingError::dataCorrupted(
            "Cannot initialize SyncBadge from invalid String value " + raw);
    }
    state.badge = *badge;
    return state;
}

SyncStateProvider& SyncStateProvider::shared()
{
    static SyncStateProvider provider;
    return provider;
}

std::shared_ptr<UserDefaults> SyncStateProvider::defaults()
{
    return UserDefaults::suite(kSuiteName);
}

std::optional<BadgeStore> SyncStateProvider::badges()
{
    return BadgeStore::ofSuite(kSuiteName);
}

std::shared_ptr<UserDefaults> SyncStateProvider::freshDefaults()
{
    auto suite = defaults();
    if (suite) {
        // A suite only looks at its file every few milliseconds. The extension reads right
        // after an announcement, often moments after its previous read, and must find the
        // badge that the announcement is about rather than the one it saw before. Looking is
        // cheap; reading a large map again happens at most once per change and pause.
        suite->synchronize();
    }
    return suite;
}

std::optional<std::string> SyncStateProvider::syncDirectory() const
{
    const auto suite = freshDefaults();
    return suite ? suite->string(kSyncDirKey) : std::nullopt;
}

void SyncStateProvider::setSyncDirectory(const std::optional<std::string>& path)
{
    const auto suite = defaults();
    if (!suite) {
        return;
    }
    if (path) {
        suite->setString(kSyncDirKey, *path);
    } else {
        suite->remove(kSyncDirKey);
    }
}

void SyncStateProvider::setBadge(const std::string& path, SyncBadge badge)
{
    auto store = badges();
    if (store) {
        store->setBadge(path, badge);
    }
    notifyFinderExtension(store);
}

void SyncStateProvider::setBadges(const std::map<std::string, SyncBadge>& badges)
{
    auto store = SyncStateProvider::badges();
    if (store) {
        store->setBadges(badges);
    }
    notifyFinderExtension(store);
}

SyncBadge SyncStateProvider::getBadge(const std::string& path) const
{
    auto store = badges();
    if (!store) {
        return SyncBadge::synced;
    }
    // Looked at now rather than at the file's next periodic check (see freshDefaults()).
    store->synchronize();
    return store->badge(path).value_or(SyncBadge::synced);
}

void SyncStateProvider::clearAll()
{
    auto store = badges();
    if (store) {
        store->clear();
    }
    notifyFinderExtension(store);
}

void SyncStateProvider::flush()
{
    if (auto store = badges()) {
        store->flush();
    }
}

void SyncStateProvider::notifyFinderExtension(std::optional<BadgeStore>& store)
{
    // The center goes with the callback: one still waiting at exit runs when the settings are
    // written on the way out, after the process's own center may already be gone.
    const auto post = [center = DistributedNotificationCenter::defaultCenter()] {
        center->post(kChangedNotification);
    };
    if (!store) {
        post();
        return;
    }
    // Announced once the file holds the change, so that the extension reads the new badge.
    store->whenPersisted(kChangedNotification, post);
}

}  // namespace corvane
