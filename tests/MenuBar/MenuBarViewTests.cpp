#include "MenuBar/MenuBarView.h"

#include <string>
#include <vector>

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "App/SymbolIcon.h"
#include "MenuBar/ActionsSection.h"
#include "MenuBar/MenuBarRules.h"
#include "MenuBar/MenuButton.h"
#include "MenuBar/PanelFixture.h"
#include "MenuBar/PanelFooter.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/RecentActivityRow.h"
#include "MenuBar/RecentActivitySection.h"
#include "MenuBar/SignedOutNotice.h"
#include "MenuBar/StatusBadge.h"
#include "MenuBar/StatusHeader.h"
#include "MenuBar/SymbolLabel.h"
#include "MenuBar/TransferRow.h"
#include "MenuBar/TransfersSection.h"
#include "corvane/Version.h"

namespace corvane::test {
namespace {

using MenuBarRules::Action;

// The object names of the shown widgets of `container`'s layout, in order.
std::vector<std::string> shownParts(const QWidget& container)
{
    std::vector<std::string> parts;
    const QLayout* layout = container.layout();
    for (int i = 0; i < layout->count(); ++i) {
        const QWidget* widget = layout->itemAt(i)->widget();
        if (widget && !widget->isHidden()) {
            parts.push_back(widget->objectName().toStdString());
        }
    }
    return parts;
}

const QWidget& child(const QWidget& parent, const char* name)
{
    const auto* found = parent.findChild<QWidget*>(QString::fromLatin1(name));
    if (!found) {
        throw std::runtime_error(std::string("no widget ") + name);
    }
    return *found;
}

void startTransfers(ActivityManager& feed, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string name = "file-" + std::to_string(i) + ".bin";
        feed.startTransfer("t" + std::to_string(i),
                           i % 2 == 0 ? ActivityType::upload : ActivityType::download, name,
                           "/Projects/" + name, 1'500'000 * (i + 1));
        feed.updateProgress("t" + std::to_string(i), 150'000 * (i + 1) * (i % 5));
    }
}

class MenuBarViewTest : public testing::Test, public PanelFixture {};

TEST_F(MenuBarViewTest, SignedOutShowsOnlyTheNoticeAndTheFooter)
{
    MenuBarView& view = makePanel();
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.width(), 340);
    EXPECT_TRUE(view.windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(view.windowFlags().testFlag(Qt::FramelessWindowHint));
    const QWidget& content = child(view, "panelContent");
    EXPECT_EQ(shownParts(content),
              (std::vector<std::string>{"signedOutNotice", "divider", "footer"}));

    const SignedOutNotice& notice = view.signedOutNotice();
    EXPECT_EQ(static_cast<const SymbolLabel&>(child(notice, "notConnectedSymbol")).symbolName(),
              "icloud.slash");
    const auto& title = static_cast<const QLabel&>(child(notice, "notConnected"));
    EXPECT_EQ(title.text(), "Not connected");
    EXPECT_EQ(notice.logInButton().text(), "Log In...");
    EXPECT_EQ(view.footer().quitButton().text(), "Quit Corvane");
    savePanelPng(QStringLiteral("panel-signed-out"));
}

TEST_F(MenuBarViewTest, SignedInShowsTheSectionsInOrderAndTransfersOnlyWhileTheyRun)
{
    makePanelState();
    signIn();
    MenuBarView& view = makePanel();
    const QWidget& content = child(view, "panelContent");
    EXPECT_EQ(shownParts(content),
              (std::vector<std::string>{"signedInContent", "divider", "footer"}));
    const QWidget& signedIn = child(view, "signedInContent");
    const std::vector<std::string> idle{"statusHeader", "divider", "recentSection", "divider",
                                        "actionsSection"};
    EXPECT_EQ(shownParts(signedIn), idle);

    feed().startTransfer("t", ActivityType::upload, "a.txt", "/a.txt", 10);
    settle();
    EXPECT_EQ(
        shownParts(signedIn),
        (std::vector<std::string>{"statusHeader", "divider", "transfersSection", "transfersDivider",
                                  "recentSection", "divider", "actionsSection"}));
    feed().completeTransfer("t");
    settle();
    EXPECT_EQ(shownParts(signedIn), idle);

    // Signing out switches at once to the notice.
    state->logout();
    EXPECT_EQ(shownParts(content),
              (std::vector<std::string>{"signedOutNotice", "divider", "footer"}));
}

TEST_F(MenuBarViewTest, AtMostFiveTransferRowsAndALineForTheRest)
{
    makePanelState();
    signIn(SyncStatus::syncing);
    MenuBarView& view = makePanel();
    struct Case {
        int transfers;
        std::size_t rows;
        const char* more;
    };
    for (const Case& c : {Case{1, 1, ""}, Case{5, 5, ""}, Case{6, 5, "and 1 more..."},
                          Case{12, 5, "and 7 more..."}, Case{7, 5, "and 2 more..."}}) {
        SCOPED_TRACE(c.transfers);
        while (feed().activeCount() > 0) {
            feed().completeTransfer(feed().activeTransfers().front().id);
        }
        startTransfers(feed(), c.transfers);
        settle();
        const auto rows = view.transfersSection().rows();
        ASSERT_EQ(rows.size(), c.rows);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ActivityItem& item = feed().activeTransfers()[i];
            EXPECT_EQ(rows[i]->fileName().toStdString(), item.fileName);
            EXPECT_EQ(rows[i]->statusText().toStdString(), item.statusText());
            EXPECT_EQ(rows[i]->symbol().symbolName().toStdString(), item.icon());
            EXPECT_EQ(rows[i]->symbol().color(), SystemColors::blue());  // whatever the type
        }
        EXPECT_EQ(view.transfersSection().moreText().toStdString(), c.more);
        EXPECT_EQ(static_cast<const QLabel&>(child(view, "syncingTitle")).text(), "SYNCING");
    }
    EXPECT_EQ(view.header().summary(), state->statusSummary());
    EXPECT_EQ(view.header().badge().symbolName(), "arrow.triangle.2.circlepath.icloud");
    savePanelPng(QStringLiteral("panel-syncing-7-transfers"));
}

TEST_F(MenuBarViewTest, ProgressMovesTheBarAndTheSummaryWithoutAnyOtherChange)
{
    makePanelState();
    signIn();
    MenuBarView& view = makePanel();
    feed().startTransfer("t", ActivityType::download, "movie.mkv", "/movie.mkv", 2'000'000);
    settle();
    ASSERT_EQ(view.transfersSection().rows().size(), 1u);
    const TransferRow& row = *view.transfersSection().rows().front();
    EXPECT_EQ(row.progressValue(), 0);
    EXPECT_EQ(view.header().summary(), "Syncing 1 file (0%)");

    QSignalSpy status(state.get(), &AppState::syncStatusChanged);
    feed().updateProgress("t", 1'000'000);
    ASSERT_TRUE(runUntil([&] { return row.progressValue() == 500; }, 2s));
    EXPECT_EQ(row.statusText(), "50% - 1 MB / 2 MB");
    EXPECT_EQ(view.header().summary(), "Syncing 1 file (50%)");
    feed().updateProgress("t", 1'500'000);
    ASSERT_TRUE(runUntil([&] { return row.progressValue() == 750; }, 2s));
    EXPECT_EQ(view.header().summary(), "Syncing 1 file (75%)");
    EXPECT_EQ(status.count(), 0);  // the feed alone moved them
}

TEST_F(MenuBarViewTest, RecentRowsShowTheEightNewestOrANotice)
{
    makePanelState();
    signIn();
    MenuBarView& view = makePanel();
    RecentActivitySection& recent = view.recentSection();
    EXPECT_TRUE(recent.showsEmptyNotice());
    EXPECT_TRUE(recent.list().isHidden());
    EXPECT_EQ(static_cast<const QLabel&>(child(view, "noRecentActivity")).text(),
              "No recent activity");

    for (int i = 0; i < 9; ++i) {
        feed().addActivity(ActivityType::delete_, "old-" + std::to_string(i) + ".txt",
                           "/old-" + std::to_string(i) + ".txt");
    }
    settle();
    EXPECT_FALSE(recent.showsEmptyNotice());
    EXPECT_FALSE(recent.list().isHidden());
    const auto rows = recent.rows();
    ASSERT_EQ(rows.size(), 8u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->fileName().toStdString(), feed().recentActivities()[i].fileName);
        EXPECT_EQ(rows[i]->symbol().symbolName(), "trash.circle");
        EXPECT_EQ(rows[i]->timeText(), "0 sec ago");
    }
    EXPECT_EQ(rows.front()->fileName(), "old-8.txt");  // newest first
    // At most 200 pixels high; the rest scrolls.
    EXPECT_LE(recent.list().height(), RecentActivitySection::kMaxListHeight);
    EXPECT_GT(recent.list().verticalScrollBar()->maximum(), 0);
}

