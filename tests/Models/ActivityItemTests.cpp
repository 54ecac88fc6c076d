#include "Models/ActivityItem.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Models/DecodingError.h"
#include "Models/JsonCoding.h"

namespace corvane {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

// 2024-05-01 09:30:00.250 UTC
const system_clock::time_point kMay1 = sys_days{year(2024) / May / 1} + 9h + 30min + 250ms;

ActivityItem transfer(ActivityStatus status, double progress, std::int64_t bytes,
                      std::int64_t total, std::optional<std::string> error = std::nullopt)
{
    return ActivityItem{
        "T1",  ActivityType::upload, "a.txt", "/Docs/a.txt", status, progress, bytes, total,
        kMay1, std::move(error)};
}

TEST(ActivityTypeTest, RawValuesAndIconsBothWays)
{
    struct Case {
        ActivityType type;
        std::string raw;
        std::string icon;
    };
    for (const Case& c : {Case{ActivityType::upload, "upload", "arrow.up.circle"},
                          Case{ActivityType::download, "download", "arrow.down.circle"},
                          Case{ActivityType::delete_, "delete", "trash.circle"},
                          Case{ActivityType::conflict, "conflict", "exclamationmark.triangle"},
                          Case{ActivityType::share, "share", "person.2.circle"}}) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(rawValue(c.type), c.raw);
        EXPECT_EQ(activityTypeFromRawValue(c.raw), c.type);
        EXPECT_EQ(icon(c.type), c.icon);
    }
    for (const char* foreign : {"", "Upload", "delete_", "upload ", "in_progress"}) {
        EXPECT_EQ(activityTypeFromRawValue(foreign), std::nullopt) << foreign;
    }
}

TEST(ActivityStatusTest, RawValuesBothWays)
{
    EXPECT_EQ(rawValue(ActivityStatus::inProgress), "in_progress");
    EXPECT_EQ(rawValue(ActivityStatus::completed), "completed");
    EXPECT_EQ(rawValue(ActivityStatus::failed), "failed");
    EXPECT_EQ(activityStatusFromRawValue("in_progress"), ActivityStatus::inProgress);
    EXPECT_EQ(activityStatusFromRawValue("completed"), ActivityStatus::completed);
    EXPECT_EQ(activityStatusFromRawValue("failed"), ActivityStatus::failed);
    for (const char* foreign : {"", "inProgress", "Completed", "upload"}) {
        EXPECT_EQ(activityStatusFromRawValue(foreign), std::nullopt) << foreign;
    }
}

TEST(FormattedBytesTest, DecimalUnitsWithAtMostOneDecimal)
{
    struct Case {
        std::int64_t bytes;
        std::string text;
    };
    for (const Case& c : {
             Case{0, "0 bytes"},
             Case{1, "1 byte"},
             Case{12, "12 bytes"},
             Case{999, "999 bytes"},
             Case{1000, "1 KB"},
             Case{1024, "1 KB"},
             Case{1500, "1.5 KB"},
             Case{12345, "12.3 KB"},
             Case{99960, "100 KB"},
             Case{123456, "123 KB"},
             Case{999499, "999 KB"},
             Case{999500, "1 MB"},  // never "1000 KB"
             Case{1048576, "1 MB"},
             Case{1500000, "1.5 MB"},
             Case{5242880, "5.2 MB"},
             Case{2500000000, "2.5 GB"},
             Case{std::numeric_limits<std::int64_t>::max(), "9.2 EB"},
             Case{-1500, "-1.5 KB"},
             Case{std::numeric_limits<std::int64_t>::min(), "-9.2 EB"},
         }) {
        EXPECT_EQ(formattedBytes(c.bytes), c.text) << c.bytes;
    }
}

TEST(ActivityItemTest, StatusTexts)
{
    struct Case {
        std::string name;
        ActivityItem item;
        std::string text;
    };
    for (const Case& c : {
             Case{"size unknown", transfer(ActivityStatus::inProgress, 0, 500, 0),
                  "In progress..."},
             Case{"negative size", transfer(ActivityStatus::inProgress, 0.5, 500, -1),
                  "In progress..."},
             Case{"under way", transfer(ActivityStatus::inProgress, 0.5, 750000, 1500000),
                  "50% - 750 KB / 1.5 MB"},
             Case{"cut, not rounded", transfer(ActivityStatus::inProgress, 0.999, 999, 1000),
                  "99% - 999 bytes / 1 KB"},
             Case{"not started", transfer(ActivityStatus::inProgress, 0, 0, 12),
                  "0% - 0 bytes / 12 bytes"},
             Case{"past the total", transfer(ActivityStatus::inProgress, 1.5, 1500, 1000),
                  "150% - 1.5 KB / 1 KB"},
             Case{"runaway progress", transfer(ActivityStatus::inProgress, 1e20, 1, 1),
                  "10000000000000000000000% - 1 byte / 1 byte"},
             Case{"completed", transfer(ActivityStatus::completed, 1, 12, 12), "Completed"},
             Case{"failed without a text", transfer(ActivityStatus::failed, 0.2, 2, 10), "Failed"},
             Case{"failed with a text",
                  transfer(ActivityStatus::failed, 0.2, 2, 10, "Request failed"), "Request failed"},
             Case{"failed with an empty text", transfer(ActivityStatus::failed, 0.2, 2, 10, ""),
                  ""},
         }) {
        EXPECT_EQ(c.item.statusText(), c.text) << c.name;
    }
}

