#include "Models/ActivityItem.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <utility>

#include "Models/EnumTexts.h"
#include "Models/JsonCoding.h"

namespace corvane {
namespace {

constexpr EnumTexts<ActivityType, 5> kTypeRawValues{{
    {ActivityType::upload, "upload"},
    {ActivityType::download, "download"},
    {ActivityType::delete_, "delete"},
    {ActivityType::conflict, "conflict"},
    {ActivityType::share, "share"},
}};

constexpr EnumTexts<ActivityType, 5> kIcons{{
    {ActivityType::upload, "arrow.up.circle"},
    {ActivityType::download, "arrow.down.circle"},
    {ActivityType::delete_, "trash.circle"},
    {ActivityType::conflict, "exclamationmark.triangle"},
    {ActivityType::share, "person.2.circle"},
}};

constexpr EnumTexts<ActivityStatus, 3> kStatusRawValues{{
    {ActivityStatus::inProgress, "in_progress"},
    {ActivityStatus::completed, "completed"},
    {ActivityStatus::failed, "failed"},
}};

// The text of `value`, or the table's first for a value it does not list.
template <typename Enum, std::size_t N>
std::string_view lookUp(const EnumTexts<Enum, N>& table, Enum value)
{
    return textOf(table, value).value_or(table.front().second);
}

// A number with at most one decimal, without a trailing ".0".
std::string oneDecimal(double value)
{
    std::array<char, 32> text{};
    const double rounded = std::round(value * 10) / 10;
    if (rounded == std::trunc(rounded)) {
        std::snprintf(text.data(), text.size(), "%.0f", rounded);
    } else {
        std::snprintf(text.data(), text.size(), "%.1f", rounded);
    }
    return text.data();
}

using Milliseconds = std::chrono::milliseconds;

std::string isoTimestamp(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto millis = floor<Milliseconds>(time);
    const auto day = floor<days>(millis);
    const year_month_day date(day);
    const hh_mm_ss clock(millis - day);
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<int>(clock.subseconds().count()));
    return text.data();
}

// Reads `count` decimal digits at `position`, advancing it.
std::optional<int> digits(std::string_view text, std::size_t& position, std::size_t count)
{
    if (position + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[position + i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    position += count;
    return value;
}

bool expect(std::string_view text, std::size_t& position, char c)
{
    if (position >= text.size() || text[position] != c) {
        return false;
    }
    ++position;
    return true;
}

// "YYYY-MM-DDTHH:MM:SS[.fraction]Z", UTC.
std::optional<std::chrono::system_clock::time_point> parseIsoTimestamp(std::string_view text)
{
    using namespace std::chrono;
    std::size_t at = 0;
    const auto y = digits(text, at, 4);
    if (!y || !expect(text, at, '-')) {
        return std::nullopt;
    }
    const auto mo = digits(text, at, 2);
    if (!mo || !expect(text, at, '-')) {
        return std::nullopt;
    }
    const auto d = digits(text, at, 2);
    if (!d || !expect(text, at, 'T')) {
        return std::nullopt;
    }
    const auto h = digits(text, at, 2);
    if (!h || !expect(text, at, ':')) {
        return std::nullopt;
    }
    const auto mi = digits(text, at, 2);
    if (!mi || !expect(text, at, ':')) {
        return std::nullopt;
    }
    const auto s = digits(text, at, 2);
    if (!s) {
        return std::nullopt;
    }
    nanoseconds fraction{0};
    if (expect(text, at, '.')) {
        std::int64_t scale = 100000000;
        std::size_t count = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (++count > 9) {
                return std::nullopt;
            }
            fraction += nanoseconds((text[at] - '0') * scale);
            scale /= 10;
            ++at;
        }
        if (count == 0) {
            return std::nullopt;
        }
    }
    if (!expect(text, at, 'Z') || at != text.size()) {
        return std::nullopt;
    }
    const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)),
                              day(static_cast<unsigned>(*d))};
    if (!date.ok() || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    const auto time = sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s) + fraction;
    return time_point_cast<system_clock::duration>(time);
}

template <typename Enum>
Enum decodeRawValue(const JsonReader& reader, std::string_view key, std::string_view typeName,
                    std::optional<Enum> (*fromRaw)(std::string_view))
{
    const auto raw = reader.required<std::string>(key);
    const auto value = fromRaw(raw);
    if (!value) {
        throw DecodingError::dataCorrupted("Cannot initialize " + std::string(typeName) +
                                           " from invalid String value " + raw);
    }
    return *value;
}

}  // namespace

std::string_view rawValue(ActivityType type)
{
    return lookUp(kTypeRawValues, type);
}

std::string_view rawValue(ActivityStatus status)
{
    return lookUp(kStatusRawValues, status);
}

std::optional<ActivityType> activityTypeFromRawValue(std::string_view raw)
{
    return valueOf(kTypeRawValues, raw);
}

std::optional<ActivityStatus> activityStatusFromRawValue(std::string_view raw)
{
    return valueOf(kStatusRawValues, raw);
}