TEST_F(MenuBarViewTest, AFailedRowIsRedWithAMarkerAndOthersAreNot)
{
    makePanelState();
    signIn();
    feed().startTransfer("up", ActivityType::upload, "report.pdf", "/Docs/report.pdf", 100);
    feed().failTransfer("up", "Request failed");
    feed().startTransfer("down", ActivityType::download, "photo.jpg", "/photo.jpg", 100);
    feed().completeTransfer("down");
    feed().addActivity(ActivityType::conflict, "notes (conflict).txt", "/notes (conflict).txt");
    MenuBarView& view = makePanel();
    const auto rows = view.recentSection().rows();
    ASSERT_EQ(rows.size(), 3u);
    const RecentActivityRow& failed = *rows[2];
    EXPECT_EQ(failed.fileName(), "report.pdf");
    EXPECT_EQ(failed.symbol().symbolName(), "arrow.up.circle");
    EXPECT_EQ(failed.symbol().color(), SystemColors::red());
    ASSERT_NE(failed.failedMarker(), nullptr);
    EXPECT_EQ(failed.failedMarker()->symbolName(), "exclamationmark.circle.fill");
    EXPECT_EQ(failed.failedMarker()->color(), SystemColors::red());
    EXPECT_EQ(failed.accessibleDescription(), "Request failed");
    for (const RecentActivityRow* row : {rows[0], rows[1]}) {
        EXPECT_EQ(row->symbol().color(), PanelStyle::secondaryColor(*row));
        EXPECT_EQ(row->failedMarker(), nullptr);
    }
    EXPECT_EQ(rows[1]->symbol().symbolName(), "arrow.down.circle");
    EXPECT_EQ(rows[0]->symbol().symbolName(), "exclamationmark.triangle");
    savePanelPng(QStringLiteral("panel-failed-item"));
}

