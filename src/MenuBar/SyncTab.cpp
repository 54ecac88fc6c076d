#include "MenuBar/SyncTab.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "API/APIClient.h"
#include "App/AppState.h"
#include "App/BackgroundCall.h"
#include "App/SymbolIcon.h"
#include "Logging/FileLogger.h"
#include "MenuBar/SettingsViewStyle.h"
#include "Platform/MainQueue.h"
#include "Sync/SelectiveSyncManager.h"

namespace corvane {
namespace {

constexpr int kSpacing = 12;
constexpr int kFolderIconSize = 16;
constexpr int kLoadingBarWidth = 160;
const QColor kFolderBlue(0, 122, 255);

// A button shows its text as written apart from "&", which marks a shortcut: a folder named
// "R&D" must neither lose its "&" nor give the window a shortcut.
QString buttonText(const std::string& text)
{
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A page that centres `content` vertically in the space left below the headline;
// `alignment` places it across.
QWidget* centredPage(QWidget* content, QWidget* parent, Qt::Alignment alignment = {})
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    layout->addWidget(content, 0, alignment);
    layout->addStretch();
    return page;
}

}  // namespace

SyncTab::SyncTab(AppState& appState, QWidget* parent) : QWidget(parent), m_appState(appState)
{
    MainQueue::assertMainThread("SyncTab");
    setObjectName(QStringLiteral("syncTab"));
    auto* layout = new QVBoxLayout(this);
    setTabPadding(layout);
    layout->setSpacing(kSpacing);
    layout->addWidget(makeSecondaryLabel(tr("Choose which folders to sync to this computer"),
                                         SettingsTextStyle::callout, QStringLiteral("syncHeadline"),
                                         this));
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("syncPages"));
    m_loadingPage = makeLoadingPage();
    m_emptyPage = makeEmptyPage();
    m_pages->addWidget(m_loadingPage);
    m_pages->addWidget(m_emptyPage);
    m_pages->addWidget(makeListPage());
    layout->addWidget(m_pages, 1);
    showCurrentPage();
}

std::vector<SyncTab::SyncFolderItem> SyncTab::folderItems(const std::vector<Folder>& folders,
                                                          const std::set<std::string>& excluded)
{
    std::vector<SyncFolderItem> items;
    items.reserve(folders.size());
    for (const Folder& folder : folders) {
        items.push_back({folder.id, folder.name, folder.path, !excluded.contains(folder.path)});
    }
    return items;
}

QWidget* SyncTab::makeLoadingPage()
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QProgressBar(content);
    bar->setObjectName(QStringLiteral("syncLoadingIndicator"));
    bar->setRange(0, 0);  // indeterminate
    bar->setTextVisible(false);
    bar->setFixedWidth(kLoadingBarWidth);
    bar->setAccessibleName(tr("Loading folders..."));
    auto* label = new QLabel(tr("Loading folders..."), content);
    label->setObjectName(QStringLiteral("syncLoadingText"));
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(bar, 0, Qt::AlignHCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter);
    return centredPage(content, m_pages, Qt::AlignHCenter);
}

QWidget* SyncTab::makeEmptyPage()
{
    auto* label =
        makeSecondaryLabel(tr("No folders found. Log in and sync to see your folders."),
                           SettingsTextStyle::caption, QStringLiteral("syncEmptyText"), nullptr);
    // Across the whole width, so that the wrapped text gets the height it needs.
    label->setAlignment(Qt::AlignCenter);
    return centredPage(label, m_pages);
}

QWidget* SyncTab::makeListPage()
{
    m_listPage = new QScrollArea(m_pages);
    m_listPage->setObjectName(QStringLiteral("syncFolderList"));
    m_listPage->setAccessibleName(tr("Folders"));
    m_listPage->setWidgetResizable(true);
    m_listPage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listPage->setBackgroundRole(QPalette::Base);
    rebuildRows();
    return m_listPage;
}

void SyncTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        loadFolders();
    }
}

void SyncTab::loadFolders()
{
    runInBackground(
        this, [client = m_appState.apiClient()] { return client->listFolders(); },
        [this](const std::vector<Folder>& folders) { showFolders(folders); },
        [this](const QString& error) { loadFailed(error); });
}

void SyncTab::showFolders(const std::vector<Folder>& folders)
{
    m_folders = folderItems(folders, m_appState.selectiveSyncManager()->excludedPaths());
    m_isLoading = false;
    rebuildRows();
    showCurrentPage();
    emit loadFinished();
}

void SyncTab::loadFailed(const QString& error)
{
    // The list (or the empty text) stays: a failure looks like an empty answer on screen, so
    // the log is where it can be found.
    FileLogger::shared().warn("settings", "folder list not loaded",
                              {{"error", error.toStdString()}});
    m_isLoading = false;
    showCurrentPage();
    emit loadFinished();
}

void SyncTab::rebuildRows()
{
    auto* rows = new QWidget;
    rows->setObjectName(QStringLiteral("syncFolderRows"));
    rows->setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(rows);
    const QIcon folderIcon(symbolPixmap(QStringLiteral("folder.fill"), kFolderIconSize, kFolderBlue,
                                        devicePixelRatioF()));
    for (std::size_t row = 0; row < m_folders.size(); ++row) {
        const SyncFolderItem& item = m_folders[row];
        auto* toggle = new QCheckBox(buttonText(item.name), rows);
        toggle->setObjectName(QStringLiteral("syncFolderToggle_") +
                              QString::fromStdString(item.id));
        toggle->setAccessibleName(QString::fromStdString(item.name));
        toggle->setIcon(folderIcon);
        toggle->setChecked(item.isEnabled);
        // Connected once it shows the stored state: every flip from here on is the user's
        // (a click, a key or an assistive tool's toggle action).
        connect(toggle, &QCheckBox::toggled, this,
                [this, row](bool checked) { setFolderEnabled(row, checked); });
        layout->addWidget(toggle);
    }
    layout->addStretch();
    m_listPage->setWidget(rows);  // the previous rows go with it
}

void SyncTab::showCurrentPage()
{
    if (m_isLoading) {
        m_pages->setCurrentWidget(m_loadingPage);
    } else if (m_folders.empty()) {
        m_pages->setCurrentWidget(m_emptyPage);
    } else {
        m_pages->setCurrentWidget(m_listPage);
    }
}

void SyncTab::setFolderEnabled(std::size_t row, bool enabled)
{
    SyncFolderItem& item = m_folders.at(row);
    item.isEnabled = enabled;
    if (enabled) {
        m_appState.selectiveSyncManager()->include(item.path);
    } else {
        m_appState.selectiveSyncManager()->exclude(item.path);
    }
}

}  // namespace corvane
