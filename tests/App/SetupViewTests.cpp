// The setup form on its own: what it shows, the button's rule, Return in each field, the
// folder choice. The requests behind the button: SetupFlowTests.cpp.
#include "App/SetupView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "App/AppFixture.h"
#include "App/ElidedLabel.h"
#include "App/SpinnerButton.h"
#include "App/ViewPng.h"
#include "App/ViewTestSupport.h"
#include "support/ClosedPort.h"

namespace corvane::test {
namespace {

class SetupViewTest : public testing::Test, public AppFixture {
protected:
    SetupView& open()
    {
        if (!state) {
            makeState();
        }
        view = std::make_unique<SetupView>(*state);
        EXPECT_TRUE(showAndExpose(*view));
        return *view;
    }

    QLineEdit& server() { return child<QLineEdit>(*view, "server"); }
    QLineEdit& email() { return child<QLineEdit>(*view, "email"); }
    QLineEdit& code() { return child<QLineEdit>(*view, "code"); }
    SpinnerButton& submit() { return child<SpinnerButton>(*view, "submit"); }
    ElidedLabel& folder() { return child<ElidedLabel>(*view, "syncDir"); }
    QPushButton& change() { return child<QPushButton>(*view, "changeFolder"); }
    QLabel& error() { return child<QLabel>(*view, "error"); }

    bool settled()
    {
        return runUntil([&] { return !view->isLoading(); });
    }

    std::unique_ptr<SetupView> view;
};

TEST_F(SetupViewTest, AFirstRunShowsTheDefaultsWithTheFocusInTheServerField)
{
    open();
    EXPECT_EQ(server().text(), "https://");
    EXPECT_EQ(folder().text().toStdString(), (home.path() / "Corvane").string());
    EXPECT_EQ(view->focusWidget(), &server());
    EXPECT_EQ(submit().text(), "Continue");
    EXPECT_FALSE(submit().isEnabled());
    EXPECT_FALSE(error().isVisibleTo(view.get()));
    EXPECT_FALSE(code().isVisibleTo(view.get()));
    EXPECT_FALSE(child<QLabel>(*view, "codeHint").isVisibleTo(view.get()));
    EXPECT_EQ(server().placeholderText(), "https://sync.example.com");
    EXPECT_EQ(email().placeholderText(), "Email");
    EXPECT_EQ(child<QLabel>(*view, "title").text(), "Corvane");
    EXPECT_EQ(child<QLabel>(*view, "subtitle").text(), "Team File Sync & Sharing");
    EXPECT_EQ(view->width(), SetupView::kWidth);
    saveViewPng(*view, QStringLiteral("setup-first-run"));

    // "https://" already counts as an address: one character of e-mail enables the button.
    QTest::keyClicks(&email(), QStringLiteral("a"));
    EXPECT_TRUE(submit().isEnabled());
    retype(email(), QStringLiteral("ada@example.com"));
    saveViewPng(*view, QStringLiteral("setup-filled"));
}

TEST_F(SetupViewTest, AStoredSetupIsShownExactlyAsStored)
{
    storeSetupDone();
    storeSetting("serverURL", "http://Sync.Example.com:8080/");
    storeSetting("syncDir", "/srv/sync/Ada Lovelace");
    open();
    EXPECT_EQ(state->phase(), AppPhase::login);
    EXPECT_EQ(server().text(), "http://Sync.Example.com:8080/");
    EXPECT_EQ(folder().text(), "/srv/sync/Ada Lovelace");
}

TEST_F(SetupViewTest, TheButtonFollowsTheFormsContent)
{
    open();
    retype(server(), QStringLiteral("   "));
    retype(email(), QStringLiteral(" "));
    EXPECT_TRUE(submit().isEnabled());
    retype(server(), QString());
    EXPECT_FALSE(submit().isEnabled());
    retype(server(), QStringLiteral("x"));
    EXPECT_TRUE(submit().isEnabled());
    retype(email(), QString());
    EXPECT_FALSE(submit().isEnabled());
}

TEST_F(SetupViewTest, ReturnInTheServerFieldMovesOnWithoutSubmitting)
{
    open();
    QTest::keyClicks(&email(), QStringLiteral("ada@example.com"));
    server().setFocus();
    pressReturn(server());
    EXPECT_EQ(view->focusWidget(), &email());
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(server().text(), "https://");  // not normalised: nothing was submitted
}

TEST_F(SetupViewTest, ReturnInTheEmailFieldSubmitsOnlyACompleteForm)
{
    const ClosedPort closed;
    open();
    retype(server(), QString::fromStdString(closed.baseURL()));
    email().setFocus();
    pressReturn(email());
    EXPECT_FALSE(view->isLoading());
    EXPECT_FALSE(view->errorMessage());

    QTest::keyClicks(&email(), QStringLiteral("ada@example.com"));
    pressReturn(email());
    EXPECT_TRUE(view->isLoading());
    ASSERT_TRUE(settled());
    // The refused connection, in the words of the transport.
    ASSERT_TRUE(view->errorMessage());
    EXPECT_NE(view->errorMessage()->toStdString().find("onnect"), std::string::npos)
        << view->errorMessage()->toStdString();
}

TEST_F(SetupViewTest, ReturnOutsideTheTextFieldsIsTheButtonsShortcut)
{
    const ClosedPort closed;
    open();
    retype(server(), QString::fromStdString(closed.baseURL()));
    retype(email(), QStringLiteral("ada@example.com"));
    change().setFocus();
    pressReturn(change());
    EXPECT_TRUE(view->isLoading());
    EXPECT_TRUE(folderChooser->asked.empty());
    ASSERT_TRUE(settled());
}

TEST_F(SetupViewTest, TheFolderChoiceCancelledChangesNothing)
{
    open();
    const QString before = folder().text();
    QTest::mouseClick(&change(), Qt::LeftButton);
    ASSERT_EQ(folderChooser->asked.size(), 1u);
    EXPECT_EQ(folderChooser->asked[0].prompt, "Choose");
    EXPECT_EQ(folderChooser->asked[0].message, "Choose a folder for Corvane to sync files");
    EXPECT_EQ(folder().text(), before);
    EXPECT_EQ(view->syncDir(), before);
}

TEST_F(SetupViewTest, AChosenFolderIsShownOnOneLineShortenedInTheMiddle)
{
    open();
    const QString deep =
        QStringLiteral("/home/ada/Documents/Projects/Analytical Engine/Notes and Letters/"
                       "Correspondence with Charles Babbage/Corvane Shared");
    folderChooser->answers.push_back(deep);
    QTest::mouseClick(&change(), Qt::LeftButton);
    EXPECT_EQ(folder().text(), deep);
    EXPECT_EQ(view->syncDir(), deep);
    EXPECT_EQ(folder().accessibleName(), deep);
    layOut();
    const QString shown = folder().displayedText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/home/ada/"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Shared"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_LE(folder().fontMetrics().horizontalAdvance(shown), folder().width());
    // The path takes the width up to the button.
    EXPECT_GE(folder().geometry().right() + 20, change().geometry().left());
    EXPECT_TRUE(change().isVisibleTo(view.get()));
    // Choosing stores nothing: the setup learns the folder when the server check succeeds.
    EXPECT_NE(state->syncDir(), deep);
    saveViewPng(*view, QStringLiteral("setup-long-folder"));
}

}  // namespace
}  // namespace corvane::test