TEST_F(MenuBarViewTest, TheHeaderIsTintedByTheStatusWhateverTheTransfers)
{
    makePanelState();
    signIn();
    MenuBarView& view = makePanel();
    const StatusBadge& badge = view.header().badge();
    EXPECT_EQ(badge.symbolName(), "checkmark.icloud");
    EXPECT_EQ(badge.tint(), SystemColors::green());
    EXPECT_EQ(view.header().summary(), "Up to date");

    engines.back().parts.onError("Request failed");
    ASSERT_TRUE(runUntil([&] { return badge.tint() == SystemColors::red(); }, 5s));
    EXPECT_EQ(badge.symbolName(), "exclamationmark.icloud");
    EXPECT_EQ(view.header().summary(), "Sync Error");

    state->togglePause();
    EXPECT_EQ(badge.symbolName(), "pause.circle");
    EXPECT_EQ(badge.tint(), SystemColors::orange());
    EXPECT_EQ(view.header().summary(), "Paused");

    // Transfers name the icon and the summary; the tint stays the status's.
    feed().startTransfer("t", ActivityType::upload, "a.txt", "/a.txt", 100);
    settle();
    EXPECT_EQ(badge.symbolName(), "arrow.triangle.2.circlepath.icloud");
    EXPECT_EQ(badge.tint(), SystemColors::orange());
    EXPECT_EQ(view.header().summary(), "Syncing 1 file (0%)");
}

