#include "Sync/ActivityManager.h"

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/MainQueue.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

class ActivityManagerTest : public testing::Test {
protected:
    // Every entry gets a later time than the one before, so a kept or replaced timestamp shows.
    Clock::time_point tick()
    {
        m_now += 1s;
        return m_now;
    }

    std::vector<std::string> ids(const std::vector<ActivityItem>& items) const
    {
        std::vector<std::string> result;
        for (const ActivityItem& item : items) {
            result.push_back(item.id);
        }
        return result;
    }

    RunLoop m_loop;  // makes this thread the main thread
    Clock::time_point m_now = Clock::time_point{} + 1000h;
    ActivityManager m_feed{[this] { return tick(); }};
};

TEST_F(ActivityManagerTest, ATransferRunsFromStartToCompletion)
{
    m_feed.startTransfer("T1", ActivityType::upload, "a.txt", "/Docs/a.txt", 2000);
    const Clock::time_point started = m_now;
    ASSERT_EQ(m_feed.activeCount(), 1u);
    EXPECT_EQ(m_feed.activeTransfers()[0],
              (ActivityItem{"T1", ActivityType::upload, "a.txt", "/Docs/a.txt",
                            ActivityStatus::inProgress, 0, 0, 2000, started, std::nullopt}));
    EXPECT_TRUE(m_feed.hasActiveTransfers());

    m_feed.updateProgress("T1", 500);
    EXPECT_EQ(m_feed.activeTransfers()[0].bytesTransferred, 500);
    EXPECT_DOUBLE_EQ(m_feed.activeTransfers()[0].progress, 0.25);
    EXPECT_EQ(m_feed.activeTransfers()[0].statusText(), "25% - 500 bytes / 2 KB");
    EXPECT_TRUE(m_feed.recentActivities().empty());

    m_feed.completeTransfer("T1");
    EXPECT_FALSE(m_feed.hasActiveTransfers());
    EXPECT_EQ(m_feed.activeCount(), 0u);
    ASSERT_EQ(m_feed.recentActivities().size(), 1u);
    // Finished, with the time it started.
    EXPECT_EQ(m_feed.recentActivities()[0],
              (ActivityItem{"T1", ActivityType::upload, "a.txt", "/Docs/a.txt",
                            ActivityStatus::completed, 1, 2000, 2000, started, std::nullopt}));
}

TEST_F(ActivityManagerTest, ProgressWithoutAKnownSize)
{
    m_feed.startTransfer("T1", ActivityType::download, "a.txt", "/a.txt", 0);
    m_feed.updateProgress("T1", 700);
    EXPECT_EQ(m_feed.activeTransfers()[0].bytesTransferred, 700);
    EXPECT_EQ(m_feed.activeTransfers()[0].progress, 0);
    EXPECT_EQ(m_feed.activeTransfers()[0].statusText(), "In progress...");

    m_feed.completeTransfer("T1");
    EXPECT_EQ(m_feed.recentActivities()[0].bytesTransferred, 0);
    EXPECT_EQ(m_feed.recentActivities()[0].progress, 1);
}

TEST_F(ActivityManagerTest, ProgressPastTheTotalIsNotClamped)
{
    m_feed.startTransfer("T1", ActivityType::upload, "a.txt", "/a.txt", 1000);
    m_feed.updateProgress("T1", 1500);
    EXPECT_DOUBLE_EQ(m_feed.activeTransfers()[0].progress, 1.5);
    EXPECT_EQ(m_feed.activeTransfers()[0].statusText(), "150% - 1.5 KB / 1 KB");
    EXPECT_DOUBLE_EQ(m_feed.totalProgress(), 1.5);
}

