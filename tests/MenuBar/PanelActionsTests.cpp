#include "MenuBar/PanelActions.h"

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <zip.h>

#include "MenuBar/ActionsSection.h"
#include "MenuBar/MenuButton.h"
#include "MenuBar/PanelFixture.h"
#include "MenuBar/PanelFooter.h"
#include "MenuBar/RecentActivityRow.h"
#include "MenuBar/RecentActivitySection.h"
#include "MenuBar/SignedOutNotice.h"
#include "MenuBar/SymbolLabel.h"
#include "Platform/FileURL.h"
#include "Platform/Paths.h"

namespace corvane::test {
namespace {

using MenuBarRules::Action;

class PanelActionsTest : public testing::Test, public PanelFixture {
protected:
    MenuBarView& signedInPanel()
    {
        makePanelState();
        signIn();
        return makePanel();
    }

    void click(MenuBarView& view, Action action)
    {
        QTest::mouseClick(&view.actionsSection().button(action), Qt::LeftButton);
    }

    // Runs "Export Logs..." and waits for its result to be applied.
    void exportThroughThePanel(MenuBarView& view)
    {
        QSignalSpy finished(&view.actions(), &PanelActions::exportFinished);
        click(view, Action::exportLogs);
        ASSERT_TRUE(runUntil([&] { return finished.count() == 1; }, 60s));
    }

