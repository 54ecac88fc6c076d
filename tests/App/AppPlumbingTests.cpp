// The pieces under AppState: the main queue on Qt's loop, background calls, launch at login.
#include <atomic>
#include <thread>

#include <QCoreApplication>

#include "API/APIClient.h"
#include "API/APIError.h"
#include "App/AppFixture.h"
#include "App/BackgroundCall.h"
#include "App/LaunchAtLogin.h"
#include "Platform/Task.h"
#include "support/ServerProcess.h"

namespace corvane::test {
namespace {

class AppPlumbingTest : public testing::Test, public AppFixture {};

TEST_F(AppPlumbingTest, WorkFromAnyThreadRunsOnTheMainThreadInOrder)
{
    std::vector<int> order;
    std::atomic<bool> onMain{true};
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            MainQueue::async([&, i] {
                onMain = onMain && MainQueue::isMainThread();
                order.push_back(i);
            });
        }
        // A worker waiting for the main thread is served while the loop runs.
        MainQueue::sync([&] { order.push_back(100); });
    });
    ASSERT_TRUE(runUntil([&] { return order.size() == 101; }, 10s));
    poster.join();
    EXPECT_TRUE(onMain);
    for (int i = 0; i <= 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(AppPlumbingTest, ABackgroundCallHandsItsResultOrItsErrorTextToTheMainThread)
{
    ServerProcess server;
    const std::string token = server.signIn("ada@example.com");
    auto client = std::make_shared<APIClient>(server.baseURL());
    client->setToken(token);
    QObject view;

    std::optional<std::size_t> folders;
    runInBackground(
        &view,
        [client] {
            EXPECT_FALSE(MainQueue::isMainThread());
            return client->listFolders();
        },
        [&](std::vector<Folder> result) {
            EXPECT_TRUE(MainQueue::isMainThread());
            folders = result.size();
        },
        [](const QString& error) { ADD_FAILURE() << error.toStdString(); });
    ASSERT_TRUE(runUntil([&] { return folders.has_value(); }));

    QString failure;
    server.injectFault(
        {{"path_prefix", "/api/auth/send-code"}, {"status", 429}, {"body", "Too many requests"}});
    runInBackground(
        &view, [client] { client->sendCode("ada@example.com"); },
        [] { ADD_FAILURE() << "the request should fail"; },
        [&](const QString& error) { failure = error; });
    ASSERT_TRUE(runUntil([&] { return !failure.isEmpty(); }));
    EXPECT_EQ(failure, "Too many requests");

    client->setToken(std::nullopt);
    failure.clear();
    runInBackground(
        &view, [client] { return client->listFolders(); },
        [](std::vector<Folder>) { ADD_FAILURE() << "signed out"; },
        [&](const QString& error) { failure = error; });
    ASSERT_TRUE(runUntil([&] { return !failure.isEmpty(); }));
    EXPECT_EQ(failure, "Session expired, please log in again");
}

TEST_F(AppPlumbingTest, NothingIsHandedToAViewThatClosedMeanwhile)
{
    auto view = std::make_unique<QObject>();
    std::atomic<bool> called{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    bool delivered = false;
    runInBackground(
        view.get(),
        [&] {
            while (!release) {
                std::this_thread::yield();
            }
            called = true;
            return 1;
        },
        [&](int) { delivered = true; }, [&](const QString&) { delivered = true; });
    view.reset();
    release = true;
    ASSERT_TRUE(runUntil([&] { return called.load(); }));
    // One more turn of the queue after the call: its report has been posted and dropped.
    Task::detached([&] { MainQueue::async([&] { finished = true; }); });
    ASSERT_TRUE(runUntil([&] { return finished.load(); }));
    runUntil([] { return false; }, 50ms);
    EXPECT_FALSE(delivered);
}

class LaunchAtLoginTest : public testing::Test {
protected:
    TempHome home;
    XdgAutostartLoginItem item{"/usr/bin/corvane"};
    fs::path entry = home.path() / ".config" / "autostart" / "corvane.desktop";
};

TEST_F(LaunchAtLoginTest, TheLoginItemIsAskedEveryTime)
{
    EXPECT_FALSE(LaunchAtLogin::isEnabled(item));
    fs::create_directories(entry.parent_path());
    std::ofstream(entry) << XdgAutostartLoginItem::entryText("/usr/bin/corvane");
    EXPECT_TRUE(LaunchAtLogin::isEnabled(item));
    fs::remove(entry);
    EXPECT_FALSE(LaunchAtLogin::isEnabled(item));
}

TEST_F(LaunchAtLoginTest, EnablingTwiceRegistersTwice)
{
    LaunchAtLogin::setEnabled(item, true);
    std::ofstream(entry) << "[Desktop Entry]\nExec=something else\n";
    LaunchAtLogin::setEnabled(item, true);
    EXPECT_EQ(fileBytes(entry), XdgAutostartLoginItem::entryText("/usr/bin/corvane"));
    testing::internal::CaptureStdout();
    LaunchAtLogin::setEnabled(item, false);
    LaunchAtLogin::setEnabled(item, false);  // never registered any more: nothing to undo
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(LaunchAtLogin::isEnabled(item));
}

TEST_F(LaunchAtLoginTest, AFailureIsOneLineOnStandardOutputAndNothingElse)
{
    fs::create_directories(entry / "occupied");  // a folder where the entry belongs
    testing::internal::CaptureStdout();
    LaunchAtLogin::setEnabled(item, false);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "LaunchAtLogin error: remove \"" + entry.string() + "\": Is a directory\n");
}

}  // namespace
}  // namespace corvane::test