TEST_F(ActivityManagerTest, AFailedTransferKeepsItsProgressAndShowsItsError)
{
    for (const std::string error : {"Request failed", ""}) {
        const std::string id = "T-" + error;
        m_feed.startTransfer(id, ActivityType::upload, "a.txt", "/a.txt", 1000);
        m_feed.updateProgress(id, 400);
        m_feed.failTransfer(id, error);
        const ActivityItem& failed = m_feed.recentActivities()[0];
        EXPECT_EQ(failed.id, id);
        EXPECT_EQ(failed.status, ActivityStatus::failed);
        EXPECT_EQ(failed.errorMessage, error);
        EXPECT_EQ(failed.bytesTransferred, 400);
        EXPECT_DOUBLE_EQ(failed.progress, 0.4);
        EXPECT_EQ(failed.statusText(), error);  // the empty text too, not "Failed"
    }
    EXPECT_FALSE(m_feed.hasActiveTransfers());
}

TEST_F(ActivityManagerTest, TotalProgressIsThePlainMean)
{
    EXPECT_EQ(m_feed.totalProgress(), 0);
    m_feed.startTransfer("small", ActivityType::upload, "s", "/s", 10);
    m_feed.startTransfer("large", ActivityType::download, "l", "/l", 10000000);
    m_feed.updateProgress("small", 5);
    m_feed.updateProgress("large", 10000000);
    EXPECT_DOUBLE_EQ(m_feed.totalProgress(), 0.75);
    EXPECT_EQ(m_feed.activeCount(), 2u);
    EXPECT_EQ(ids(m_feed.activeTransfers()), (std::vector<std::string>{"small", "large"}));
}

