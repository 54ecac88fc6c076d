#include "MenuBar/MenuBarView.h"

#include <algorithm>

#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "Logging/FileLogger.h"
#include "MenuBar/ActionsSection.h"
#include "MenuBar/MenuBarRules.h"
#include "MenuBar/PanelActions.h"
#include "MenuBar/PanelContextMenu.h"
#include "MenuBar/PanelFooter.h"
#include "MenuBar/PanelStyle.h"
#include "MenuBar/RecentActivitySection.h"
#include "MenuBar/SignedOutNotice.h"
#include "MenuBar/StatusHeader.h"
#include "MenuBar/TransfersSection.h"
#include "Sync/ActivityManager.h"
#include "corvane/Version.h"

namespace corvane {
namespace {

// `start` moved so that `length` from it fits into [low, high); the low end wins when it
// cannot fit.
int clampedStart(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length));
}

}  // namespace

MenuBarView::MenuBarView(AppState& state, Scenes& scenes, LogExport logExport, QWidget* parent)
    : QWidget(parent, panelWindowFlags(QGuiApplication::platformName())), m_state(state),
      m_actions(std::make_unique<PanelActions>(state, scenes, std::move(logExport))),
      m_content(new QWidget(this)), m_signedOut(new SignedOutNotice(m_content))
{
    setObjectName(QStringLiteral("menuBarView"));
    setAccessibleName(QStringLiteral("Corvane"));
    m_content->setObjectName(QStringLiteral("panelContent"));
    m_content->setFixedWidth(PanelStyle::kWidth);
    // Made in the order of the panel, which is the order of the keyboard focus too.
    m_signedIn = buildSignedInContent();
    m_footer = new PanelFooter(
        MenuBarRules::versionText(QString::fromUtf8(kVersion), QString::fromUtf8(kBuild)),
        m_content);

    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_signedOut);
    column->addWidget(m_signedIn);
    column->addWidget(PanelStyle::divider(m_content));
    column->addWidget(m_footer);

    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSizeConstraint(QLayout::SetFixedSize);  // the height follows the content
    frame->addWidget(m_content);

    connect(m_signedOut, &SignedOutNotice::logInClicked, m_actions.get(), &PanelActions::logIn);
    connect(m_footer, &PanelFooter::quitClicked, m_actions.get(), &PanelActions::quit);
    m_clock.setInterval(kTimeRefreshInterval);
    connect(&m_clock, &QTimer::timeout, this, &MenuBarView::refreshTimes);
    followState();
    refreshAll();
}

MenuBarView::~MenuBarView() = default;

Qt::WindowFlags MenuBarView::panelWindowFlags(const QString& platformName)
{
    if (platformName.startsWith(QLatin1String("wayland"))) {
        return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    }
    return Qt::Popup | Qt::FramelessWindowHint;
}

LogExport MenuBarView::defaultLogExport()
{
    return LogExport::of(FileLogger::shared());
}

QWidget* MenuBarView::buildSignedInContent()
{
    auto* content = new QWidget(m_content);
    content->setObjectName(QStringLiteral("signedInContent"));
    m_header = new StatusHeader(m_state, content);
    m_transfers = new TransfersSection(content);
    m_transfersDivider = PanelStyle::divider(content);
    m_transfersDivider->setObjectName(QStringLiteral("transfersDivider"));
    m_recent = new RecentActivitySection(content);
    m_actionsSection = new ActionsSection(m_state, *m_actions, content);

    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(PanelStyle::divider(content));
    column->addWidget(m_transfers);
    column->addWidget(m_transfersDivider);
    column->addWidget(m_recent);
    column->addWidget(PanelStyle::divider(content));
    column->addWidget(m_actionsSection);

    connect(m_recent, &RecentActivitySection::rowClicked, m_actions.get(),
            &PanelActions::openFolderOf);
    return content;
}

