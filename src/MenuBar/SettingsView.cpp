#include "MenuBar/SettingsView.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "App/SymbolIcon.h"
#include "MenuBar/AccountTab.h"
#include "MenuBar/BandwidthTab.h"
#include "MenuBar/GeneralTab.h"
#include "MenuBar/SyncTab.h"
#include "Platform/MainQueue.h"

namespace corvane {

SettingsView::SettingsView(AppState& appState, QWidget* parent) : QWidget(parent)
{
    MainQueue::assertMainThread("SettingsView");
    setObjectName(QStringLiteral("settingsView"));
    setFixedSize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setAccessibleName(tr("Settings"));
    m_tabs->setDocumentMode(true);
    layout->addWidget(m_tabs);

    m_general = new GeneralTab(appState, m_tabs);
    m_sync = new SyncTab(appState, m_tabs);
    m_bandwidth = new BandwidthTab(appState, m_tabs);
    m_account = new AccountTab(appState, m_tabs);
    const struct {
        QWidget* page;
        QString title;
        const char* symbol;
    } tabs[] = {
        {m_general, tr("General"), "gearshape"},
        {m_sync, tr("Sync"), "arrow.triangle.2.circlepath"},
        {m_bandwidth, tr("Bandwidth"), "speedometer"},
        {m_account, tr("Account"), "person.circle"},
    };
    for (const auto& tab : tabs) {
        tab.page->setAccessibleName(tab.title);
        m_tabs->addTab(tab.page, symbolIcon(QString::fromLatin1(tab.symbol)), tab.title);
    }
}

}  // namespace corvane