TEST_F(ActivityManagerTest, WithTwoEntriesOfOneIdOnlyTheFirstIsTouched)
{
    const std::vector<std::pair<std::string, std::function<void(ActivityManager&)>>> operations{
        {"updateProgress", [](ActivityManager& feed) { feed.updateProgress("T", 50); }},
        {"completeTransfer", [](ActivityManager& feed) { feed.completeTransfer("T"); }},
        {"failTransfer", [](ActivityManager& feed) { feed.failTransfer("T", "no"); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        ActivityManager feed([this] { return tick(); });
        feed.startTransfer("T", ActivityType::upload, "first", "/first", 100);
        feed.startTransfer("T", ActivityType::upload, "second", "/second", 100);
        const ActivityItem second = feed.activeTransfers()[1];
        operation(feed);
        ASSERT_FALSE(feed.activeTransfers().empty());
        const ActivityItem& last = feed.activeTransfers().back();
        EXPECT_EQ(last, second);
        if (name == "updateProgress") {
            EXPECT_EQ(feed.activeTransfers()[0].bytesTransferred, 50);
        } else {
            EXPECT_EQ(feed.activeCount(), 1u);
            ASSERT_EQ(feed.recentActivities().size(), 1u);
            EXPECT_EQ(feed.recentActivities()[0].fileName, "first");
        }
    }
}

TEST_F(ActivityManagerTest, IdsThatAreNotActiveChangeNothing)
{
    m_feed.startTransfer("T1", ActivityType::upload, "a", "/a", 10);
    m_feed.completeTransfer("T1");
    m_feed.startTransfer("T2", ActivityType::upload, "b", "/b", 10);
    const auto recent = m_feed.recentActivities();
    const auto active = m_feed.activeTransfers();
    int changes = 0;
    const auto watchRecent = m_feed.observeRecentActivities([&](const auto&) { ++changes; });
    const auto watchActive = m_feed.observeActiveTransfers([&](const auto&) { ++changes; });

    for (const std::string id : {"T1", "never", ""}) {
        m_feed.updateProgress(id, 5);
        m_feed.completeTransfer(id);
        m_feed.failTransfer(id, "x");
    }
    EXPECT_EQ(m_feed.recentActivities(), recent);
    EXPECT_EQ(m_feed.activeTransfers(), active);
    EXPECT_EQ(changes, 0);
}

TEST_F(ActivityManagerTest, SingleEventsGetNewIdsAndLeaveTransfersAlone)
{
    m_feed.startTransfer("T1", ActivityType::upload, "a", "/a", 10);
    m_feed.addActivity(ActivityType::delete_, "old.txt", "/Docs/old.txt");
    m_feed.addActivity(ActivityType::conflict, "b.txt", "/b.txt");
    EXPECT_EQ(m_feed.activeCount(), 1u);
    ASSERT_EQ(m_feed.recentActivities().size(), 2u);
    const ActivityItem& deleted = m_feed.recentActivities()[1];
    EXPECT_EQ(deleted.type, ActivityType::delete_);
    EXPECT_EQ(deleted.fileName, "old.txt");
    EXPECT_EQ(deleted.filePath, "/Docs/old.txt");
    EXPECT_EQ(deleted.status, ActivityStatus::completed);
    EXPECT_EQ(deleted.progress, 1);
    EXPECT_EQ(deleted.bytesTransferred, 0);
    EXPECT_EQ(deleted.totalBytes, 0);
    EXPECT_EQ(deleted.errorMessage, std::nullopt);
    EXPECT_EQ(deleted.statusText(), "Completed");
    // An upper-case UUID text, 8-4-4-4-12.
    ASSERT_EQ(deleted.id.size(), 36u);
    for (std::size_t i = 0; i < deleted.id.size(); ++i) {
        const char c = deleted.id[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(c, '-') << deleted.id;
        } else {
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << deleted.id;
        }
    }
    EXPECT_NE(m_feed.recentActivities()[0].id, deleted.id);
}

TEST_F(ActivityManagerTest, TheRecentListKeepsTheFiftyNewest)
{
    for (int i = 1; i <= 51; ++i) {
        const std::string id = std::to_string(i);
        if (i % 2 == 0) {
            m_feed.addActivity(ActivityType::share, id, "/" + id);
        } else {
            m_feed.startTransfer(id, ActivityType::upload, id, "/" + id, 1);
            m_feed.completeTransfer(id);
        }
        EXPECT_EQ(m_feed.recentActivities().size(), std::min<std::size_t>(i, 50));
    }
    const auto& recent = m_feed.recentActivities();
    ASSERT_EQ(recent.size(), ActivityManager::kMaxRecent);
    EXPECT_EQ(recent.front().fileName, "51");
    EXPECT_EQ(recent.back().fileName, "2");  // "1" fell off the end
}

TEST_F(ActivityManagerTest, ObserversHearEachChangeBeforeItIsMade)
{
    std::vector<std::string> log;
    const auto active = m_feed.observeActiveTransfers([&](const std::vector<ActivityItem>& next) {
        log.push_back(
            "active " + std::to_string(m_feed.activeCount()) + "->" + std::to_string(next.size()) +
            (next.empty() ? ""
                          : " bytes " + std::to_string(next[0].bytesTransferred) + " progress " +
                                std::to_string(static_cast<int>(next[0].progress * 100))));
    });
    auto recent = m_feed.observeRecentActivities([&](const std::vector<ActivityItem>& next) {
        log.push_back("recent " + std::to_string(m_feed.recentActivities().size()) + "->" +
                      std::to_string(next.size()));
    });

    m_feed.startTransfer("T1", ActivityType::upload, "a", "/a", 100);
    m_feed.updateProgress("T1", 40);  // two changes: the count, then the fraction
    m_feed.completeTransfer("T1");
    EXPECT_EQ(log, (std::vector<std::string>{
                       "active 0->1 bytes 0 progress 0",
                       "active 1->1 bytes 40 progress 0",
                       "active 1->1 bytes 40 progress 40",
                       "active 1->0",
                       "recent 0->1",
                   }));

    // A full recent list: the insertion and the cut are two changes.
    for (int i = 1; i < 50; ++i) {
        m_feed.addActivity(ActivityType::share, "s", "/s");
    }
    log.clear();
    m_feed.addActivity(ActivityType::share, "s", "/s");
    EXPECT_EQ(log, (std::vector<std::string>{"recent 50->51", "recent 51->50"}));

    // An ended subscription hears nothing more.
    recent.reset();
    log.clear();
    m_feed.addActivity(ActivityType::share, "s", "/s");
    EXPECT_TRUE(log.empty());
}

TEST(ActivityManagerDeathTest, CallsOffTheMainThreadEndTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            RunLoop loop;
            ActivityManager feed;
            std::thread([&] { feed.addActivity(ActivityType::share, "a", "/a"); }).join();
        },
        "ActivityManager::addActivity must be called on the main thread");
}

}  // namespace
}  // namespace corvane