void MenuBarView::followState()
{
    // While the panel is hidden a change only marks it stale: it is read afresh when it opens.
    const auto whenShown = [this](void (MenuBarView::*update)()) {
        return [this, update] {
            if (isVisible()) {
                (this->*update)();
            } else {
                m_stale = true;
            }
        };
    };
    connect(&m_state, &AppState::isLoggedInChanged, this, whenShown(&MenuBarView::refreshAll));
    connect(&m_state, &AppState::summaryChanged, this, whenShown(&MenuBarView::refreshFeed));
    connect(&m_state, &AppState::lastSyncTimeChanged, this, whenShown(&MenuBarView::refreshHeader));
    connect(&m_state, &AppState::userEmailChanged, this, whenShown(&MenuBarView::refreshHeader));
    connect(&m_state, &AppState::isPausedChanged, this, whenShown(&MenuBarView::refreshActions));
}

void MenuBarView::refreshAll()
{
    m_stale = false;
    const bool signedIn = m_state.isLoggedIn();
    m_signedOut->setVisible(!signedIn);
    m_signedIn->setVisible(signedIn);
    refreshActions();
    refreshFeed();
}

void MenuBarView::refreshHeader()
{
    m_header->refresh(now());
}

void MenuBarView::refreshActions()
{
    m_actionsSection->refresh();
}

void MenuBarView::refreshFeed()
{
    const ActivityManager& feed = *m_state.activityManager();
    const auto time = now();
    m_header->refresh(time);
    const bool transfersRun = feed.hasActiveTransfers();
    m_transfers->setVisible(transfersRun);
    m_transfersDivider->setVisible(transfersRun);
    if (transfersRun) {
        m_transfers->refresh(feed.activeTransfers());
    }
    m_recent->refresh(feed.recentActivities(), time);
}

void MenuBarView::refreshTimes()
{
    const auto time = now();
    m_header->refreshTime(time);
    m_recent->refreshTimes(time);
}

std::chrono::system_clock::time_point MenuBarView::now() const
{
    const auto& clock = m_state.services().now;
    return clock ? clock() : std::chrono::system_clock::now();
}

void MenuBarView::showAt(const QRect& iconGeometry)
{
    m_iconGeometry = iconGeometry;
    m_pointer = QCursor::pos();
    refreshAll();
    adjustSize();
    place();
    show();
    raise();
    activateWindow();
}

void MenuBarView::toggleAt(const QRect& iconGeometry)
{
    if (isVisible()) {
        close();
        return;
    }
    if (m_sinceClosed.isValid() && !m_sinceClosed.hasExpired(kReopenPause.count())) {
        return;
    }
    showAt(iconGeometry);
}

std::unique_ptr<QMenu> MenuBarView::buildContextMenu(QWidget* parent)
{
    return corvane::buildContextMenu(m_state, *m_actions, parent);
}

QPoint MenuBarView::popupPosition(const QSize& panelSize, const QRect& iconGeometry,
                                  const QPoint& pointer, const QRect& available)
{
    const QRect anchor = iconGeometry.isEmpty() ? QRect(pointer, QSize(1, 1)) : iconGeometry;
    const int x = anchor.center().x() - panelSize.width() / 2;
    const bool below = anchor.center().y() < available.center().y();
    const int y = below ? anchor.bottom() + 1 : anchor.top() - panelSize.height();
    return {clampedStart(x, panelSize.width(), available.left(), available.right() + 1),
            clampedStart(y, panelSize.height(), available.top(), available.bottom() + 1)};
}

void MenuBarView::place()
{
    const QRect anchor = m_iconGeometry.isEmpty() ? QRect(m_pointer, QSize(1, 1)) : m_iconGeometry;
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen) {
        move(popupPosition(size(), m_iconGeometry, m_pointer, screen->availableGeometry()));
    }
}

void MenuBarView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale) {
        refreshAll();
    }
    refreshTimes();
    m_clock.start();
}

void MenuBarView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_clock.stop();
    m_wasActive = false;
    m_sinceClosed.start();
}

void MenuBarView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) {
        return;
    }
    if (isActiveWindow()) {
        m_wasActive = true;
    } else if (m_wasActive) {
        close();  // another window took the focus
    }
}

void MenuBarView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (isVisible()) {
        place();  // a panel above its icon grows upwards
    }
}

void MenuBarView::paintEvent(QPaintEvent*)
{
    // The popup has no window frame: a thin line sets it off from what lies behind.
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.25F);
    painter.setPen(line);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace corvane
