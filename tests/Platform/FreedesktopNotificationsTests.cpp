#include "Platform/FreedesktopNotifications.h"

#include <gtest/gtest.h>

#include "Platform/FakeNotificationService.h"
#include "Platform/PrivateBus.h"
#include "support/TempHome.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

class FreedesktopNotificationsTest : public testing::Test {
protected:
    PrivateBus bus;
};

TEST_F(FreedesktopNotificationsTest, PostsOneNotificationWithTheAppNameAndTheDefaultSound)
{
    FakeNotificationService service(bus.address(), {"body", "sound"});
    FreedesktopNotifications notifications(bus.address());
    notifications.requestPermission();
    notifications.post("Sync Error", "Request failed");
    notifications.post("Sync Error", "Request failed");
    ASSERT_TRUE(service.waitForNotifications(2));
    EXPECT_EQ(service.capabilityQueries(), 1);
    for (const auto& posted : service.notifications()) {
        EXPECT_EQ(posted.appName, "Corvane");
        EXPECT_EQ(posted.replacesId, 0u);  // a new one each time
        EXPECT_EQ(posted.summary, "Sync Error");
        EXPECT_EQ(posted.body, "Request failed");
        EXPECT_TRUE(posted.actions.empty());
        EXPECT_EQ(posted.hints,
                  (std::map<std::string, std::string>{{"sound-name", "message-new-instant"}}));
        EXPECT_EQ(posted.expireTimeout, -1);
    }
}

TEST_F(FreedesktopNotificationsTest, BodiesAreEscapedOnlyForAServiceThatReadsMarkup)
{
    const std::string body = "Sync failed: <a href=\"x\">R&D</a>";
    for (const bool markup : {false, true}) {
        SCOPED_TRACE(markup);
        FakeNotificationService service(bus.address(),
                                        markup ? std::vector<std::string>{"body", "body-markup"}
                                               : std::vector<std::string>{"body"});
        {
            FreedesktopNotifications notifications(bus.address());
            notifications.requestPermission();
            notifications.post("<b>Sync Error</b>", body);
        }
        ASSERT_TRUE(service.waitForNotifications(1));
        const auto posted = service.notifications().front();
        EXPECT_EQ(posted.summary, "<b>Sync Error</b>");  // the summary is never markup
        EXPECT_EQ(posted.body,
                  markup ? "Sync failed: &lt;a href=\"x\"&gt;R&amp;D&lt;/a&gt;" : body);
    }
}

TEST_F(FreedesktopNotificationsTest, TextsThatAreNotUtf8AreMendedRatherThanDropped)
{
    FakeNotificationService service(bus.address(), {"body"});
    FreedesktopNotifications notifications(bus.address());
    notifications.post("Sync Error", std::string("Sync failed: caf\xe9.txt"));
    ASSERT_TRUE(service.waitForNotifications(1));
    EXPECT_EQ(service.notifications().front().body, "Sync failed: caf\xef\xbf\xbd.txt");
}

TEST(FreedesktopNotificationsWithoutServiceTest, NothingIsShownAndNothingFails)
{
    TempDir dir;
    // No bus at all, then a bus where nobody serves notifications.
    FreedesktopNotifications{"unix:path=" + (dir.path() / "none").string()}.post("a", "b");
    PrivateBus bus;
    FreedesktopNotifications notifications(bus.address());
    notifications.requestPermission();
    notifications.post("Sync Error", "nobody listens");
}

}  // namespace
}  // namespace corvane::test
