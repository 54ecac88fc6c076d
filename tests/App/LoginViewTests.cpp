// The separate two-step sign-in view against the stand-in server.
#include "Auth/LoginView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "App/AppFixture.h"
#include "App/SpinnerButton.h"
#include "App/ViewPng.h"
#include "App/ViewTestSupport.h"
#include "support/ServerProcess.h"

namespace corvane::test {
namespace {

constexpr const char* kEmail = "ada@example.com";

class LoginViewTest : public testing::Test, public AppFixture {
protected:
    LoginViewTest()
    {
        // Set up and signed out, as after a sign-out.
        storeSetupDone();
        storeSetting("serverURL", server.baseURL() + "/");
        makeState();
        view = std::make_unique<LoginView>(*state);
        EXPECT_TRUE(showAndExpose(*view));
    }

    QLineEdit& email() { return child<QLineEdit>(*view, "email"); }
    QLineEdit& code() { return child<QLineEdit>(*view, "code"); }
    SpinnerButton& sendCode() { return child<SpinnerButton>(*view, "sendCode"); }
    SpinnerButton& logIn() { return child<SpinnerButton>(*view, "logIn"); }
    QLabel& error() { return child<QLabel>(*view, "error"); }
    QWidget& emailStep() { return child<QWidget>(*view, "emailStep"); }
    QWidget& codeStep() { return child<QWidget>(*view, "codeStep"); }

    void click(QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }
    bool settled()
    {
        return runUntil([&] { return !view->isLoading(); });
    }
    void reachCodeStep(const QString& address = QString::fromLatin1(kEmail))
    {
        retype(email(), address);
        click(sendCode());
        ASSERT_TRUE(settled());
        ASSERT_EQ(view->step(), LoginView::LoginStep::code);
    }
    // How many requests the server has seen so far.
    int requestsSeen() const
    {
        try {
            return server.lastRequest().value("number", 0);
        } catch (const std::exception&) {
            return 0;
        }
    }

