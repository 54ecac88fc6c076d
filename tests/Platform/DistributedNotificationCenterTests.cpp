#include "Platform/DistributedNotificationCenter.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/HelperProcess.h"
#include "Platform/MainQueue.h"
#include "Platform/PrivateBus.h"
#include "support/ScopedEnv.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using UserInfo = DistributedNotificationCenter::UserInfo;

struct Received {
    std::string name;
    UserInfo userInfo;
    bool onMainThread = false;
};

TEST(DistributedNotificationCenterTest, WithoutABusNothingHappensAndNothingFails)
{
    for (const std::optional<std::string>& address :
         {std::optional<std::string>(""),
          std::optional<std::string>("unix:path=/nonexistent/corvane-bus"),
          std::optional<std::string>("not an address")}) {
        RunLoop loop;
        DistributedNotificationCenter center(address);
        EXPECT_FALSE(center.isConnected());
        bool called = false;
        const auto observation =
            center.observe("com.corvane.syncStateChanged", [&](auto&&...) { called = true; });
        ASSERT_TRUE(observation);
        center.post("com.corvane.syncStateChanged", {{"path", "/x"}});
        loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
        EXPECT_FALSE(called);
    }
}

TEST(DistributedNotificationCenterTest, NoSessionAddressAndNoBusInTheRuntimeFolderMeansNoBus)
{
    const test::TempDir runtime;  // holds no "bus"
    for (const std::optional<std::string>& runtimeDir :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>(runtime.path().string())}) {
        SCOPED_TRACE(runtimeDir.value_or("(unset)"));
        const test::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        const test::ScopedEnv runtimeFolder("XDG_RUNTIME_DIR", runtimeDir);
        DistributedNotificationCenter center;
        EXPECT_FALSE(center.isConnected());
        center.post("com.corvane.copyLink", {{"path", "/x"}});
    }
}