    std::string syncURL(const std::string& below = "") const
    {
        return fileURL(state->syncDir().toStdString() + below);
    }
};

TEST_F(PanelActionsTest, PauseFlipsTheRowAndStopsAndStartsTheEngine)
{
    MenuBarView& view = signedInPanel();
    MenuButton& pause = view.actionsSection().button(Action::togglePause);
    EXPECT_EQ(pause.title(), "Pause Sync");
    EXPECT_EQ(pause.symbol().symbolName(), "pause.fill");
    const auto first = state->syncEngine();
    ASSERT_TRUE(first);

    click(view, Action::togglePause);
    EXPECT_TRUE(state->isPaused());
    EXPECT_EQ(state->syncEngine(), nullptr);
    EXPECT_FALSE(first->isRunning());
    EXPECT_EQ(pause.title(), "Resume Sync");
    EXPECT_EQ(pause.symbol().symbolName(), "play.fill");
    EXPECT_TRUE(view.isVisible());

    click(view, Action::togglePause);
    EXPECT_FALSE(state->isPaused());
    ASSERT_TRUE(state->syncEngine());
    EXPECT_NE(state->syncEngine(), first);
    EXPECT_TRUE(state->syncEngine()->isRunning());
    EXPECT_EQ(pause.title(), "Pause Sync");
}

TEST_F(PanelActionsTest, LogOutSignsOutOnceAndTheNoticeFollows)
{
    MenuBarView& view = signedInPanel();
    QSignalSpy phase(state.get(), &AppState::phaseChanged);
    QSignalSpy signedIn(state.get(), &AppState::isLoggedInChanged);
    click(view, Action::logOut);
    EXPECT_EQ(phase.count(), 1);
    EXPECT_EQ(signedIn.count(), 1);
    EXPECT_FALSE(state->isLoggedIn());
    EXPECT_EQ(state->syncEngine(), nullptr);
    EXPECT_FALSE(view.signedOutNotice().isHidden());
    EXPECT_TRUE(scenes.calls.empty());
}

TEST_F(PanelActionsTest, QuitStopsSyncBeforeTheApplicationEnds)
{
    MenuBarView& view = signedInPanel();
    const auto engine = state->syncEngine();
    QTest::mouseClick(&const_cast<QPushButton&>(view.footer().quitButton()), Qt::LeftButton);
    ASSERT_EQ(scenes.names(), std::vector<std::string>{"quit"});
    EXPECT_FALSE(scenes.calls.front().syncRunning);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_TRUE(state->isLoggedIn());  // quitting is no sign-out
}

TEST_F(PanelActionsTest, LogInShowsTheSetupWindowAfterThePanelClosed)
{
    MenuBarView& view = makePanel();
    QTest::mouseClick(&const_cast<QPushButton&>(view.signedOutNotice().logInButton()),
                      Qt::LeftButton);
    ASSERT_EQ(scenes.names(), (std::vector<std::string>{"closePanel", "showSetupWindow"}));
    EXPECT_FALSE(scenes.calls.back().panelOpen);
}

TEST_F(PanelActionsTest, PreferencesShowTheSettingsWindowAtALaterTurnAfterThePanelClosed)
{
    MenuBarView& view = signedInPanel();
    click(view, Action::preferences);
    EXPECT_EQ(scenes.names(), std::vector<std::string>{"closePanel"});  // not within the click
    EXPECT_FALSE(view.isVisible());
    ASSERT_TRUE(runUntil([&] { return scenes.calls.size() == 2; }, 2s));
    EXPECT_EQ(scenes.names(), (std::vector<std::string>{"closePanel", "showSettingsWindow"}));
    EXPECT_FALSE(scenes.calls.back().panelOpen);
}

TEST_F(PanelActionsTest, OpenSyncFolderOpensItsFileURL)
{
    MenuBarView& view = signedInPanel();
    click(view, Action::openSyncFolder);
    EXPECT_EQ(workspace->opened(), std::vector<std::string>{syncURL()});
}

TEST_F(PanelActionsTest, ARowClickAnywhereOpensTheFolderHoldingTheFile)
{
    makePanelState();
    signIn();
    // Newest first: the rows read "/" , "", "/a.txt", "/Docs/a b.txt".
    for (const char* path : {"/Docs/a b.txt", "/a.txt", "", "/"}) {
        feed().addActivity(ActivityType::upload, "a.txt", path);
    }
    MenuBarView& view = makePanel();
    const auto rows = view.recentSection().rows();
    ASSERT_EQ(rows.size(), 4u);
    // The empty middle, the name and the right-hand margin all count.
    QTest::mouseClick(rows[3], Qt::LeftButton, {}, QPoint(rows[3]->width() - 4, 3));
    QTest::mouseClick(rows[2], Qt::LeftButton, {}, rows[2]->rect().center());
    QTest::mouseClick(rows[1], Qt::LeftButton, {}, QPoint(2, rows[1]->height() / 2));
    QTest::mouseClick(rows[0], Qt::LeftButton, {}, rows[0]->rect().center());
    EXPECT_EQ(workspace->opened(),
              (std::vector<std::string>{syncURL("/Docs"), syncURL(), syncURL(), syncURL()}));
}

TEST_F(PanelActionsTest, ASuccessfulExportSelectsTheArchiveOnTheMainThread)
{
    logExport.archive = home.path() / "Desktop" / "corvane-logs-20240501-093000.zip";
    MenuBarView& view = signedInPanel();
    exportThroughThePanel(view);
    EXPECT_EQ(logExport.calls(), 1);
    EXPECT_TRUE(logExport.ranOffTheMainThread());
    EXPECT_EQ(logExport.lastSyncDir(), state->syncDir().toStdString());
    EXPECT_EQ(workspace->selected(), std::vector<fs::path>{*logExport.archive});
    EXPECT_TRUE(workspace->selectedOnMainThread());
    EXPECT_EQ(view.actionsSection().exportErrorText(), "");
    EXPECT_EQ(loggedText().find("log export failed"), std::string::npos);
}

TEST_F(PanelActionsTest, AFailedExportShowsALineAndIsLoggedUntilTheNextExportStarts)
{
    MenuBarView& view = signedInPanel();
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws);
        logExport.throws = throws;
        exportThroughThePanel(view);
        EXPECT_EQ(view.actionsSection().exportErrorText(), "Could not export the logs");
        const auto* line = view.findChild<QLabel*>("exportError");
        EXPECT_EQ(line->textFormat(), Qt::PlainText);
        EXPECT_EQ(line->palette().color(QPalette::WindowText), SystemColors::red());
        EXPECT_TRUE(workspace->selected().empty());
    }
    const std::string logged = loggedText();
    EXPECT_NE(logged.find("log export failed"), std::string::npos) << logged;
    EXPECT_NE(logged.find("disk full"), std::string::npos) << logged;
    savePanelPng(QStringLiteral("panel-export-failed"));

    logExport.throws = false;
    logExport.archive = home.path() / "Desktop" / "logs.zip";
    logExport.holdUntilReleased();
    click(view, Action::exportLogs);
    EXPECT_EQ(view.actionsSection().exportErrorText(), "");  // gone as the next one starts
    logExport.release();
    ASSERT_TRUE(runUntil([&] { return workspace->selected().size() == 1; }, 10s));
}

TEST_F(PanelActionsTest, TheExportRunsOffTheMainThreadWhileThePanelKeepsResponding)
{
    logExport.archive = home.path() / "Desktop" / "logs.zip";
    logExport.holdUntilReleased();
    MenuBarView& view = signedInPanel();
    click(view, Action::exportLogs);  // returns while the export is held
    ASSERT_TRUE(logExport.waitForStart());

    // The loop turns, and the panel answers clicks, while the export is under way.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }, 5s));
    click(view, Action::togglePause);
    EXPECT_EQ(view.actionsSection().button(Action::togglePause).title(), "Resume Sync");
    EXPECT_TRUE(workspace->selected().empty());

    logExport.release();
    ASSERT_TRUE(runUntil([&] { return workspace->selected().size() == 1; }, 10s));
    EXPECT_TRUE(workspace->selectedOnMainThread());
}

