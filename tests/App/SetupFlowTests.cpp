// The setup form's requests against the stand-in server: the health check, storing the setup,
// the code request and the sign-in, with their failures.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "App/AppFixture.h"
#include "App/ElidedLabel.h"
#include "App/ReadyView.h"
#include "App/SetupView.h"
#include "App/SetupWindow.h"
#include "App/SpinnerButton.h"
#include "App/ViewPng.h"
#include "App/ViewTestSupport.h"
#include "Sync/LocalStateStore.h"
#include "support/ClosedPort.h"
#include "support/ServerProcess.h"

namespace corvane::test {
namespace {

constexpr const char* kEmail = "ada@example.com";
constexpr const char* kServerError = "Server responded with an error. Check the URL and try again.";

class SetupFlowTest : public testing::Test, public AppFixture {
protected:
    SetupFlowTest()
    {
        makeState();
        window = std::make_unique<SetupWindow>(*state);
        EXPECT_TRUE(showAndExpose(*window));
    }

    QString address() const { return QString::fromStdString(server.baseURL()); }

    SetupView& view()
    {
        auto* view = qobject_cast<SetupView*>(window->content());
        if (!view) {
            throw std::runtime_error("the window shows no setup form");
        }
        return *view;
    }
    QLineEdit& serverField() { return child<QLineEdit>(view(), "server"); }
    QLineEdit& email() { return child<QLineEdit>(view(), "email"); }
    QLineEdit& code() { return child<QLineEdit>(view(), "code"); }
    SpinnerButton& submit() { return child<SpinnerButton>(view(), "submit"); }
    QLabel& error() { return child<QLabel>(view(), "error"); }
    QPushButton& change() { return child<QPushButton>(view(), "changeFolder"); }

    void fill(const QString& serverText, const QString& emailText = QString::fromLatin1(kEmail))
    {
        retype(serverField(), serverText);
        retype(email(), emailText);
    }
    void press() { QTest::mouseClick(&submit(), Qt::LeftButton); }
    bool settled()
    {
        return runUntil([&] { return !view().isLoading(); });
    }
    // Presses the button and waits for the outcome.
    void submitAndSettle()
    {
        press();
        ASSERT_TRUE(view().isLoading());
        ASSERT_TRUE(settled());
    }

    // How many requests the server has seen.
    int requestsSeen() const
    {
        try {
            return server.lastRequest().value("number", 0);
        } catch (const std::exception&) {
            return 0;  // none yet
        }
    }
    // How many codes the server has mailed to `address`.
    int codesSent(const std::string& address) const
    {
        std::ifstream outbox(server.dataDir() / "outbox.log");
        int count = 0;
        for (std::string line; std::getline(outbox, line);) {
            count += line.starts_with(address + " ") ? 1 : 0;
        }
        return count;
    }
    std::string lastTarget() const { return server.lastRequest().value("target", ""); }

    bool nothingStored() const
    {
        const auto defaults = UserDefaults::standard();
        return state->phase() == AppPhase::setup &&
               !defaults->boolean("setupDone").value_or(false) && !defaults->string("serverURL");
    }

    fs::path stateFile(const fs::path& folder) const { return LocalStateStore(folder).filePath(); }
    void writeStateFile(const fs::path& folder)
    {
        fs::create_directories(stateFile(folder).parent_path());
        std::ofstream(stateFile(folder)) << "{}";
    }

    ServerProcess server;
    std::unique_ptr<SetupWindow> window;
};

TEST_F(SetupFlowTest, AWholeSignInEndsReadyWithTheTokenSavedAndSyncStarted)
{
    // The account exists in this spelling; the form gets another.
    server.signIn(kEmail);
    const fs::path folder = home.path() / "Shared" / "Corvane";
    folderChooser->answers.push_back(QString::fromStdString(folder.string()));
    QTest::mouseClick(&change(), Qt::LeftButton);
    fill(QStringLiteral("  ") + address() + QStringLiteral("/ "),
         QStringLiteral("Ada@Example.com"));
    saveViewPng(*window, QStringLiteral("setup-before-continue"));

    press();
    EXPECT_EQ(serverField().text(), address());  // normalised at once
    EXPECT_TRUE(submit().showsSpinner());
    EXPECT_FALSE(submit().isEnabled());
    saveViewPng(*window, QStringLiteral("setup-checking-server"));
    ASSERT_TRUE(settled());
    ASSERT_FALSE(view().errorMessage()) << view().errorMessage()->toStdString();

    // Stored, signed out, and the code on its way.
    EXPECT_EQ(state->phase(), AppPhase::login);
    EXPECT_EQ(state->serverURL(), address());
    EXPECT_EQ(state->syncDir().toStdString(), folder.string());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(lastTarget(), "/api/auth/send-code");
    EXPECT_TRUE(view().codeSent());
    EXPECT_EQ(submit().text(), "Log In");
    EXPECT_FALSE(submit().isEnabled());
    EXPECT_TRUE(code().isVisibleTo(window.get()));
    EXPECT_EQ(view().focusWidget(), &code());
    QLabel& hint = child<QLabel>(view(), "codeHint");
    EXPECT_TRUE(hint.isVisibleTo(window.get()));
    EXPECT_EQ(hint.text(), "We sent a 6-digit code to Ada@Example.com");
    saveViewPng(*window, QStringLiteral("setup-code-sent"));
    // The hint follows the field.
    retype(email(), QStringLiteral("Ada@Example.co"));
    EXPECT_EQ(hint.text(), "We sent a 6-digit code to Ada@Example.co");
    retype(email(), QStringLiteral("Ada@Example.com"));

    retype(code(), QString::fromStdString(server.latestCode("Ada@Example.com")));
    EXPECT_TRUE(submit().isEnabled());
    pressReturn(code());
    EXPECT_TRUE(submit().showsSpinner());
    saveViewPng(*window, QStringLiteral("setup-verifying"));
    ASSERT_TRUE(runUntil([&] { return state->phase() == AppPhase::ready; }));

    // The server's form of the address, the token file, a running engine, the ready screen.
    EXPECT_EQ(state->userEmail(), kEmail);
    EXPECT_EQ(UserDefaults::standard()->string("userEmail"), kEmail);
    EXPECT_TRUE(KeychainHelper::load("auth_token"));
    ASSERT_EQ(engines.size(), 1u);
    EXPECT_EQ(state->syncEngine(), engines[0].engine);
    EXPECT_TRUE(engines[0].engine->isRunning());
    ASSERT_TRUE(runUntil([&] { return qobject_cast<ReadyView*>(window->content()); }));
    EXPECT_EQ(child<ElidedLabel>(*window, "syncDir").text().toStdString(), folder.string());
}

TEST_F(SetupFlowTest, AnAddressWithoutSchemeGetsHttps)
{
    // The stand-in server speaks plain HTTP: the TLS handshake fails, and nothing is stored.
    fill(address().mid(QStringLiteral("http://").size()));
    submitAndSettle();
    EXPECT_EQ(serverField().text(),
              QStringLiteral("https://") + address().mid(QStringLiteral("http://").size()));
    ASSERT_TRUE(view().errorMessage());
    EXPECT_NE(*view().errorMessage(), kServerError);
    EXPECT_TRUE(nothingStored());
}

TEST_F(SetupFlowTest, AnAddressWithoutAHostNeverLeavesTheMachine)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("   "), QStringLiteral("https:/")},
        {QStringLiteral("https://"), QStringLiteral("https:/")},
        {QStringLiteral(" https://:8080 "), QStringLiteral("https://:8080")},
        {QStringLiteral("sync example.com"), QStringLiteral("https://sync example.com")},
    };
    for (const auto& [typed, normalised] : cases) {
        SCOPED_TRACE(typed.toStdString());
        fill(typed);
        press();
        EXPECT_FALSE(view().isLoading());
        ASSERT_TRUE(view().errorMessage());
        EXPECT_EQ(*view().errorMessage(), "Invalid URL format");
        EXPECT_EQ(error().text(), "Invalid URL format");
        EXPECT_TRUE(error().isVisibleTo(window.get()));
        EXPECT_EQ(serverField().text(), normalised);
        EXPECT_TRUE(nothingStored());
    }
    EXPECT_EQ(requestsSeen(), 0);
    saveViewPng(*window, QStringLiteral("setup-invalid-url"));
}

TEST_F(SetupFlowTest, AHealthAnswerOtherThan200StoresNothing)
{
    for (const int status : {204, 401, 503}) {
        SCOPED_TRACE(status);
        server.injectFault({{"path_prefix", "/health"}, {"status", status}});
        fill(address());
        submitAndSettle();
        EXPECT_EQ(view().errorMessage(), kServerError);
        EXPECT_EQ(lastTarget(), "/health");
        EXPECT_TRUE(nothingStored());
        EXPECT_EQ(submit().text(), "Continue");
    }
}

TEST_F(SetupFlowTest, ARefusedConnectionShowsTheTransportsWords)
{
    const ClosedPort closed;
    fill(QString::fromStdString(closed.baseURL()));
    submitAndSettle();
    ASSERT_TRUE(view().errorMessage());
    EXPECT_NE(view().errorMessage()->toStdString().find("onnect"), std::string::npos)
        << view().errorMessage()->toStdString();
    EXPECT_TRUE(nothingStored());
}

TEST_F(SetupFlowTest, AFailedCodeRequestShowsTheServersTextAsPlainTextAfterStoringTheSetup)
{
    const std::string page =
        "<html><body><h1>502 Bad Gateway</h1><p>The upstream mail relay did not answer in time. "
        "Please try again in a few minutes or ask the administrator of this server.</p>"
        "</body></html>";
    server.injectFault({{"path_prefix", "/api/auth/send-code"}, {"status", 502}, {"body", page}});
    fill(address());
    submitAndSettle();
    EXPECT_EQ(view().errorMessage(), QString::fromStdString(page));
    EXPECT_EQ(error().text().toStdString(), page);
    EXPECT_EQ(error().textFormat(), Qt::PlainText);
    EXPECT_TRUE(error().wordWrap());
    // Shown in full over several lines above "Server URL", once the layouts have followed.
    EXPECT_TRUE(runUntil([&] {
        layOut();
        return error().height() > 2 * error().fontMetrics().height();
    })) << error().height();
    EXPECT_LT(error().geometry().top(), serverField().geometry().top());
    EXPECT_EQ(state->phase(), AppPhase::login);
    EXPECT_EQ(state->serverURL(), address());
    EXPECT_FALSE(view().codeSent());
    EXPECT_EQ(submit().text(), "Continue");
    saveViewPng(*window, QStringLiteral("setup-error"));

    // The next press clears the error before it starts.
    server.injectFault({{"path_prefix", "/api/auth/send-code"}, {"delay_ms", 300}});
    press();
    EXPECT_FALSE(error().isVisibleTo(window.get()));
    ASSERT_TRUE(settled());
    EXPECT_TRUE(view().codeSent());
}

TEST_F(SetupFlowTest, WhileARequestIsInFlightNoSecondOneStarts)
{
    server.injectFault({{"path_prefix", "/health"}, {"delay_ms", 500}});
    fill(address());
    press();
    ASSERT_TRUE(runUntil([&] { return requestsSeen() == 1; }));
    EXPECT_TRUE(submit().showsSpinner());
    EXPECT_FALSE(submit().isEnabled());
    // Everything else stays usable.
    EXPECT_TRUE(serverField().isEnabled());
    EXPECT_TRUE(email().isEnabled());
    EXPECT_TRUE(change().isEnabled());
    press();
    pressReturn(email());
    change().setFocus();
    pressReturn(change());
    ASSERT_TRUE(settled());
    EXPECT_TRUE(view().codeSent());
    // The health check and one code request.
    EXPECT_EQ(requestsSeen(), 2);
    EXPECT_EQ(lastTarget(), "/api/auth/send-code");
}

TEST_F(SetupFlowTest, ARefusedCodeKeepsTheCodeAndTheNextPressVerifiesAgain)
{
    fill(address());
    submitAndSettle();
    ASSERT_TRUE(view().codeSent());
    retype(code(), QStringLiteral("000000x"));
    submitAndSettle();
    EXPECT_EQ(view().errorMessage(), "Session expired, please log in again");
    EXPECT_TRUE(view().codeSent());
    EXPECT_EQ(code().text(), "000000x");
    EXPECT_EQ(email().text(), kEmail);
    EXPECT_EQ(state->phase(), AppPhase::login);
    saveViewPng(*window, QStringLiteral("setup-code-refused"));

    retype(code(), QString::fromStdString(server.latestCode(kEmail)));
    press();
    ASSERT_TRUE(runUntil([&] { return state->phase() == AppPhase::ready; }));
    EXPECT_EQ(codesSent(kEmail), 1);
}

// Signing in again to the same server and folder keeps the folder's sync state: a new setup
// would forget it, and the next sync would bring back files deleted meanwhile.
TEST_F(SetupFlowTest, SigningInAgainKeepsTheSyncState)
{
    fill(address());
    submitAndSettle();
    retype(code(), QString::fromStdString(server.latestCode(kEmail)));
    press();
    ASSERT_TRUE(runUntil([&] { return state->phase() == AppPhase::ready; }));
    const fs::path folder = state->syncDir().toStdString();
    ASSERT_TRUE(runUntil([&] { return state->syncStatus() == SyncStatus::idle; }, 30s));

    state->logout();
    writeStateFile(folder);
    ASSERT_TRUE(runUntil([&] { return qobject_cast<SetupView*>(window->content()); }));
    EXPECT_EQ(serverField().text(), address());
    EXPECT_TRUE(email().text().isEmpty());  // a fresh form
    const int before = requestsSeen();
    retype(email(), QString::fromLatin1(kEmail));
    submitAndSettle();
    EXPECT_TRUE(view().codeSent());
    EXPECT_TRUE(fs::exists(stateFile(folder)));
    // Straight to the code request on the existing client: no health check, no new setup.
    EXPECT_EQ(requestsSeen(), before + 1);
    EXPECT_EQ(lastTarget(), "/api/auth/send-code");
}

TEST_F(SetupFlowTest, ContinueAgainAfterAFailedCodeRequestKeepsTheSyncState)
{
    server.injectFault({{"path_prefix", "/api/auth/send-code"}, {"status", 500}});
    fill(address());
    submitAndSettle();
    ASSERT_EQ(state->phase(), AppPhase::login);
    const fs::path folder = state->syncDir().toStdString();
    writeStateFile(folder);
    submitAndSettle();
    EXPECT_TRUE(view().codeSent());
    EXPECT_TRUE(fs::exists(stateFile(folder)));
}

TEST_F(SetupFlowTest, TheCheckedAddressIsStoredNotTheFieldsLaterText)
{
    server.injectFault({{"path_prefix", "/health"}, {"delay_ms", 300}});
    fill(address());
    press();
    ASSERT_TRUE(runUntil([&] { return requestsSeen() == 1; }));
    QTest::keyClicks(&serverField(), QStringLiteral("/other"));
    ASSERT_TRUE(settled());
    EXPECT_EQ(state->serverURL(), address());
    EXPECT_EQ(UserDefaults::standard()->string("serverURL"), server.baseURL());
    // The field names another server now: its next press checks that one.
    EXPECT_FALSE(view().codeSent());
    EXPECT_EQ(submit().text(), "Continue");
}

TEST_F(SetupFlowTest, AnotherFolderOrServerAfterTheCodeWasSentChecksAndStoresAgain)
{
    fill(address());
    submitAndSettle();
    ASSERT_TRUE(view().codeSent());

    // Choosing the same folder again changes nothing.
    folderChooser->answers.push_back(state->syncDir());
    QTest::mouseClick(&change(), Qt::LeftButton);
    EXPECT_TRUE(view().codeSent());

    const fs::path other = home.path() / "Other";
    folderChooser->answers.push_back(QString::fromStdString(other.string()));
    QTest::mouseClick(&change(), Qt::LeftButton);
    EXPECT_FALSE(view().codeSent());
    EXPECT_EQ(submit().text(), "Continue");
    EXPECT_FALSE(code().isVisibleTo(window.get()));
    const int before = requestsSeen();
    server.advanceClock(std::chrono::seconds(30));  // a code went to this address just now
    submitAndSettle();
    EXPECT_EQ(requestsSeen(), before + 2);  // the health check, then the code
    EXPECT_EQ(state->syncDir().toStdString(), other.string());
    EXPECT_TRUE(view().codeSent());

    QTest::keyClicks(&serverField(), QStringLiteral(" "));
    EXPECT_FALSE(view().codeSent());
    EXPECT_EQ(submit().text(), "Continue");
}

}  // namespace
}  // namespace corvane::test
