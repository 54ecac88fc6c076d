#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include <nlohmann/json_fwd.hpp>

namespace corvane {

class JsonReader;

// What an entry of the activity feed records. Raw values: "upload", "download", "delete",
// "conflict", "share" (`delete_` because `delete` is a keyword).
enum class ActivityType { upload, download, delete_, conflict, share };
// Raw values: "in_progress", "completed", "failed".
enum class ActivityStatus { inProgress, completed, failed };

std::string_view rawValue(ActivityType type);
std::string_view rawValue(ActivityStatus status);
// The case whose raw value is exactly `raw`, or nothing.
std::optional<ActivityType> activityTypeFromRawValue(std::string_view raw);
std::optional<ActivityStatus> activityStatusFromRawValue(std::string_view raw);
// The symbol name shown beside entries of this type ("arrow.up.circle", ...).
std::string_view icon(ActivityType type);

std::ostream& operator<<(std::ostream& out, ActivityType type);
std::ostream& operator<<(std::ostream& out, ActivityStatus status);

// One entry of the activity feed: a transfer in flight or finished, or a single file event.
// Entries are identified by `id`; the feed finds them by it. Build it with every field in
// declaration order; `errorMessage` may be left out. A plain value: any thread may use its own
// copy.
struct ActivityItem {
    std::string id;
    ActivityType type = ActivityType::upload;
    std::string fileName;  // last component of the path, for display
    std::string filePath;
    ActivityStatus status = ActivityStatus::inProgress;
    double progress = 0;  // fraction done, nominally 0 to 1 (not clamped)
    std::int64_t bytesTransferred = 0;
    std::int64_t totalBytes = 0;                      // 0 when not known
    std::chrono::system_clock::time_point timestamp;  // when the entry was created
    std::optional<std::string> errorMessage;          // only for a failed entry

    std::string_view icon() const { return corvane::icon(type); }
    // "In progress...", "42% - 1.5 MB / 3.6 MB", "Completed", the error message or "Failed".
    std::string statusText() const;

    bool operator==(const ActivityItem&) const = default;
};

// A byte count the way files are sized for people: decimal multiples (1 KB = 1000 bytes), at
// most one decimal below 100 of a unit: "0 bytes", "1 byte", "999 bytes", "1 KB", "1.5 MB",
// "12.3 GB", "250 MB".
std::string formattedBytes(std::int64_t bytes);

// JSON: {"id", "type", "fileName", "filePath", "status", "progress", "bytesTransferred",
// "totalBytes", "timestamp", "errorMessage"}, the enumerations as raw values, "errorMessage" left
// out when absent, the timestamp as ISO 8601 UTC text with milliseconds
// ("2024-05-01T09:30:00.250Z"; decoding accepts 0 to 9 fraction digits).
void encodeJson(nlohmann::json& out, const ActivityItem& item);
ActivityItem decodeJson(const JsonReader& reader, std::type_identity<ActivityItem>);

// Test and log output: the item as JSON text.
std::ostream& operator<<(std::ostream& out, const ActivityItem& item);

}  // namespace corvane