std::string_view icon(ActivityType type)
{
    return lookUp(kIcons, type);
}

std::ostream& operator<<(std::ostream& out, ActivityType type)
{
    return out << rawValue(type);
}

std::ostream& operator<<(std::ostream& out, ActivityStatus status)
{
    return out << rawValue(status);
}

std::string formattedBytes(std::int64_t bytes)
{
    // The magnitude as unsigned, so that the most negative count does not overflow.
    const std::uint64_t magnitude =
        bytes < 0 ? 0 - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);
    const std::string sign = bytes < 0 ? "-" : "";
    if (magnitude < 1000) {
        return sign + std::to_string(magnitude) + (magnitude == 1 ? " byte" : " bytes");
    }
    static constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(magnitude) / 1000;
    std::size_t unit = 0;
    while (unit + 1 < kUnits.size() && value >= 1000) {
        value /= 1000;
        ++unit;
    }
    std::string number = value < 100 ? oneDecimal(value) : oneDecimal(std::round(value));
    if (number == "1000" && unit + 1 < kUnits.size()) {
        // 999.96 KB rounds up to the next unit rather than showing "1000 KB".
        number = "1";
        ++unit;
    }
    return sign + number + " " + kUnits[unit];
}

std::string ActivityItem::statusText() const
{
    switch (status) {
    case ActivityStatus::inProgress: {
        if (totalBytes <= 0) {
            return "In progress...";
        }
        // Cut toward zero, never rounded: 0.999 shows 99%. Printed from the double so that a
        // runaway progress cannot overflow an integer conversion.
        double percent = std::trunc(progress * 100);
        if (percent == 0) {
            percent = 0;  // no "-0%"
        }
        std::array<char, 400> text{};
        std::snprintf(text.data(), text.size(), "%.0f", percent);
        return std::string(text.data()) + "% - " + formattedBytes(bytesTransferred) + " / " +
               formattedBytes(totalBytes);
    }
    case ActivityStatus::completed:
        return "Completed";
    case ActivityStatus::failed:
        return errorMessage.value_or("Failed");
    }
    return "Failed";
}

namespace {

// An item's keys, each named once for encoding and decoding.
namespace key {
constexpr const char* kId = "id";
constexpr const char* kType = "type";
constexpr const char* kFileName = "fileName";
constexpr const char* kFilePath = "filePath";
constexpr const char* kStatus = "status";
constexpr const char* kProgress = "progress";
constexpr const char* kBytesTransferred = "bytesTransferred";
constexpr const char* kTotalBytes = "totalBytes";
constexpr const char* kTimestamp = "timestamp";
constexpr const char* kErrorMessage = "errorMessage";
}  // namespace key

}  // namespace

void encodeJson(nlohmann::json& out, const ActivityItem& item)
{
    out = nlohmann::json::object();
    putRequired(out, key::kId, item.id);
    putRequired(out, key::kType, std::string(rawValue(item.type)));
    putRequired(out, key::kFileName, item.fileName);
    putRequired(out, key::kFilePath, item.filePath);
    putRequired(out, key::kStatus, std::string(rawValue(item.status)));
    putRequired(out, key::kProgress, item.progress);
    putRequired(out, key::kBytesTransferred, item.bytesTransferred);
    putRequired(out, key::kTotalBytes, item.totalBytes);
    putRequired(out, key::kTimestamp, isoTimestamp(item.timestamp));
    putOptional(out, key::kErrorMessage, item.errorMessage);
}

ActivityItem decodeJson(const JsonReader& reader, std::type_identity<ActivityItem>)
{
    reader.expectObject();
    ActivityItem item;
    item.id = reader.required<std::string>(key::kId);
    item.type =
        decodeRawValue<ActivityType>(reader, key::kType, "ActivityType", &activityTypeFromRawValue);
    item.fileName = reader.required<std::string>(key::kFileName);
    item.filePath = reader.required<std::string>(key::kFilePath);
    item.status = decodeRawValue<ActivityStatus>(reader, key::kStatus, "ActivityStatus",
                                                 &activityStatusFromRawValue);
    item.progress = reader.required<double>(key::kProgress);
    item.bytesTransferred = reader.required<std::int64_t>(key::kBytesTransferred);
    item.totalBytes = reader.required<std::int64_t>(key::kTotalBytes);
    const JsonReader timestamp = reader.member(key::kTimestamp);
    const auto time = parseIsoTimestamp(timestamp.string());
    if (!time) {
        throw DecodingError::dataCorrupted("Expected date string to be ISO8601-formatted at " +
                                           timestamp.path());
    }
    item.timestamp = *time;
    item.errorMessage = reader.optional<std::string>(key::kErrorMessage);
    return item;
}

std::ostream& operator<<(std::ostream& out, const ActivityItem& item)
{
    nlohmann::json json;
    encodeJson(json, item);
    // Printing must never fail, so bytes that are not UTF-8 are shown replaced.
    return out << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvane
