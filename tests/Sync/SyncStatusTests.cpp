#include "Sync/SyncStatus.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(SyncStatusTest, DisplayTextsRoundTrip)
{
    const std::pair<SyncStatus, const char*> cases[] = {
        {SyncStatus::idle, "Up to date"},  {SyncStatus::syncing, "Syncing..."},
        {SyncStatus::error, "Sync Error"}, {SyncStatus::offline, "Offline"},
        {SyncStatus::paused, "Paused"},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(displayText(status), text);
        EXPECT_EQ(syncStatusFromText(text), status);
    }
    EXPECT_EQ(syncStatusFromText("up to date"), std::nullopt);
    EXPECT_EQ(syncStatusFromText(""), std::nullopt);
}

}  // namespace
}  // namespace corvane
