#include "MenuBar/GeneralTab.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "App/FolderChooser.h"
#include "MenuBar/GeneralTabSave.h"
#include "MenuBar/SettingsViewStyle.h"
#include "Platform/MainQueue.h"
#include "Platform/Paths.h"

namespace corvane {

GeneralTab::GeneralTab(AppState& appState, QWidget* parent) : QWidget(parent), m_appState(appState)
{
    MainQueue::assertMainThread("GeneralTab");
    setObjectName(QStringLiteral("generalTab"));
    auto* layout = new QVBoxLayout(this);
    setTabPadding(layout);
    layout->addWidget(makeServerSection());
    layout->addWidget(makeSyncFolderSection());
    layout->addWidget(makeStartupSection());
    layout->addStretch();
    layout->addWidget(makeSaveRow());

    showLaunchAtLogin();
    connect(&m_appState, &AppState::launchAtLoginChanged, this, &GeneralTab::showLaunchAtLogin);
    // Every flip writes, whether a click, a key or an assistive tool's toggle action made it.
    connect(m_launchAtLogin, &QCheckBox::toggled, this,
            [this](bool checked) { m_appState.setLaunchAtLogin(checked); });
    connect(m_browse, &QPushButton::clicked, this, &GeneralTab::browse);
    connect(m_save, &QPushButton::clicked, this, &GeneralTab::save);
}

QWidget* GeneralTab::makeServerSection()
{
    auto* section = makeSettingsSection(tr("Server"), QStringLiteral("serverSection"), this);
    auto* layout = new QVBoxLayout(section);
    m_serverURL = new QLineEdit(section);
    m_serverURL->setObjectName(QStringLiteral("serverURLField"));
    m_serverURL->setPlaceholderText(tr("Server URL"));
    m_serverURL->setAccessibleName(tr("Server URL"));
    layout->addWidget(m_serverURL);
    layout->addWidget(makeSecondaryLabel(tr("Changing the server requires re-login."),
                                         SettingsTextStyle::caption, QStringLiteral("serverHint"),
                                         section));
    return section;
}

QWidget* GeneralTab::makeSyncFolderSection()
{
    auto* section =
        makeSettingsSection(tr("Sync Folder"), QStringLiteral("syncFolderSection"), this);
    auto* layout = new QVBoxLayout(section);
    auto* row = new QHBoxLayout;
    m_syncDir = new QLineEdit(section);
    m_syncDir->setObjectName(QStringLiteral("syncDirField"));
    m_syncDir->setPlaceholderText(tr("Path"));
    m_syncDir->setAccessibleName(tr("Path"));
    m_browse = new QPushButton(tr("Browse..."), section);
    m_browse->setObjectName(QStringLiteral("browseButton"));
    m_browse->setAccessibleName(tr("Browse..."));
    m_browse->setAutoDefault(false);
    row->addWidget(m_syncDir);
    row->addWidget(m_browse);
    layout->addLayout(row);

    m_syncDirError = new QLabel(section);
    m_syncDirError->setObjectName(QStringLiteral("syncDirError"));
    m_syncDirError->setTextFormat(Qt::PlainText);
    m_syncDirError->setWordWrap(true);
    QPalette palette = m_syncDirError->palette();
    palette.setColor(QPalette::WindowText, kSettingsRed);
    m_syncDirError->setPalette(palette);
    m_syncDirError->hide();
    layout->addWidget(m_syncDirError);
    return section;
}

void GeneralTab::showLaunchAtLogin()
{
    // Showing the state writes nothing.
    const QSignalBlocker quiet(m_launchAtLogin);
    m_launchAtLogin->setChecked(m_appState.launchAtLogin());
}

QWidget* GeneralTab::makeStartupSection()
{
    auto* section = makeSettingsSection(tr("Startup"), QStringLiteral("startupSection"), this);
    auto* layout = new QVBoxLayout(section);
    m_launchAtLogin = new QCheckBox(tr("Launch Corvane at login"), section);
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLoginToggle"));
    m_launchAtLogin->setAccessibleName(tr("Launch Corvane at login"));
    layout->addWidget(m_launchAtLogin);
    return section;
}

QWidget* GeneralTab::makeSaveRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    m_save = new QPushButton(tr("Save"), row);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setAccessibleName(tr("Save"));
    // Prominent, but no default button: Return in a field does not save.
    m_save->setAutoDefault(false);
    QPalette palette = m_save->palette();
    palette.setColor(QPalette::Button, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
    m_save->setPalette(palette);
    layout->addWidget(m_save);
    return row;
}

void GeneralTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        fillFromState();
    }
}

void GeneralTab::fillFromState()
{
    m_serverURL->setText(m_appState.serverURL());
    m_syncDir->setText(m_appState.syncDir());
    m_syncDirError->hide();
}

void GeneralTab::browse()
{
    const auto& chooser = m_appState.services().folderChooser;
    if (!chooser) {
        return;
    }
    // The dialog's usual button title for a folder (the chooser always sets one) and its own
    // caption.
    if (const auto folder = chooser->chooseFolder(this, tr("Choose"), QString())) {
        m_syncDir->setText(*folder);
    }
}

void GeneralTab::save()
{
    const auto saved =
        GeneralTabSave::plan(m_serverURL->text(), m_syncDir->text(), m_appState.serverURL(),
                             QString::fromStdString(Paths::home().string()));
    if (!saved) {
        m_syncDirError->setText(tr("Choose an absolute folder path"));
        m_syncDirError->show();
        return;
    }
    m_syncDirError->hide();
    m_syncDir->setText(saved->syncDir);
    saved->apply(m_appState);
}

}  // namespace corvane
