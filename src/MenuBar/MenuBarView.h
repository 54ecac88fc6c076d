#pragma once

#include <chrono>
#include <memory>

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include "MenuBar/LogExport.h"

class QMenu;

namespace corvane {

class ActionsSection;
class AppState;
class PanelActions;
class PanelFooter;
class RecentActivitySection;
class Scenes;
class SignedOutNotice;
class StatusHeader;
class TransfersSection;

// The tray icon's panel: a frameless popup 340 pixels wide that closes when it loses the focus
// (or at a click outside). Signed in it shows the status header, the running transfers while
// there are any, the recent activity and the action rows; signed out a notice with "Log In...";
// under either the footer with "Quit Corvane" and the version. It follows the state while it is
// shown (the feed through summaryChanged(), at most every 100 ms), reads it afresh when it opens,
// and keeps the elapsed times current every second. Main thread only.
//
// The application makes one, calls toggleAt() when the tray icon is activated, closes it
// for Scenes::closePanel(), and gives the tray icon buildContextMenu() for hosts that only show
// a menu.
class MenuBarView final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTimeRefreshInterval{1};
    // A request to open within this time after the panel closed came with the closing click.
    static constexpr std::chrono::milliseconds kReopenPause{300};

    // `state` and `scenes` outlive the panel; the export is the shared logger's by default.
    MenuBarView(AppState& state, Scenes& scenes, LogExport logExport = defaultLogExport(),
                QWidget* parent = nullptr);
    ~MenuBarView() override;

    // Opens the panel at the tray icon's global geometry (below the icon when it sits in the
    // upper half of its screen, above it otherwise), or at the pointer when `iconGeometry` is
    // empty (hosts that do not tell), within the screen's available area.
    void showAt(const QRect& iconGeometry);
    // What a click on the tray icon does: closes an open panel, opens a closed one, except
    // that the click which has just closed the panel (a click outside it, on the icon) does
    // not open it again at once.
    void toggleAt(const QRect& iconGeometry);

    // The tray icon's menu with the panel's actions; it must not outlive the panel.
    std::unique_ptr<QMenu> buildContextMenu(QWidget* parent = nullptr);

    // Where a panel of `panelSize` goes for the icon at `iconGeometry` (or the pointer when the
    // geometry is empty), kept inside `available`.
    static QPoint popupPosition(const QSize& panelSize, const QRect& iconGeometry,
                                const QPoint& pointer, const QRect& available);

    static LogExport defaultLogExport();

    // The panel's window type on the Qt platform `platformName`: a popup, which closes at a
    // click outside and holds the keyboard; on Wayland, which shows no popup without a parent
    // window, a frameless tool window that closes when it loses the focus.
    static Qt::WindowFlags panelWindowFlags(const QString& platformName);

    PanelActions& actions() const { return *m_actions; }
    const SignedOutNotice& signedOutNotice() const { return *m_signedOut; }
    const StatusHeader& header() const { return *m_header; }
    const TransfersSection& transfersSection() const { return *m_transfers; }
    RecentActivitySection& recentSection() const { return *m_recent; }
    ActionsSection& actionsSection() const { return *m_actionsSection; }
    const PanelFooter& footer() const { return *m_footer; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildSignedInContent();
    void followState();
    // Each reads its part of the state afresh.
    void refreshAll();
    void refreshHeader();
    void refreshActions();
    void refreshFeed();
    void refreshTimes();
    void place();
    std::chrono::system_clock::time_point now() const;

    AppState& m_state;
    std::unique_ptr<PanelActions> m_actions;
    // The parts, owned by the widget tree.
    QWidget* m_content;
    SignedOutNotice* m_signedOut;
    QWidget* m_signedIn = nullptr;
    StatusHeader* m_header = nullptr;
    TransfersSection* m_transfers = nullptr;
    QWidget* m_transfersDivider = nullptr;
    RecentActivitySection* m_recent = nullptr;
    ActionsSection* m_actionsSection = nullptr;
    PanelFooter* m_footer = nullptr;
    QTimer m_clock;
    QElapsedTimer m_sinceClosed;
    bool m_stale = true;
    bool m_wasActive = false;
    QRect m_iconGeometry;
    QPoint m_pointer;
};

}  // namespace corvane