TEST_F(MenuBarViewTest, LastSyncLineAppearsAfterTheFirstSyncAndKeepsCurrentWhileShown)
{
    makePanelState();
    state->login("token", "ada@example.com");
    MenuBarView& view = makePanel();
    ASSERT_TRUE(runUntil([&] { return state->syncStatus() == SyncStatus::error; }, 10s));
    EXPECT_EQ(view.header().lastSyncText(), "");
    EXPECT_EQ(view.header().email(), "ada@example.com");

    engines.back().parts.onStatusChange(SyncStatus::idle);
    ASSERT_TRUE(runUntil([&] { return !view.header().lastSyncText().isEmpty(); }, 5s));
    EXPECT_EQ(view.header().lastSyncText(), "Last sync: 0 sec ago");

    now += std::chrono::minutes(5);
    ASSERT_TRUE(runUntil([&] { return view.header().lastSyncText() == "Last sync: 5 min ago"; },
                         MenuBarView::kTimeRefreshInterval + 1s));

    // Hidden, nothing is kept current; shown again, it is read afresh.
    view.close();
    now += std::chrono::hours(3);
    runUntil([] { return false; }, MenuBarView::kTimeRefreshInterval + 200ms);
    EXPECT_EQ(view.header().lastSyncText(), "Last sync: 5 min ago");
    view.showAt(QRect());
    EXPECT_EQ(view.header().lastSyncText(), "Last sync: 3 hr ago");
}

TEST_F(MenuBarViewTest, ALongAddressStaysOnOneLineAtTheRightEdge)
{
    makePanelState();
    const std::string email =
        "a.very.long.address.that.does.not.fit.beside.the.summary@example.com";
    state->login("token", QString::fromStdString(email));
    ASSERT_TRUE(runUntil([&] { return state->syncStatus() == SyncStatus::error; }, 10s));
    MenuBarView& view = makePanel();
    const auto& label = static_cast<const QLabel&>(child(view, "userEmail"));
    EXPECT_EQ(view.header().email().toStdString(), email);
    EXPECT_EQ(label.accessibleName().toStdString(), email);
    EXPECT_TRUE(label.text().endsWith(QChar(0x2026))) << label.text().toStdString();
    EXPECT_EQ(label.height(), label.fontMetrics().height());
    const QPoint right = label.mapTo(&view, QPoint(label.width(), 0));
    EXPECT_EQ(right.x(), view.width() - PanelStyle::kSideInset);
    EXPECT_EQ(view.header().summary(), "Sync Error");  // not cut for the address
}

TEST_F(MenuBarViewTest, NamesFromTheDiskAreShownAsWrittenNeverAsMarkup)
{
    makePanelState();
    signIn();
    feed().addActivity(ActivityType::upload, "<b>bold</b> &amp; R&D.txt", "/x.txt");
    feed().startTransfer("t", ActivityType::upload, "<i>x</i>.txt", "/y.txt", 0);
    MenuBarView& view = makePanel();
    const auto* name = view.recentSection().rows().front()->findChild<QLabel*>("recentName");
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(name->text(), "<b>bold</b> &amp; R&D.txt");
    const auto* transfer = view.findChild<QLabel*>("transferName");
    EXPECT_EQ(transfer->textFormat(), Qt::PlainText);
    EXPECT_EQ(transfer->text(), "<i>x</i>.txt");
    EXPECT_EQ(view.transfersSection().rows().front()->statusText(), "In progress...");
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
}

