#include "Sync/SyncStatus.h"

#include <array>
#include <utility>

namespace corvane {
namespace {

constexpr std::array<std::pair<SyncStatus, std::string_view>, 5> kTexts{{
    {SyncStatus::idle, "Up to date"},
    {SyncStatus::syncing, "Syncing..."},
    {SyncStatus::error, "Sync Error"},
    {SyncStatus::offline, "Offline"},
    {SyncStatus::paused, "Paused"},
}};

}  // namespace

std::string_view displayText(SyncStatus status)
{
    for (const auto& [value, text] : kTexts) {
        if (value == status) {
            return text;
        }
    }
    return {};
}

std::optional<SyncStatus> syncStatusFromText(std::string_view text)
{
    for (const auto& [value, candidate] : kTexts) {
        if (candidate == text) {
            return value;
        }
    }
    return std::nullopt;
}

std::ostream& operator<<(std::ostream& out, SyncStatus status)
{
    return out << displayText(status);
}

}  // namespace corvane