// The entries of a zip: name -> (size, CRC).
std::map<std::string, std::pair<zip_uint64_t, zip_uint32_t>> zipEntries(const fs::path& file)
{
    std::map<std::string, std::pair<zip_uint64_t, zip_uint32_t>> entries;
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_RDONLY, &error);
    if (!archive) {
        ADD_FAILURE() << "cannot open " << file;
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        entries[stat.name] = {stat.size, stat.crc};
    }
    zip_discard(archive);
    return entries;
}

TEST_F(PanelActionsTest, AFullLogFolderExportsOffTheMainThreadAsTheBlockingExportDoes)
{
    // Six files of 10 MiB: the log and its five backups.
    std::string block;
    for (int line = 0; block.size() < (1U << 20); ++line) {
        block += "2024-05-01T09:30:00.000Z [INFO] [sync] file uploaded path=/Docs/" +
                 std::to_string(line) + ".txt\n";
    }
    block.resize(1U << 20);
    const std::vector<std::string> names{"corvane.log",
                                         "corvane.log.20240501-093001",
                                         "corvane.log.20240501-093002",
                                         "corvane.log.20240501-093003",
                                         "corvane.log.20240501-093004",
                                         "corvane.log.20240501-093005"};
    for (const std::string& name : names) {
        std::ofstream file(logDir / name, std::ios::binary | std::ios::trunc);
        for (int mib = 0; mib < 10; ++mib) {
            file << block;
        }
    }
    makePanelState();
    signIn();
    MenuBarView& view = makePanel(LogExport::of(logger));
    exportThroughThePanel(view);
    ASSERT_EQ(workspace->selected().size(), 1u);
    const fs::path selected = workspace->selected().front();
    EXPECT_EQ(selected.parent_path(), Paths::desktop());
    EXPECT_EQ(view.actionsSection().exportErrorText(), "");

    ++loggerSeconds;  // a name of its own
    const auto blocking = logger.exportLogs(state->syncDir().toStdString());
    ASSERT_TRUE(blocking);
    const auto entries = zipEntries(selected);
    EXPECT_EQ(entries, zipEntries(*blocking));
    EXPECT_EQ(entries.size(), names.size() + 1);  // and "logs/"
    EXPECT_EQ(entries.at("logs/corvane.log").first, 10U << 20);
}

TEST_F(PanelActionsTest, TheContextMenuOffersTheSameActionsAndFollowsTheState)
{
    makePanelState();
    MenuBarView& view = makePanel();
    const std::unique_ptr<QMenu> menu = view.buildContextMenu();
    const auto entries = [&] {
        std::vector<std::string> shown;
        for (const QAction* action : menu->actions()) {
            if (action->isVisible()) {
                shown.push_back(action->isSeparator() ? "-" : action->text().toStdString());
            }
        }
        return shown;
    };
    const auto entry = [&](const char* name) { return menu->findChild<QAction*>(name); };
    EXPECT_EQ(entries(), (std::vector<std::string>{"Log In...", "-", "Quit Corvane"}));

    signIn();
    const std::vector<std::string> signedIn{
        "Pause Sync", "Open Sync Folder", "Preferences...", "Export Logs...", "-", "Log Out",
        "-",          "Quit Corvane"};
    EXPECT_EQ(entries(), signedIn);

    entry("togglePause")->trigger();
    EXPECT_TRUE(state->isPaused());
    EXPECT_EQ(entry("togglePause")->text(), "Resume Sync");
    entry("togglePause")->trigger();
    entry("openSyncFolder")->trigger();
    EXPECT_EQ(workspace->opened(), std::vector<std::string>{syncURL()});

    logExport.archive.reset();
    QSignalSpy finished(&view.actions(), &PanelActions::exportFinished);
    entry("exportLogs")->trigger();
    ASSERT_TRUE(runUntil([&] { return finished.count() == 1; }, 10s));
    EXPECT_TRUE(entry("exportError")->isVisible());
    EXPECT_FALSE(entry("exportError")->isEnabled());
    EXPECT_EQ(entry("exportError")->text(), "Could not export the logs");

    entry("preferences")->trigger();
    ASSERT_TRUE(runUntil([&] { return scenes.calls.size() == 2; }, 2s));
    EXPECT_EQ(scenes.names(), (std::vector<std::string>{"closePanel", "showSettingsWindow"}));

    entry("logOut")->trigger();
    EXPECT_FALSE(state->isLoggedIn());
    EXPECT_EQ(entries(), (std::vector<std::string>{"Log In...", "-", "Quit Corvane"}));
    entry("logIn")->trigger();
    entry("quit")->trigger();
    EXPECT_EQ(scenes.names(), (std::vector<std::string>{"closePanel", "showSettingsWindow",
                                                        "closePanel", "showSetupWindow", "quit"}));
}

}  // namespace
}  // namespace corvane::test