TEST(ActivityItemJsonTest, WritesEveryFieldAndLeavesOutAnAbsentError)
{
    nlohmann::json written;
    encodeJson(written, transfer(ActivityStatus::inProgress, 0.25, 3, 12));
    EXPECT_EQ(written, nlohmann::json::parse(R"({"id":"T1","type":"upload","fileName":"a.txt",
        "filePath":"/Docs/a.txt","status":"in_progress","progress":0.25,"bytesTransferred":3,
        "totalBytes":12,"timestamp":"2024-05-01T09:30:00.250Z"})"));

    ActivityItem failed = transfer(ActivityStatus::failed, 0.25, 3, 12, "");
    failed.type = ActivityType::delete_;
    encodeJson(written, failed);
    EXPECT_EQ(written["errorMessage"], "");
    EXPECT_EQ(written["type"], "delete");
    EXPECT_EQ(written["status"], "failed");
}

TEST(ActivityItemJsonTest, RoundTrips)
{
    for (const ActivityItem& item :
         {transfer(ActivityStatus::failed, 0.5, 5, 10, "Caf\xC3\xA9 \"quoted\""),
          ActivityItem{"E", ActivityType::share, "", "", ActivityStatus::completed, 1, 0, 0,
                       system_clock::time_point{} - 1ms, std::nullopt}}) {
        EXPECT_EQ(decode<ActivityItem>(encode(item)), item) << item;
    }
}

TEST(ActivityItemJsonTest, ReadsTimestampsWithAnyFraction)
{
    const std::string head = R"({"id":"1","type":"share","fileName":"f","filePath":"/f",)"
                             R"("status":"completed","progress":1,"bytesTransferred":0,)"
                             R"("totalBytes":0,"timestamp":")";
    struct Case {
        std::string text;
        system_clock::time_point time;
    };
    const auto whole = kMay1 - 250ms;
    for (const Case& c :
         {Case{"2024-05-01T09:30:00Z", whole}, Case{"2024-05-01T09:30:00.5Z", whole + 500ms},
          Case{"2024-05-01T09:30:00.250Z", kMay1},
          Case{"2024-05-01T09:30:00.123456789Z", whole + 123456789ns},
          Case{"1969-12-31T23:59:59.999Z", system_clock::time_point{} - 1ms}}) {
        EXPECT_EQ(decode<ActivityItem>(head + c.text + "\"}").timestamp, c.time) << c.text;
    }
}

TEST(ActivityItemJsonTest, RefusesForeignValues)
{
    const nlohmann::json good = nlohmann::json::parse(
        R"({"id":"1","type":"share","fileName":"f","filePath":"/f","status":"completed",
            "progress":1,"bytesTransferred":0,"totalBytes":0,
            "timestamp":"2024-05-01T09:30:00Z"})");
    struct Case {
        std::string key;
        nlohmann::json value;  // null: the key is removed
        DecodingError::Kind kind;
    };
    for (const Case& c : {
             Case{"type", "Upload", DecodingError::Kind::dataCorrupted},
             Case{"status", "inProgress", DecodingError::Kind::dataCorrupted},
             Case{"progress", "1", DecodingError::Kind::typeMismatch},
             Case{"totalBytes", 1.5, DecodingError::Kind::typeMismatch},
             Case{"timestamp", "2024-05-01 09:30:00Z", DecodingError::Kind::dataCorrupted},
             Case{"timestamp", "2024-02-30T09:30:00Z", DecodingError::Kind::dataCorrupted},
             Case{"timestamp", "2024-05-01T24:00:00Z", DecodingError::Kind::dataCorrupted},
             Case{"timestamp", "2024-05-01T09:30:00.Z", DecodingError::Kind::dataCorrupted},
             Case{"timestamp", "2024-05-01T09:30:00.1234567890Z",
                  DecodingError::Kind::dataCorrupted},
             Case{"timestamp", "2024-05-01T09:30:00+02:00", DecodingError::Kind::dataCorrupted},
             Case{"timestamp", 1714555800, DecodingError::Kind::typeMismatch},
             Case{"id", nullptr, DecodingError::Kind::keyNotFound},
         }) {
        nlohmann::json input = good;
        if (c.value.is_null()) {
            input.erase(c.key);
        } else {
            input[c.key] = c.value;
        }
        try {
            decode<ActivityItem>(input.dump());
            ADD_FAILURE() << "decoded " << input.dump();
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << input.dump() << ": " << error.what();
        }
    }
}

TEST(ActivityItemTest, PrintsAsJson)
{
    std::ostringstream out;
    out << transfer(ActivityStatus::completed, 1, 12, 12) << " " << ActivityType::delete_ << " "
        << ActivityStatus::inProgress;
    EXPECT_NE(out.str().find(R"("status":"completed")"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(" delete in_progress"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace corvane
