#include "Sync/SyncStatus.h"

#include "Models/EnumTexts.h"

namespace corvane {
namespace {

constexpr EnumTexts<SyncStatus, 5> kTexts{{
    {SyncStatus::idle, "Up to date"},
    {SyncStatus::syncing, "Syncing..."},
    {SyncStatus::error, "Sync Error"},
    {SyncStatus::offline, "Offline"},
    {SyncStatus::paused, "Paused"},
}};

}  // namespace

std::string_view displayText(SyncStatus status)
{
    return textOf(kTexts, status).value_or(std::string_view{});
}

std::optional<SyncStatus> syncStatusFromText(std::string_view text)
{
    return valueOf(kTexts, text);
}

std::ostream& operator<<(std::ostream& out, SyncStatus status)
{
    return out << displayText(status);
}

}  // namespace corvane
