#include "App/SetupView.h"

#include <string>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "API/HealthCheck.h"
#include "App/AppState.h"
#include "App/BackgroundCall.h"
#include "App/FolderBox.h"
#include "App/FolderChooser.h"
#include "App/LogoHeader.h"
#include "App/SetupRules.h"
#include "App/SignInRequests.h"
#include "App/SpinnerButton.h"
#include "App/ViewStyle.h"

namespace corvane {
namespace {

constexpr qreal kLogoSize = 56;
constexpr int kFormPadding = 24;
constexpr int kFormSpacing = 20;
constexpr int kGroupSpacing = 6;
constexpr int kCodeFieldWidth = 200;
constexpr qreal kSpinnerDiameter = 16 * 0.7;
constexpr long kHealthy = 200;

QLabel* headline(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    styleLabel(*label, TextStyle::headline);
    return label;
}

}  // namespace

SetupView::SetupView(AppState& state, QWidget* parent) : QWidget(parent), m_state(state)
{
    setObjectName(QStringLiteral("setupView"));
    setFixedWidth(kWidth);
    makeHeadedColumn(*this, makeHeader())->addWidget(makeForm());
    refresh();
}

QWidget* SetupView::makeHeader()
{
    auto* header = new LogoHeader({kLogoSize, TextStyle::largeTitle, TextStyle::body},
                                  QStringLiteral("subtitle"), this);
    header->line().setText(tr("Team File Sync & Sharing"));
    return header;
}

QWidget* SetupView::makeForm()
{
    auto* form = new QWidget(this);
    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(kFormPadding, kFormPadding, kFormPadding, kFormPadding);
    layout->setSpacing(kFormSpacing);

    m_error = makeErrorLabel(form);
    layout->addWidget(m_error);

    layout->addLayout(makeServerGroup(form));
    layout->addLayout(makeFolderGroup(form));
    layout->addWidget(makeDivider(form));
    layout->addLayout(makeSignInGroup(form));
    layout->addLayout(makeButtonRow(form));

    setTabOrder(m_server, m_change);
    setTabOrder(m_change, m_email);
    setTabOrder(m_email, m_code);
    setTabOrder(m_code, m_submit);
    return form;
}

QLayout* SetupView::makeServerGroup(QWidget* form)
{
    auto* layout = makeColumn(kGroupSpacing);
    auto* label = headline(tr("Server URL"), form);
    m_server = makeTextField(QStringLiteral("server"), tr("https://sync.example.com"),
                             tr("Server URL"), form);
    m_server->setFont(systemFont(14));
    label->setBuddy(m_server);
    layout->addWidget(label);
    layout->addWidget(m_server);

    connect(m_server, &QLineEdit::textChanged, this, &SetupView::refresh);
    // Only the user's own edits: the flow writes the normalised address back into the field.
    connect(m_server, &QLineEdit::textEdited, this, &SetupView::forgetSentCode);
    connect(m_server, &QLineEdit::returnPressed, this, [this] { m_email->setFocus(); });
    return layout;
}

QLayout* SetupView::makeFolderGroup(QWidget* form)
{
    auto* layout = makeColumn(kGroupSpacing);
    layout->addWidget(headline(tr("Sync Folder"), form));

    FolderBox::Look look;
    look.padding = 10;
    look.spacing = 6;
    look.cornerRadius = 8;
    look.outlined = true;
    look.pathFont = systemFont(13);
    m_folder = new FolderBox(look, QStringLiteral("syncDir"), form);
    m_folder->setObjectName(QStringLiteral("folderBox"));

    m_change = new QPushButton(tr("Change..."), m_folder);
    m_change->setObjectName(QStringLiteral("changeFolder"));
    m_change->setAccessibleName(tr("Change..."));
    m_folder->addTrailing(m_change);
    layout->addWidget(m_folder);

    connect(m_change, &QPushButton::clicked, this, &SetupView::chooseFolder);
    return layout;
}

QLayout* SetupView::makeSignInGroup(QWidget* form)
{
    auto* layout = makeColumn(kGroupSpacing);
    auto* label = headline(tr("Sign In"), form);
    m_email = makeTextField(QStringLiteral("email"), tr("Email"), tr("Email"), form);
    label->setBuddy(m_email);

    m_hint = new QLabel(form);
    m_hint->setObjectName(QStringLiteral("codeHint"));
    styleLabel(*m_hint, TextStyle::caption, true);
    m_hint->setWordWrap(true);

    m_code = makeTextField(QStringLiteral("code"), tr("Verification code"), tr("Verification code"),
                           form);
    m_code->setFixedWidth(kCodeFieldWidth);

    layout->addWidget(label);
    layout->addWidget(m_email);
    layout->addWidget(m_hint);
    layout->addWidget(m_code);

    connect(m_email, &QLineEdit::textChanged, this, &SetupView::refresh);
    connect(m_code, &QLineEdit::textChanged, this, &SetupView::refresh);
    connect(m_email, &QLineEdit::returnPressed, this, &SetupView::submitForm);
    connect(m_code, &QLineEdit::returnPressed, this, &SetupView::submitForm);
    return layout;
}

QLayout* SetupView::makeButtonRow(QWidget* form)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    m_submit = new SpinnerButton(kSpinnerDiameter, form);
    m_submit->setObjectName(QStringLiteral("submit"));
    makeProminent(*m_submit);
    m_submit->setMinimumHeight(m_submit->sizeHint().height() + 6);
    row->addStretch(1);
    row->addWidget(m_submit);
    connect(m_submit, &QPushButton::clicked, this, &SetupView::submitForm);
    return row;
}