    ServerProcess server;
    std::unique_ptr<LoginView> view;
};

TEST_F(LoginViewTest, StartsAtTheEmailStepUnderTheServerAddressAsStored)
{
    EXPECT_EQ(child<QLabel>(*view, "title").text(), "Corvane");
    EXPECT_EQ(child<QLabel>(*view, "serverURL").text().toStdString(), server.baseURL() + "/");
    EXPECT_EQ(child<QLabel>(*view, "serverURL").textFormat(), Qt::PlainText);
    EXPECT_TRUE(emailStep().isVisibleTo(view.get()));
    EXPECT_FALSE(codeStep().isVisibleTo(view.get()));
    EXPECT_FALSE(error().isVisibleTo(view.get()));
    EXPECT_EQ(sendCode().text(), "Send Verification Code");
    EXPECT_FALSE(sendCode().isEnabled());
    EXPECT_EQ(email().placeholderText(), "Email");
    EXPECT_EQ(view->width(), LoginView::kWidth);
    saveViewPng(*view, QStringLiteral("login-email-step"));
    QTest::keyClicks(&email(), QStringLiteral("a"));
    EXPECT_TRUE(sendCode().isEnabled());
}

TEST_F(LoginViewTest, ReturnInAnEmptyFieldStillSendsAndTheRefusalIsShown)
{
    email().setFocus();
    pressReturn(email());
    EXPECT_TRUE(view->isLoading());
    EXPECT_TRUE(sendCode().showsSpinner());
    ASSERT_TRUE(settled());
    ASSERT_TRUE(view->errorMessage());
    EXPECT_NE(view->errorMessage()->toStdString().find("invalid email"), std::string::npos);
    EXPECT_TRUE(error().isVisibleTo(view.get()));
    EXPECT_EQ(error().textFormat(), Qt::PlainText);
    EXPECT_EQ(view->step(), LoginView::LoginStep::email);
    saveViewPng(*view, QStringLiteral("login-email-refused"));

    // The next request clears the line before it is sent.
    server.injectFault({{"path_prefix", "/api/auth/send-code"}, {"delay_ms", 300}});
    retype(email(), QString::fromLatin1(kEmail));
    click(sendCode());
    EXPECT_FALSE(error().isVisibleTo(view.get()));
    saveViewPng(*view, QStringLiteral("login-sending-code"));
    ASSERT_TRUE(settled());
    EXPECT_EQ(view->step(), LoginView::LoginStep::code);
}

TEST_F(LoginViewTest, TheCodeStepNamesTheAddressAsTypedAndAcceptsAnyCode)
{
    // The server takes the request whatever the address holds.
    server.injectFault({{"path_prefix", "/api/auth/send-code"},
                        {"status", 200},
                        {"body", R"({"status":"sent"})"}});
    reachCodeStep(QStringLiteral(" Ada@Example.com "));
    EXPECT_FALSE(emailStep().isVisibleTo(view.get()));
    EXPECT_TRUE(codeStep().isVisibleTo(view.get()));
    EXPECT_FALSE(error().isVisibleTo(view.get()));
    EXPECT_EQ(child<QLabel>(*view, "codeHint").text(),
              "We sent a 6-digit code to  Ada@Example.com ");
    EXPECT_EQ(code().width(), 200);
    EXPECT_FALSE(logIn().isEnabled());
    for (const char* any : {"1", "1234567", "ab cd"}) {
        retype(code(), QString::fromLatin1(any));
        EXPECT_TRUE(logIn().isEnabled()) << any;
    }
    saveViewPng(*view, QStringLiteral("login-code-step"));
}

TEST_F(LoginViewTest, ARefusedCodeStaysOnTheCodeStepAndTheRightOneSignsIn)
{
    server.signIn(kEmail);  // the account's own spelling
    reachCodeStep(QStringLiteral("ADA@example.com"));
    retype(code(), QStringLiteral("00000"));
    pressReturn(code());
    EXPECT_TRUE(logIn().showsSpinner());
    EXPECT_FALSE(logIn().isEnabled());
    saveViewPng(*view, QStringLiteral("login-verifying"));
    ASSERT_TRUE(settled());
    EXPECT_EQ(view->errorMessage(), "Session expired, please log in again");
    EXPECT_EQ(view->step(), LoginView::LoginStep::code);
    EXPECT_EQ(code().text(), "00000");
    EXPECT_EQ(state->phase(), AppPhase::login);
    saveViewPng(*view, QStringLiteral("login-code-refused"));

    retype(code(), QString::fromStdString(server.latestCode("ADA@example.com")));
    click(logIn());
    ASSERT_TRUE(runUntil([&] { return state->phase() == AppPhase::ready; }));
    EXPECT_EQ(state->userEmail(), kEmail);
    EXPECT_TRUE(KeychainHelper::load("auth_token"));
    EXPECT_FALSE(view->isLoading());
}

TEST_F(LoginViewTest, UseDifferentEmailReturnsWithTheAddressKeptAndTheCodeCleared)
{
    reachCodeStep();
    retype(code(), QStringLiteral("1"));
    click(logIn());
    ASSERT_TRUE(settled());
    ASSERT_TRUE(view->errorMessage());
    click(child<QPushButton>(*view, "useDifferentEmail"));
    EXPECT_EQ(view->step(), LoginView::LoginStep::email);
    EXPECT_TRUE(emailStep().isVisibleTo(view.get()));
    EXPECT_EQ(email().text(), kEmail);
    EXPECT_TRUE(code().text().isEmpty());
    EXPECT_FALSE(view->errorMessage());
    EXPECT_FALSE(error().isVisibleTo(view.get()));
}

TEST_F(LoginViewTest, ChangeServerGoesBackToTheSetupAndChangesNothingElse)
{
    retype(email(), QString::fromLatin1(kEmail));
    const QString serverURL = state->serverURL();
    click(child<QPushButton>(*view, "changeServer"));
    EXPECT_EQ(state->phase(), AppPhase::setup);
    EXPECT_EQ(UserDefaults::standard()->boolean("setupDone"), false);
    EXPECT_EQ(state->serverURL(), serverURL);
    EXPECT_EQ(email().text(), kEmail);
    EXPECT_EQ(view->step(), LoginView::LoginStep::email);
}

// Return in a field while its request is in flight starts no second one.
TEST_F(LoginViewTest, ReturnWhileARequestIsInFlightSendsNothingMore)
{
    server.injectFault({{"path_prefix", "/api/auth/send-code"}, {"delay_ms", 400}});
    retype(email(), QString::fromLatin1(kEmail));
    pressReturn(email());
    ASSERT_TRUE(runUntil([&] { return requestsSeen() == 1; }));
    pressReturn(email());
    pressReturn(email());
    ASSERT_TRUE(settled());
    ASSERT_EQ(view->step(), LoginView::LoginStep::code);
    EXPECT_EQ(requestsSeen(), 1);

    server.injectFault({{"path_prefix", "/api/auth/verify"}, {"delay_ms", 400}});
    retype(code(), QStringLiteral("12"));
    pressReturn(code());
    ASSERT_TRUE(runUntil([&] { return requestsSeen() == 2; }));
    pressReturn(code());
    click(logIn());
    ASSERT_TRUE(settled());
    EXPECT_EQ(requestsSeen(), 2);
}

}  // namespace
}  // namespace corvane::test
