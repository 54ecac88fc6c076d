#include "MenuBar/MenuBarRules.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MenuBar/MenuBarView.h"
#include "MenuBar/RelativeTime.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(RelativeTimeTest, OneUnitRoundedDown)
{
    struct Case {
        std::chrono::seconds elapsed;
        const char* text;
    };
    const std::chrono::system_clock::time_point now{std::chrono::seconds(1'800'000'000)};
    for (const Case& c : {
             Case{-30s, "0 sec"},  // a stamp from a clock ahead of ours
             Case{0s, "0 sec"},        Case{1s, "1 sec"},          Case{59s, "59 sec"},
             Case{60s, "1 min"},       Case{5min + 59s, "5 min"},  Case{59min + 59s, "59 min"},
             Case{1h, "1 hr"},         Case{23h + 59min, "23 hr"}, Case{24h, "1 day"},
             Case{47h, "1 day"},       Case{48h, "2 days"},        Case{6 * 24h + 23h, "6 days"},
             Case{7 * 24h, "1 wk"},    Case{29 * 24h, "4 wk"},     Case{30 * 24h, "1 mo"},
             Case{364 * 24h, "12 mo"}, Case{365 * 24h, "1 yr"},    Case{3 * 365 * 24h, "3 yr"},
         }) {
        EXPECT_EQ(relativeTime(now - c.elapsed, now).toStdString(), c.text) << c.elapsed.count();
    }
    // Parts of a second do not count; a date of the state reads the same way.
    EXPECT_EQ(relativeTime(now - 1999ms, now), "1 sec");
    const QDateTime then = QDateTime::fromSecsSinceEpoch(1'800'000'000 - 5 * 60);
    EXPECT_EQ(relativeTime(then, now), "5 min");
}

TEST(MenuBarRulesTest, TransferRowsAndTheLineCountingTheRest)
{
    struct Case {
        std::size_t active;
        std::size_t rows;
        const char* more;
    };
    for (const Case& c : {Case{0, 0, ""}, Case{1, 1, ""}, Case{5, 5, ""},
                          Case{6, 5, "and 1 more..."}, Case{12, 5, "and 7 more..."}}) {
        EXPECT_EQ(MenuBarRules::transferRowCount(c.active), c.rows) << c.active;
        EXPECT_EQ(MenuBarRules::moreTransfersText(c.active).toStdString(), c.more) << c.active;
    }
    EXPECT_EQ(MenuBarRules::recentRowCount(0), 0u);
    EXPECT_EQ(MenuBarRules::recentRowCount(8), 8u);
    EXPECT_EQ(MenuBarRules::recentRowCount(50), 8u);
}

TEST(MenuBarRulesTest, TheFolderOfAnItemNeverLiesOutsideTheSyncFolder)
{
    struct Case {
        const char* syncDir;
        const char* filePath;
        const char* folder;
    };
    for (const Case& c : {
             Case{"/home/ada/Corvane", "/Docs/a.txt", "/home/ada/Corvane/Docs"},
             Case{"/home/ada/Corvane", "/Docs/Sub/b c.txt", "/home/ada/Corvane/Docs/Sub"},
             Case{"/home/ada/Corvane", "/a.txt", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "a.txt", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "/Docs/", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane/", "/Docs/a.txt", "/home/ada/Corvane/Docs"},
             Case{"/", "/Docs/a.txt", "/Docs"},
             // Nothing to drop: the sync folder itself, not its parent.
             Case{"/home/ada/Corvane", "", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "/", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "//", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "/./Docs/./a.txt", "/home/ada/Corvane/Docs"},
             Case{"/home/ada/Corvane", "/Docs/../Other/a.txt", "/home/ada/Corvane/Other"},
             Case{"/home/ada/Corvane", "/../../etc/passwd", "/home/ada/Corvane"},
             Case{"/home/ada/Corvane", "/Docs/../../x/a.txt", "/home/ada/Corvane"},
         }) {
        EXPECT_EQ(MenuBarRules::folderOfItem(c.syncDir, c.filePath).toStdString(), c.folder)
            << c.syncDir << " + " << c.filePath;
    }
}

TEST(MenuBarRulesTest, StatusColours)
{
    struct Case {
        SyncStatus status;
        QColor color;
    };
    for (const Case& c : {Case{SyncStatus::idle, SystemColors::green()},
                          Case{SyncStatus::syncing, SystemColors::blue()},
                          Case{SyncStatus::error, SystemColors::red()},
                          Case{SyncStatus::offline, SystemColors::gray()},
                          Case{SyncStatus::paused, SystemColors::orange()}}) {
        EXPECT_EQ(MenuBarRules::statusColor(c.status), c.color) << c.status;
    }
    // The platform's named colours, as far as a palette can tell them apart.
    EXPECT_EQ(SystemColors::green(), QColor(52, 199, 89));
    EXPECT_EQ(SystemColors::blue(), QColor(0, 122, 255));
    EXPECT_EQ(SystemColors::red(), QColor(255, 59, 48));
    EXPECT_EQ(SystemColors::gray(), QColor(142, 142, 147));
    EXPECT_EQ(SystemColors::orange(), QColor(255, 149, 0));
}

TEST(MenuBarRulesTest, VersionLineOnlyWithBothParts)
{
    EXPECT_EQ(MenuBarRules::versionText("1.2", "34"), "v1.2 (34)");
    EXPECT_EQ(MenuBarRules::versionText("0.1.0", "252"), "v0.1.0 (252)");
    EXPECT_TRUE(MenuBarRules::versionText("", "34").isEmpty());
    EXPECT_TRUE(MenuBarRules::versionText("1.2", "").isEmpty());
    EXPECT_TRUE(MenuBarRules::versionText(QString(), QString()).isEmpty());
}

TEST(MenuBarRulesTest, ActionRowsInOrder)
{
    using MenuBarRules::Action;
    std::vector<std::string> rows;
    for (const Action action : MenuBarRules::kActions) {
        const auto row = MenuBarRules::actionRow(action, false);
        rows.push_back(row.icon.toStdString() + " " + row.title.toStdString());
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"pause.fill Pause Sync", "folder Open Sync Folder",
                                              "gearshape Preferences...", "doc.text Export Logs...",
                                              "rectangle.portrait.and.arrow.right Log Out"}));
    const auto paused = MenuBarRules::actionRow(Action::togglePause, true);
    EXPECT_EQ(paused.icon, "play.fill");
    EXPECT_EQ(paused.title, "Resume Sync");
    // Only the first row follows the pause.
    EXPECT_EQ(MenuBarRules::actionRow(Action::logOut, true).title, "Log Out");
}

TEST(PopupPositionTest, AtTheIconOrThePointerAndInsideTheScreen)
{
    struct Case {
        const char* name;
        QRect icon;
        QPoint pointer;
        QPoint position;
    };
    const QSize panel(340, 400);
    const QRect screen(0, 30, 1920, 1050);  // a top bar of 30 pixels
    for (const Case& c : {
             Case{"below an icon in a top bar", QRect(1000, 4, 22, 22), {}, {840, 30}},
             Case{"above an icon in a bottom bar", QRect(1000, 1054, 22, 22), {}, {840, 654}},
             Case{"kept off the right edge", QRect(1900, 4, 20, 22), {}, {1580, 30}},
             Case{"kept off the left edge", QRect(0, 4, 20, 22), {}, {0, 30}},
             Case{"at the pointer without a geometry", QRect(), {500, 300}, {330, 301}},
             Case{"at the pointer low on the screen", QRect(), {500, 900}, {330, 500}},
         }) {
        EXPECT_EQ(MenuBarView::popupPosition(panel, c.icon, c.pointer, screen), c.position)
            << c.name;
    }
    // Taller than the screen: the top stays in view.
    EXPECT_EQ(MenuBarView::popupPosition(QSize(340, 2000), QRect(1000, 1054, 22, 22), {}, screen),
              QPoint(840, 30));
}

TEST(PanelWindowTest, APopupButOnWaylandAToolWindowThatClosesWithTheFocus)
{
    for (const char* platform : {"xcb", "offscreen", ""}) {
        EXPECT_EQ(MenuBarView::panelWindowFlags(platform), Qt::Popup | Qt::FramelessWindowHint)
            << platform;
    }
    for (const char* platform : {"wayland", "wayland-egl"}) {
        EXPECT_EQ(MenuBarView::panelWindowFlags(platform),
                  Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
            << platform;
    }
}

}  // namespace
}  // namespace corvane::test
