#include "Auth/LoginView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/AppState.h"
#include "App/LogoHeader.h"
#include "App/SignInRequests.h"
#include "App/SpinnerButton.h"
#include "App/ViewStyle.h"

namespace corvane {
namespace {

constexpr qreal kLogoSize = 48;
constexpr int kBodyPadding = 24;
constexpr int kBodySpacing = 16;
constexpr int kStepSpacing = 12;
constexpr int kCodeFieldWidth = 200;
constexpr int kErrorSideMargin = 8;
// The indicator at 0.8 of its regular 16-pixel size.
constexpr qreal kSpinnerDiameter = 16 * 0.8;

QLabel* stepHeading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("heading"));
    styleLabel(*label, TextStyle::headline);
    return label;
}

SpinnerButton* mainButton(const QString& objectName, const QString& title, QWidget* parent)
{
    auto* button = new SpinnerButton(kSpinnerDiameter, parent);
    button->setObjectName(objectName);
    button->setText(title);
    button->setAccessibleName(title);
    makeProminent(*button);
    return button;
}

QPushButton* linkButton(const QString& objectName, const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(title);
    makeLinkButton(*button);
    return button;
}

}  // namespace

LoginView::LoginView(AppState& state, QWidget* parent) : QWidget(parent), m_state(state)
{
    setObjectName(QStringLiteral("loginView"));
    setFixedWidth(kWidth);
    auto* layout = makeHeadedColumn(*this, makeHeader());

    auto* body = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(kBodyPadding, kBodyPadding, kBodyPadding, kBodyPadding);
    bodyLayout->setSpacing(kBodySpacing);
    m_error = makeErrorLabel(body);
    m_error->setAlignment(Qt::AlignHCenter);
    m_error->setContentsMargins(kErrorSideMargin, 0, kErrorSideMargin, 0);
    bodyLayout->addWidget(m_error);
    m_emailStep = makeEmailStep();
    m_codeStep = makeCodeStep();
    bodyLayout->addWidget(m_emailStep);
    bodyLayout->addWidget(m_codeStep);
    layout->addWidget(body);

    connect(&state, &AppState::serverURLChanged, this,
            [this] { m_serverURL->setText(m_state.serverURL()); });
    refresh();
}

QWidget* LoginView::makeHeader()
{
    auto* header = new LogoHeader({kLogoSize, TextStyle::title, TextStyle::caption},
                                  QStringLiteral("serverURL"), this);
    m_serverURL = &header->line();
    m_serverURL->setText(m_state.serverURL());
    return header;
}

QWidget* LoginView::makeEmailStep()
{
    auto* step = new QWidget(this);
    step->setObjectName(QStringLiteral("emailStep"));
    auto* layout = makeColumn(kStepSpacing, step);
    m_email = makeTextField(QStringLiteral("email"), tr("Email"), tr("Email"), step);
    m_sendCode = mainButton(QStringLiteral("sendCode"), tr("Send Verification Code"), step);
    auto* changeServer = linkButton(QStringLiteral("changeServer"), tr("Change Server"), step);
    changeServer->setFont(styledFont(TextStyle::caption));

    layout->addWidget(stepHeading(tr("Sign in to your account"), step), 0, Qt::AlignHCenter);
    layout->addWidget(m_email);
    layout->addWidget(m_sendCode, 0, Qt::AlignHCenter);
    layout->addWidget(changeServer, 0, Qt::AlignHCenter);

    connect(m_email, &QLineEdit::textChanged, this, &LoginView::refresh);
    // Return sends also an empty address, as the button would not; never while a request runs.
    connect(m_email, &QLineEdit::returnPressed, this, [this] {
        if (!m_request.isLoading) {
            sendCode();
        }
    });
    connect(m_sendCode, &QPushButton::clicked, this, &LoginView::sendCode);
    connect(changeServer, &QPushButton::clicked, this, &LoginView::changeServer);
    return step;
}

QWidget* LoginView::makeCodeStep()
{
    auto* step = new QWidget(this);
    step->setObjectName(QStringLiteral("codeStep"));
    auto* layout = makeColumn(kStepSpacing, step);
    m_hint = new QLabel(step);
    m_hint->setObjectName(QStringLiteral("codeHint"));
    styleLabel(*m_hint, TextStyle::caption, true);
    m_hint->setWordWrap(true);
    m_hint->setAlignment(Qt::AlignHCenter);
    m_code = makeTextField(QStringLiteral("code"), tr("Verification code"), tr("Verification code"),
                           step);
    m_code->setFixedWidth(kCodeFieldWidth);
    m_logIn = mainButton(QStringLiteral("logIn"), tr("Log In"), step);
    auto* differentEmail =
        linkButton(QStringLiteral("useDifferentEmail"), tr("Use different email"), step);

    layout->addWidget(stepHeading(tr("Check your email"), step), 0, Qt::AlignHCenter);
    layout->addWidget(m_hint);
    layout->addWidget(m_code, 0, Qt::AlignHCenter);
    layout->addWidget(m_logIn, 0, Qt::AlignHCenter);
    layout->addWidget(differentEmail, 0, Qt::AlignHCenter);

    connect(m_code, &QLineEdit::textChanged, this, &LoginView::refresh);
    connect(m_code, &QLineEdit::returnPressed, this, [this] {
        if (!m_request.isLoading) {
            verify();
        }
    });
    connect(m_logIn, &QPushButton::clicked, this, &LoginView::verify);
    connect(differentEmail, &QPushButton::clicked, this, &LoginView::useDifferentEmail);
    return step;
}

void LoginView::sendCode()
{
    m_request.start();
    refresh();
    requestSignInCode(
        this, m_state, m_email->text(),
        [this] {
            m_step = LoginStep::code;
            m_request.succeed();
            refresh();
        },
        [this](const QString& error) { fail(error); });
}

void LoginView::verify()
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

void LoginView::useDifferentEmail()
{
    m_step = LoginStep::email;
    m_code->clear();
    m_request.errorMessage.reset();
    refresh();
}

void LoginView::changeServer()
{
    m_state.clearSetupDone();
    m_state.setPhase(AppPhase::setup);
}

void LoginView::fail(const QString& message)
{
    m_request.fail(message);
    refresh();
}

void LoginView::refresh()
{
    showErrorLine(*m_error, m_request.errorMessage);
    m_emailStep->setVisible(m_step == LoginStep::email);
    m_codeStep->setVisible(m_step == LoginStep::code);
    m_hint->setText(tr("We sent a 6-digit code to %1").arg(m_email->text()));
    m_sendCode->setLoading(m_request.isLoading);
    m_sendCode->setEnabled(!m_email->text().isEmpty() && !m_request.isLoading);
    m_logIn->setLoading(m_request.isLoading);
    m_logIn->setEnabled(!m_code->text().isEmpty() && !m_request.isLoading);
}

}  // namespace corvane