TEST(DistributedNotificationCenterTest, TheSessionAddressComesFirstThenTheRuntimeFolder)
{
    const struct {
        std::optional<std::string> address;
        std::optional<std::string> runtimeDir;
        std::optional<std::string> expected;
    } cases[] = {
        {"unix:path=/a/bus", "/run/user/1000", "unix:path=/a/bus"},
        {std::nullopt, "/run/user/1000", "unix:path=/run/user/1000/bus"},
        {"", "/run/user/1000", "unix:path=/run/user/1000/bus"},
        // Bytes that an address value cannot carry as they are.
        {std::nullopt, "/tmp/run time,1;x=\xC3\xA9",
         "unix:path=/tmp/run%20time%2c1%3bx%3d%c3%a9/bus"},
        {std::nullopt, "", std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const test::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", c.address);
        const test::ScopedEnv runtimeFolder("XDG_RUNTIME_DIR", c.runtimeDir);
        EXPECT_EQ(DistributedNotificationCenter::sessionBusAddress(), c.expected)
            << c.runtimeDir.value_or("(unset)");
    }
}

TEST(DistributedNotificationCenterTest, WithoutASessionAddressTheBusInTheRuntimeFolderIsUsed)
{
    const test::TempDir runtime;
    test::PrivateBus bus(runtime.path() / "bus");
    const test::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    const test::ScopedEnv runtimeFolder("XDG_RUNTIME_DIR", runtime.path().string());
    RunLoop loop;
    DistributedNotificationCenter poster;
    DistributedNotificationCenter observer;
    ASSERT_TRUE(poster.isConnected());
    ASSERT_TRUE(observer.isConnected());
    std::vector<UserInfo> received;
    const auto observation =
        observer.observe("com.corvane.copyLink", [&](const std::string&, const UserInfo& info) {
            received.push_back(info);
        });
    poster.post("com.corvane.copyLink", {{"path", "/x"}});
    ASSERT_TRUE(loop.runUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received.front(), (UserInfo{{"path", "/x"}}));
}

TEST(DistributedNotificationCenterTest, DeliversOnTheMainThreadToObserversOfTheName)
{
    test::PrivateBus bus;
    RunLoop loop;
    DistributedNotificationCenter center;
    ASSERT_TRUE(center.isConnected());
    std::vector<Received> copyLinks;
    std::vector<Received> shareLinks;
    const auto copyObservation =
        center.observe("com.corvane.copyLink", [&](const std::string& name, const UserInfo& info) {
            copyLinks.push_back({name, info, MainQueue::isMainThread()});
        });
    const auto shareObservation = center.observe(
        "com.corvane.shareLinkReady", [&](const std::string& name, const UserInfo& info) {
            shareLinks.push_back({name, info, MainQueue::isMainThread()});
        });

    center.post("com.corvane.copyLink",
                {{"path", "/home/u/Corvane/Caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9.txt"}});
    center.post("com.corvane.shareLinkReady", {{"link", "http://x/s/1"}, {"extra", ""}});
    center.post("com.corvane.syncStateChanged");
    ASSERT_TRUE(loop.runUntil([&] { return copyLinks.size() == 1 && shareLinks.size() == 1; }));

    EXPECT_EQ(copyLinks[0].name, "com.corvane.copyLink");
    EXPECT_EQ(copyLinks[0].userInfo,
              (UserInfo{{"path", "/home/u/Corvane/Caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9.txt"}}));
    EXPECT_TRUE(copyLinks[0].onMainThread);
    EXPECT_EQ(shareLinks[0].userInfo, (UserInfo{{"link", "http://x/s/1"}, {"extra", ""}}));
}

TEST(DistributedNotificationCenterTest, DestroyedObservationStopsDelivery)
{
    test::PrivateBus bus;
    RunLoop loop;
    DistributedNotificationCenter center;
    int stopped = 0;
    int kept = 0;
    auto observation = center.observe("n.stopped", [&](auto&&...) { ++stopped; });
    const auto keeper = center.observe("n.kept", [&](auto&&...) { ++kept; });

    center.post("n.stopped");
    ASSERT_TRUE(loop.runUntil([&] { return stopped == 1; }));
    // Posted while observed, but the observation ends before the main queue delivers it.
    center.post("n.stopped");
    center.post("n.kept");
    observation.reset();
    ASSERT_TRUE(loop.runUntil([&] { return kept == 1; }));
    center.post("n.stopped");
    center.post("n.kept");
    ASSERT_TRUE(loop.runUntil([&] { return kept == 2; }));
    EXPECT_EQ(stopped, 1);
}

TEST(DistributedNotificationCenterTest, AnUnencodableNotificationIsDroppedAndLaterOnesArrive)
{
    test::PrivateBus bus;
    RunLoop loop;
    DistributedNotificationCenter center;
    std::vector<UserInfo> received;
    const auto observation = center.observe(
        "n", [&](const std::string&, const UserInfo& info) { received.push_back(info); });
    center.post("n", {{"path", "/bad/\xFF"}});
    center.post("n", {{"path", "/good"}});
    ASSERT_TRUE(loop.runUntil([&] { return !received.empty(); }));
    loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(received, (std::vector<UserInfo>{{{"path", "/good"}}}));
}

TEST(DistributedNotificationCenterTest, CrossesProcessesInBothDirections)
{
    test::PrivateBus bus;
    {
        // Another process observes, this one posts.
        test::HelperProcess observer(CORVANE_PLATFORM_PROBE,
                                     {"observe", "com.corvane.copyLink", "2", "10000"});
        ASSERT_EQ(observer.readLine(), "ready");
        DistributedNotificationCenter center;
        center.post("com.corvane.copyLink", {{"path", "/home/u/Corvane/a.txt"}});
        center.post("com.corvane.copyLink", {{"path", "/home/u/Corvane/b c.txt"}});
        EXPECT_EQ(observer.readLine(), "got com.corvane.copyLink path=/home/u/Corvane/a.txt");
        EXPECT_EQ(observer.readLine(), "got com.corvane.copyLink path=/home/u/Corvane/b c.txt");
        EXPECT_EQ(observer.wait(), 0);
    }
    {
        // This process observes, another one posts and exits at once.
        RunLoop loop;
        DistributedNotificationCenter center;
        std::vector<Received> received;
        const auto observation = center.observe(
            "com.corvane.shareLinkReady", [&](const std::string& name, const UserInfo& info) {
                received.push_back({name, info, MainQueue::isMainThread()});
            });
        test::HelperProcess poster(CORVANE_PLATFORM_PROBE,
                                   {"post", "com.corvane.shareLinkReady", "link=http://s/1"});
        EXPECT_EQ(poster.wait(), 0);
        ASSERT_TRUE(loop.runUntil([&] { return !received.empty(); }));
        EXPECT_EQ(received[0].userInfo, (UserInfo{{"link", "http://s/1"}}));
        EXPECT_TRUE(received[0].onMainThread);
    }
}

}  // namespace
}  // namespace corvane