TEST_F(MenuBarViewTest, EveryControlHasANameAndRowsAreFoundByTheirTexts)
{
    makePanelState();
    signIn();
    feed().addActivity(ActivityType::upload, "a.txt", "/a.txt");
    feed().startTransfer("t", ActivityType::download, "b.txt", "/b.txt", 10);
    MenuBarView& view = makePanel();
    std::vector<std::string> names;
    for (const QAbstractButton* button : view.findChildren<QAbstractButton*>()) {
        EXPECT_FALSE(button->objectName().isEmpty());
        if (button->isVisibleTo(&view)) {
            names.push_back(button->accessibleName().toStdString());
        }
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.txt", "Pause Sync", "Open Sync Folder", "Preferences...",
                                        "Export Logs...", "Log Out", "Quit Corvane"}));
    // The keyboard walks them in the same order.
    std::vector<std::string> focusOrder;
    for (QWidget* widget = view.nextInFocusChain(); widget != &view;
         widget = widget->nextInFocusChain()) {
        if (widget->isVisibleTo(&view) && (widget->focusPolicy() & Qt::TabFocus) != 0) {
            focusOrder.push_back(widget->accessibleName().toStdString());
        }
    }
    EXPECT_EQ(focusOrder, names);
    EXPECT_EQ(view.transfersSection().rows().front()->accessibleName(), "b.txt");
    EXPECT_EQ(view.findChild<QProgressBar*>()->accessibleName(), "Progress of b.txt");
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&view) && !label->text().isEmpty()) {
            EXPECT_EQ(label->accessibleName(), label->text()) << label->objectName().toStdString();
        }
    }
}

TEST_F(MenuBarViewTest, TheVersionLineComesFromTheBuildAndIsLeftOutWithoutOne)
{
    MenuBarView& view = makePanel();
    EXPECT_EQ(view.footer().versionText(),
              MenuBarRules::versionText(QString::fromUtf8(kVersion), QString::fromUtf8(kBuild)));
    EXPECT_EQ(view.footer().versionText(),
              QStringLiteral("v%1 (%2)").arg(QString::fromUtf8(kVersion), kBuild));

    PanelFooter bare{QString()};
    bare.setFixedWidth(340);
    bare.show();
    EXPECT_EQ(bare.versionText(), "");
    EXPECT_TRUE(bare.findChild<QLabel*>("version")->isHidden());
    EXPECT_EQ(bare.quitButton().x(), PanelStyle::kSideInset);  // at the left
}

TEST_F(MenuBarViewTest, PngOfTheIdlePanel)
{
    makePanelState();
    signIn();
    feed().startTransfer("a", ActivityType::upload, "Quarterly report.pdf",
                         "/Docs/Quarterly report.pdf", 10);
    feed().completeTransfer("a");
    feed().addActivity(ActivityType::delete_, "draft.txt", "/draft.txt");
    feed().startTransfer("b", ActivityType::download, "holiday-photo-with-a-long-name.jpeg",
                         "/Photos/holiday-photo-with-a-long-name.jpeg", 10);
    feed().completeTransfer("b");
    MenuBarView& view = makePanel();
    now += std::chrono::minutes(2);
    view.showAt(QRect());
    savePanelPng(QStringLiteral("panel-idle"));
}

TEST_F(MenuBarViewTest, ItClosesWhenAnotherWindowTakesTheFocusAndTheIconToggles)
{
    MenuBarView& view = makePanel();
    ASSERT_TRUE(view.isVisible());
    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(runUntil([&] { return !view.isVisible(); }, 2s));

    // A click outside a shown panel closes it too.
    view.showAt(QRect());
    ASSERT_TRUE(view.isVisible());
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_TRUE(runUntil([&] { return !view.isVisible(); }, 2s));

    // That click, when it was on the tray icon, activates the icon too: it must not reopen the
    // panel. A later one does, and the next closes it.
    view.toggleAt(QRect());
    EXPECT_FALSE(view.isVisible());
    runUntil([] { return false; }, MenuBarView::kReopenPause + 50ms);
    view.toggleAt(QRect());
    EXPECT_TRUE(view.isVisible());
    view.toggleAt(QRect());
    EXPECT_FALSE(view.isVisible());
}

}  // namespace
}  // namespace corvane::test
