// The corvane program itself, in processes of its own: one instance per user, and the orderly
// end on SIGTERM.
#include <signal.h>

#include <fstream>

#include "App/AppFixture.h"
#include "Platform/HelperProcess.h"
#include "Platform/PrivateBus.h"
#include "Sync/LocalStateStore.h"
#include "support/ScopedEnv.h"
#include "support/ServerProcess.h"

namespace corvane::test {
namespace {

// Reads lines of `process` until one contains `text`; false at the end of its output or after
// `timeout`.
bool readUntil(HelperProcess& process, const std::string& text,
               std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto line = process.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!line) {
            return false;
        }
        if (line->find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class AppProcessTest : public testing::Test {
protected:
    AppProcessTest() { UserDefaults::resetShared(); }
    ~AppProcessTest() override { UserDefaults::resetShared(); }

    TempHome home;
    TempDir runtime;
    ScopedEnv runtimeDir{"XDG_RUNTIME_DIR", runtime.path().string()};
};

TEST_F(AppProcessTest, ASecondStartShowsTheFirstInstanceAndEnds)
{
    PrivateBus bus;
    HelperProcess first(CORVANE_APP_PATH, {});
    ASSERT_TRUE(readUntil(first, "[app] started single_instance_bus=true"));

    HelperProcess second(CORVANE_APP_PATH, {});
    EXPECT_EQ(second.readLine(), "Corvane is already running; its window was brought forward.");
    EXPECT_EQ(second.wait(), 0);
    EXPECT_TRUE(readUntil(first, "[app] window requested"));

    first.signal(SIGTERM);
    EXPECT_TRUE(readUntil(first, "[app] ended"));
    EXPECT_EQ(first.wait(), 0);
}

TEST_F(AppProcessTest, WithoutASessionBusASecondStartStillEndsAtOnce)
{
    const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    HelperProcess first(CORVANE_APP_PATH, {});
    ASSERT_TRUE(readUntil(first, "[app] started single_instance_bus=false"));

    HelperProcess second(CORVANE_APP_PATH, {});
    const auto line = second.readLine();
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("Without a session bus"), std::string::npos) << *line;
    EXPECT_EQ(second.wait(), 0);
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 0);
}

TEST_F(AppProcessTest, SigtermInTheMiddleOfASyncEndsCleanlyWithTheStateFileSaved)
{
    ServerProcess server;
    const std::string token = server.signIn("ada@example.com");
    const fs::path syncDir = home.path() / "Corvane";
    fs::create_directories(syncDir);
    for (int i = 0; i < 12; ++i) {
        std::ofstream(syncDir / ("file" + std::to_string(i) + ".txt")) << "content " << i;
    }
    // Slow uploads: the signal comes while transfers wait for the server.
    server.injectFault(
        {{"path_prefix", "/api/sync/upload/chunk"}, {"delay_ms", 300}, {"count", 1000}});
    const auto defaults = UserDefaults::standard();
    defaults->setBool("setupDone", true);
    defaults->setString("serverURL", server.baseURL());
    defaults->setString("syncDir", syncDir.string());
    defaults->setString("userEmail", "ada@example.com");
    defaults->flush();
    ASSERT_TRUE(KeychainHelper::save("auth_token", token));
    const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);

    HelperProcess app(CORVANE_APP_PATH, {});
    ASSERT_TRUE(readUntil(app, "[sync] diff computed"));
    app.signal(SIGTERM);
    ASSERT_TRUE(readUntil(app, "[app] ended"));
    EXPECT_EQ(app.wait(), 0);

    const auto saved = fileBytes(LocalStateStore(syncDir).filePath());
    ASSERT_TRUE(saved);
    const auto states = LocalStateStore::decode(*saved);
    ASSERT_TRUE(states);
    // The uploads that ended before the process did are in it; the rest upload next time.
    EXPECT_LT(states->size(), 12u);
}

}  // namespace
}  // namespace corvane::test
