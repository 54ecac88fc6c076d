#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace corvane {

// The client's overall sync status. The display text is also the status's raw value.
enum class SyncStatus { idle, syncing, error, offline, paused };

std::string_view displayText(SyncStatus status);
// The status whose display text is exactly `text`, or nothing.
std::optional<SyncStatus> syncStatusFromText(std::string_view text);

std::ostream& operator<<(std::ostream& out, SyncStatus status);

}  // namespace corvane
