#include "App/ReadyView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "App/CorvaneLogo.h"
#include "App/FolderBox.h"
#include "App/ViewStyle.h"
#include "Platform/Workspace.h"

namespace corvane {
namespace {

constexpr qreal kLogoSize = 56;
constexpr int kPadding = 32;
constexpr int kSpacing = 16;
constexpr int kButtonSpacing = 12;
constexpr int kButtonRowTop = 8;

QLabel* centredLabel(const QString& objectName, const QString& text, TextStyle style,
                     bool secondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    styleLabel(*label, style, secondary);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

QPushButton* button(const QString& objectName, const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(title);
    return button;
}

}  // namespace

ReadyView::ReadyView(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_folder(nullptr)
{
    setObjectName(QStringLiteral("readyView"));
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);

    auto* logo = new CorvaneLogo(kLogoSize, this);
    logo->setObjectName(QStringLiteral("logo"));
    layout->addWidget(logo, 0, Qt::AlignHCenter);

    auto* title = centredLabel(QStringLiteral("title"), tr("You're all set!"), TextStyle::title2,
                               false, this);
    QFont semibold = title->font();
    semibold.setWeight(QFont::DemiBold);
    title->setFont(semibold);
    layout->addWidget(title);
    layout->addWidget(centredLabel(QStringLiteral("runningNote"),
                                   tr("Corvane is running in the system tray. Your files in"),
                                   TextStyle::callout, true, this));

    FolderBox::Look look;
    look.padding = 8;
    look.spacing = 6;
    look.cornerRadius = 6;
    look.pathFont = systemFont(13, QFont::Medium);
    m_folder = new FolderBox(look, QStringLiteral("syncDir"), this);
    m_folder->setObjectName(QStringLiteral("folderBox"));
    m_folder->setPath(state.syncDir());
    m_folder->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    layout->addWidget(m_folder, 0, Qt::AlignHCenter);

    layout->addWidget(centredLabel(QStringLiteral("syncNote"),
                                   tr("will be kept in sync automatically."), TextStyle::callout,
                                   true, this));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kButtonSpacing);
    buttons->setContentsMargins(0, kButtonRowTop, 0, 0);
    auto* open = button(QStringLiteral("openSyncFolder"), tr("Open Sync Folder"), this);
    auto* close = button(QStringLiteral("close"), tr("Close"), this);
    makeProminent(*close);
    buttons->addStretch(1);
    buttons->addWidget(open);
    buttons->addWidget(close);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(&state, &AppState::syncDirChanged, this,
            [this] { m_folder->setPath(m_state.syncDir()); });
    connect(open, &QPushButton::clicked, this, &ReadyView::openSyncFolder);
    connect(close, &QPushButton::clicked, this, [this] { window()->close(); });
}

void ReadyView::openSyncFolder()
{
    // The desktop's answer is not looked at: a missing folder simply opens nothing.
    if (const auto& workspace = m_state.services().workspace) {
        workspace->openURL(
            QUrl::fromLocalFile(m_state.syncDir()).toString(QUrl::FullyEncoded).toStdString());
    }
}

}  // namespace corvane
