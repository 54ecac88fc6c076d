#include "MenuBar/AccountTab.h"

#include <filesystem>

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "MenuBar/AccountTabWalker.h"
#include "MenuBar/SettingsViewStyle.h"
#include "Platform/MainQueue.h"

namespace corvane {
namespace {

// A one-line label that shortens its text in the middle with "…" when the room is too small
// (a long sync folder path), rather than widening the fixed-size window. text() and the
// accessible name keep the whole text.
class MiddleElidedLabel final : public QLabel {
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
    }
};

QLabel* makeValue(QLabel* value, const QString& objectName)
{
    value->setObjectName(objectName);
    value->setTextFormat(Qt::PlainText);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return value;
}

// The value as shown and as assistive tools read it: a label offers them no text of its own
// but its name, and the row's caption is already its label (the form makes it the buddy).
void showValue(QLabel* value, const QString& text)
{
    value->setText(text);
    value->setAccessibleName(text);
}

}  // namespace

AccountTab::AccountTab(AppState& appState, QWidget* parent)
    : QWidget(parent), m_appState(appState),
      m_walker(new AccountTabWalker(measureLocalFolder, this))
{
    MainQueue::assertMainThread("AccountTab");
    setObjectName(QStringLiteral("accountTab"));
    auto* layout = new QVBoxLayout(this);
    setTabPadding(layout);
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("accountPages"));
    m_signedInPage = makeSignedInPage();
    m_signedOutPage = makeSignedOutPage();
    m_pages->addWidget(m_signedInPage);
    m_pages->addWidget(m_signedOutPage);
    layout->addWidget(m_pages);

    connect(m_walker, &AccountTabWalker::resultChanged, this, &AccountTab::showUsage);
    connect(m_logOut, &QPushButton::clicked, this, [this] { m_appState.logout(); });
    observeState();
    stateChanged();
}

AccountTab::~AccountTab() = default;

QWidget* AccountTab::makeSignedInPage()
{
    auto* page = new QWidget(m_pages);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* account = makeSettingsSection(tr("Account"), QStringLiteral("accountSection"), page);
    auto* accountRows = new QFormLayout(account);
    m_email = makeValue(new QLabel(account), QStringLiteral("accountEmailValue"));
    m_status = makeValue(new QLabel(account), QStringLiteral("accountStatusValue"));
    m_syncDir = makeValue(new MiddleElidedLabel(account), QStringLiteral("accountSyncDirValue"));
    accountRows->addRow(tr("Email"), m_email);
    accountRows->addRow(tr("Status"), m_status);
    accountRows->addRow(tr("Sync Folder"), m_syncDir);
    layout->addWidget(account);

    auto* storage = makeSettingsSection(tr("Storage"), QStringLiteral("storageSection"), page);
    auto* storageRows = new QFormLayout(storage);
    m_fileCount = makeValue(new QLabel(storage), QStringLiteral("localFilesValue"));
    m_size = makeValue(new QLabel(storage), QStringLiteral("localSizeValue"));
    makeSecondary(m_fileCount);
    makeSecondary(m_size);
    storageRows->addRow(tr("Local files"), m_fileCount);
    storageRows->addRow(tr("Local size"), m_size);
    layout->addWidget(storage);

    auto* actions = new QHBoxLayout;
    m_logOut = new QPushButton(tr("Log Out"), page);
    m_logOut->setObjectName(QStringLiteral("logOutButton"));
    m_logOut->setAccessibleName(tr("Log Out"));
    m_logOut->setAutoDefault(false);
    QPalette palette = m_logOut->palette();
    palette.setColor(QPalette::ButtonText, kSettingsRed);
    m_logOut->setPalette(palette);
    actions->addWidget(m_logOut);
    actions->addStretch();
    layout->addLayout(actions);
    layout->addStretch();
    return page;
}

QWidget* AccountTab::makeSignedOutPage()
{
    auto* page = new QWidget(m_pages);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* text = makeSecondaryLabel(tr("Not logged in"), SettingsTextStyle::body,
                                    QStringLiteral("notLoggedInText"), page);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    return page;
}

void AccountTab::observeState()
{
    // Every published value: the tab shows some of them and measures the folder afresh.
    for (const auto changed :
         {&AppState::phaseChanged, &AppState::isLoggedInChanged, &AppState::syncStatusChanged,
          &AppState::lastSyncTimeChanged, &AppState::lastErrorChanged, &AppState::isPausedChanged,
          &AppState::userEmailChanged, &AppState::syncDirChanged, &AppState::serverURLChanged,
          &AppState::launchAtLoginChanged}) {
        connect(&m_appState, changed, this, &AccountTab::stateChanged);
    }
}

void AccountTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        refresh();
    }
}

void AccountTab::stateChanged()
{
    showValue(m_email, m_appState.userEmail());
    showValue(m_status, QString::fromStdString(std::string(displayText(m_appState.syncStatus()))));
    showValue(m_syncDir, m_appState.syncDir());
    m_syncDir->setToolTip(m_appState.syncDir());
    m_pages->setCurrentWidget(m_appState.isLoggedIn() ? m_signedInPage : m_signedOutPage);
    if (isVisible()) {
        refresh();
    }
}

void AccountTab::refresh()
{
    if (m_appState.isLoggedIn()) {
        m_walker->request(std::filesystem::path(m_appState.syncDir().toStdString()));
    }
}

void AccountTab::showUsage()
{
    showValue(m_fileCount, QString::fromStdString(localFileCountText(m_walker->result())));
    showValue(m_size, QString::fromStdString(localFolderSizeText(m_walker->result())));
}

}  // namespace corvane
