// The application's scenes: the "setup" window by phase, the tray icon, the start-up rule, the
// panel and the settings window.
#include "App/CorvaneApp.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

#include "App/AppFixture.h"
#include "App/ReadyView.h"
#include "App/SetupView.h"
#include "App/SetupWindow.h"
#include "App/ViewTestSupport.h"
#include "MenuBar/MenuBarView.h"
#include "Sync/ActivityManager.h"
#include "support/ClosedPort.h"

namespace corvane::test {
namespace {

class ScenesTest : public testing::Test, public AppFixture {
protected:
    ScenesTest() { makeState(); }

    // Runs the event loop for `duration` with `during` posted at its start; true when the loop
    // ran its full time, not ended early by a quit.
    static bool loopKeepsRunning(const std::function<void()>& during,
                                 std::chrono::milliseconds duration = 50ms)
    {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, during);
        QTimer::singleShot(duration, &loop, [&] { loop.exit(7); });
        return loop.exec() == 7;
    }
};

TEST_F(ScenesTest, TheSetupWindowShowsTheFormOrTheReadyScreenByPhase)
{
    SetupWindow window(*state);
    ASSERT_TRUE(showAndExpose(window));
    EXPECT_EQ(window.objectName(), "setup");
    EXPECT_EQ(window.windowTitle(), "Corvane");
    QPointer<SetupView> form = qobject_cast<SetupView*>(window.content());
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisibleTo(&window));
    // Fixed at the content's size.
    layOut();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.size(), form->size());
    EXPECT_EQ(window.width(), SetupView::kWidth);

    // From setup to login the same form stays, with what was typed.
    QTest::keyClicks(&child<QLineEdit>(*form, "email"), QStringLiteral("ada@example.com"));
    const ClosedPort closed;
    state->completeSetup(QString::fromStdString(closed.baseURL()), state->syncDir());
    ASSERT_EQ(state->phase(), AppPhase::login);
    EXPECT_EQ(window.content(), form.data());
    EXPECT_EQ(child<QLineEdit>(window, "email").text(), "ada@example.com");

    state->setPhase(AppPhase::ready);
    auto* ready = qobject_cast<ReadyView*>(window.content());
    ASSERT_TRUE(ready);
    EXPECT_TRUE(ready->isVisibleTo(&window));
    layOut();
    EXPECT_EQ(window.size(), ready->size());
    EXPECT_EQ(window.width(), ReadyView::kWidth);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form);

    // Back from ready (a sign-out): a fresh form, filled as it comes on screen.
    state->setPhase(AppPhase::login);
    auto* fresh = qobject_cast<SetupView*>(window.content());
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->isVisibleTo(&window));
    EXPECT_TRUE(child<QLineEdit>(*fresh, "email").text().isEmpty());
    EXPECT_EQ(child<QLineEdit>(*fresh, "server").text().toStdString(), closed.baseURL());
    EXPECT_EQ(fresh->focusWidget(), &child<QLineEdit>(*fresh, "server"));
}

TEST_F(ScenesTest, ClosingTheWindowLeavesTheClientRunning)
{
    CorvaneApp app(*state);
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    app.showSetupWindow();
    SetupWindow& window = app.setupWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(loopKeepsRunning([&] { window.close(); }));
    EXPECT_FALSE(window.isVisible());

    // Through the ready screen's "Close" as well, and the tray can bring it back each time.
    state->setPhase(AppPhase::ready);
    app.showSetupWindow();
    EXPECT_TRUE(window.isVisible());
    auto& close = child<QPushButton>(window, "close");
    EXPECT_TRUE(loopKeepsRunning([&] { QTest::mouseClick(&close, Qt::LeftButton); }));
    EXPECT_FALSE(window.isVisible());
    app.showSetupWindow();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ScenesTest, TheTrayIconFollowsTheStatusAndTheTransfersByItself)
{
    CorvaneApp app(*state);
    EXPECT_EQ(app.trayIconName(), "icloud.slash");
    EXPECT_FALSE(app.trayIcon().icon().isNull());
    EXPECT_EQ(app.trayIconName(), state->menuBarIcon());

    state->togglePause();
    EXPECT_EQ(app.trayIconName(), "pause.circle");

    state->activityManager()->startTransfer("t1", ActivityType::upload, "a.txt", "/a.txt", 100);
    EXPECT_TRUE(
        runUntil([&] { return app.trayIconName() == "arrow.triangle.2.circlepath.icloud"; }, 2s));
    state->activityManager()->completeTransfer("t1");
    EXPECT_TRUE(runUntil([&] { return app.trayIconName() == "pause.circle"; }, 2s));
    EXPECT_FALSE(app.trayIcon().icon().isNull());
}

TEST_F(ScenesTest, TheWindowOpensAtStartUnlessReadyWithATray)
{
    const struct {
        AppPhase phase;
        bool tray;
        bool opens;
    } cases[] = {
        {AppPhase::setup, true, true},  {AppPhase::login, true, true},
        {AppPhase::ready, true, false}, {AppPhase::setup, false, true},
        {AppPhase::login, false, true}, {AppPhase::ready, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CorvaneApp::opensSetupWindowAtStart(c.phase, c.tray), c.opens)
            << c.phase << " tray " << c.tray;
    }

    state->setPhase(AppPhase::ready);
    CorvaneApp withTray(*state);
    withTray.showStartupScenes(true);
    EXPECT_FALSE(withTray.setupWindow().isVisible());
    CorvaneApp withoutTray(*state);
    withoutTray.showStartupScenes(false);
    EXPECT_TRUE(withoutTray.setupWindow().isVisible());
}

TEST_F(ScenesTest, TheSettingsWindowIsMadeOnceAndThePanelOpensAndCloses)
{
    CorvaneApp app(*state);
    EXPECT_EQ(app.settingsWindow(), nullptr);
    app.showSettingsWindow();
    QWidget* settings = app.settingsWindow();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->objectName(), "settings");
    EXPECT_TRUE(settings->isVisible());
    settings->close();
    app.showSettingsWindow();
    EXPECT_EQ(app.settingsWindow(), settings);
    EXPECT_TRUE(settings->isVisible());

    // The tray icon's click opens the panel and a second click closes it; a right click is
    // the context menu's, which holds the panel's actions.
    EXPECT_FALSE(app.panel().isVisible());
    emit app.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(app.panel().isVisible());
    emit app.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(app.panel().isVisible());
    emit app.trayIcon().activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(app.panel().isVisible());
    EXPECT_EQ(app.trayIcon().contextMenu(), &app.trayMenu());
    QStringList titles;
    for (const QAction* action : app.trayMenu().actions()) {
        titles << action->text();
    }
    EXPECT_TRUE(titles.contains("Quit Corvane")) << titles.join(", ").toStdString();

    app.showSettingsWindow();
    app.showPanel();
    app.closePanel();
    EXPECT_FALSE(app.panel().isVisible());
}

}  // namespace
}  // namespace corvane::test
