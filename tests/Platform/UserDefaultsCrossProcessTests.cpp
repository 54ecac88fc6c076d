#include "Platform/UserDefaults.h"

#include <gtest/gtest.h>

#include "Platform/HelperProcess.h"
#include "Platform/UserDefaultsFixture.h"

namespace corvane {
namespace {

class UserDefaultsCrossProcessTest : public test::UserDefaultsFixture {};

TEST_F(UserDefaultsCrossProcessTest, AnotherProcessSeesOurWrites)
{
    for (const char* suite : {"standard", "group.com.corvane.app"}) {
        SCOPED_TRACE(suite);
        const auto defaults = std::string(suite) == "standard" ? UserDefaults::standard()
                                                               : UserDefaults::suite(suite);
        defaults->setString("syncDir", "/before");
        defaults->flush();
        test::HelperProcess reader(CORVANE_PLATFORM_PROBE,
                                   {"wait-string", suite, "syncDir", "/after", "5000"});
        ASSERT_EQ(reader.readLine(), "ready");
        defaults->setString("syncDir", "/after");  // no flush: the coalesced write must carry it
        EXPECT_EQ(reader.readLine(), "seen");
        EXPECT_EQ(reader.wait(), 0);
    }
}

TEST_F(UserDefaultsCrossProcessTest, WeSeeAnotherProcesssWritesAndKeepOurOwnKeys)
{
    const auto defaults = UserDefaults::standard();
    defaults->setString("serverURL", "http://ours");
    defaults->flush();
    test::HelperProcess writer(CORVANE_PLATFORM_PROBE,
                               {"set-string", "standard", "userEmail", "a@example.com"});
    ASSERT_EQ(writer.wait(), 0);
    defaults->synchronize();
    EXPECT_EQ(defaults->string("userEmail"), "a@example.com");
    EXPECT_EQ(defaults->string("serverURL"), "http://ours");
}

}  // namespace
}  // namespace corvane