void SetupView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Shown by the application (the window opened again), not restored by the window system.
    if (!event->spontaneous()) {
        comeOnScreen();
    }
}

void SetupView::keyPressEvent(QKeyEvent* event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // The text fields have their own Return; their key arrives here once they have used it.
    if (returnKey && !qobject_cast<QLineEdit*>(focusWidget())) {
        submitForm();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SetupView::comeOnScreen()
{
    const QString stored = m_state.serverURL();
    m_server->setText(stored.isEmpty() ? QStringLiteral("https://") : stored);
    m_syncDir = m_state.syncDir();
    m_server->setFocus();
    refresh();
}

void SetupView::chooseFolder()
{
    const auto chooser = m_state.services().folderChooser;
    if (!chooser) {
        return;
    }
    const std::optional<QString> chosen = chooser->chooseFolder(
        window(), tr("Choose"), tr("Choose a folder for Corvane to sync files"));
    if (!chosen || *chosen == m_syncDir) {
        return;
    }
    m_syncDir = *chosen;
    forgetSentCode();
    refresh();
}

bool SetupView::canSubmit() const
{
    return canSubmitSetup(m_server->text(), m_email->text(), m_code->text(), m_codeSent);
}

void SetupView::submitForm()
{
    if (!canSubmit() || m_request.isLoading) {
        return;
    }
    if (m_codeSent) {
        verify();
    } else {
        checkServerThenSendCode();
    }
}

void SetupView::checkServerThenSendCode()
{
    // The address and folder of this press: what is checked is what gets stored, whatever the
    // fields hold when the answer comes.
    const QString serverURL = normalizedServerURL(m_server->text());
    const QString syncDir = m_syncDir;
    m_server->setText(serverURL);
    m_request.start();
    refresh();

    const std::optional<std::string> health = healthURL(serverURL.toStdString());
    if (!health) {
        fail(tr("Invalid URL format"));
        return;
    }
    if (!needsNewSetup(m_state.phase(), serverURL, syncDir, m_state.serverURL(),
                       m_state.syncDir())) {
        requestCode(serverURL, syncDir);
        return;
    }
    runInBackground(
        this, [url = *health] { return healthStatus(url); },
        [this, serverURL, syncDir](long status) {
            if (status != kHealthy) {
                fail(tr("Server responded with an error. Check the URL and try again."));
                return;
            }
            m_state.completeSetup(serverURL, syncDir);
            requestCode(serverURL, syncDir);
        },
        [this](const QString& error) { fail(error); });
}

void SetupView::requestCode(const QString& serverURL, const QString& syncDir)
{
    requestSignInCode(
        this, m_state, m_email->text(),
        [this, serverURL, syncDir] { codeRequested(serverURL, syncDir); },
        [this](const QString& error) { fail(error); });
}

void SetupView::codeRequested(const QString& serverURL, const QString& syncDir)
{
    // An address or folder changed while the code was on its way: the code belongs to the
    // setup stored before, so the button stays "Continue" for the values on show.
    m_codeSent = normalizedServerURL(m_server->text()) == serverURL && m_syncDir == syncDir;
    m_request.succeed();
    if (m_codeSent) {
        m_code->setFocus();
    }
    refresh();
}

void SetupView::verify()
{
    m_request.start();
    refresh();
    verifyAndSignIn(
        this, m_state, m_email->text(), m_code->text(),
        [this] {
            m_request.succeed();
            refresh();
        },
        [this](const QString& error) { fail(error); });
}

void SetupView::fail(const QString& message)
{
    m_request.fail(message);
    refresh();
}

void SetupView::forgetSentCode()
{
    if (m_codeSent) {
        m_codeSent = false;
        refresh();
    }
}

void SetupView::refresh()
{
    showErrorLine(*m_error, m_request.errorMessage);
    m_folder->setPath(m_syncDir);
    m_hint->setText(tr("We sent a 6-digit code to %1").arg(m_email->text()));
    m_hint->setVisible(m_codeSent);
    m_code->setVisible(m_codeSent);
    const QString title = m_codeSent ? tr("Log In") : tr("Continue");
    m_submit->setText(title);
    m_submit->setAccessibleName(title);
    m_submit->setLoading(m_request.isLoading);
    m_submit->setEnabled(canSubmit() && !m_request.isLoading);
}

}  // namespace corvane
