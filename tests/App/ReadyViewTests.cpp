#include "App/ReadyView.h"

#include <QLabel>
#include <QPushButton>

#include "App/AppFixture.h"
#include "App/ElidedLabel.h"
#include "App/ViewPng.h"
#include "App/ViewTestSupport.h"

namespace corvane::test {
namespace {

class ReadyViewTest : public testing::Test, public AppFixture {
protected:
    ReadyViewTest()
    {
        makeState();
        view = std::make_unique<ReadyView>(*state);
        EXPECT_TRUE(showAndExpose(*view));
    }

    ElidedLabel& folder() { return child<ElidedLabel>(*view, "syncDir"); }

    std::unique_ptr<ReadyView> view;
};

TEST_F(ReadyViewTest, ShowsTheTextsAndTheFolder)
{
    EXPECT_EQ(child<QLabel>(*view, "title").text(), "You're all set!");
    EXPECT_EQ(child<QLabel>(*view, "runningNote").text(),
              "Corvane is running in the system tray. Your files in");
    EXPECT_EQ(child<QLabel>(*view, "syncNote").text(), "will be kept in sync automatically.");
    EXPECT_EQ(child<QPushButton>(*view, "openSyncFolder").text(), "Open Sync Folder");
    EXPECT_EQ(child<QPushButton>(*view, "close").text(), "Close");
    EXPECT_EQ(folder().text(), state->syncDir());
    EXPECT_EQ(folder().displayedText(), state->syncDir());
    EXPECT_EQ(view->width(), ReadyView::kWidth);
    saveViewPng(*view, QStringLiteral("ready"));
}

TEST_F(ReadyViewTest, TheFolderFollowsTheStateAndALongPathKeepsBothEnds)
{
    const QString deep = QStringLiteral(
        "/home/ada/Documents/Projects/Analytical Engine/Notes and Letters/Correspondence/Corvane");
    state->setSyncDir(deep);
    EXPECT_EQ(folder().text(), deep);
    layOut();
    const QString shown = folder().displayedText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/home/"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/Corvane"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_LE(folder().fontMetrics().horizontalAdvance(shown), folder().width());
    EXPECT_EQ(folder().height(), folder().fontMetrics().height());  // one line
    saveViewPng(*view, QStringLiteral("ready-long-folder"));
}

TEST_F(ReadyViewTest, OpenSyncFolderAsksTheDesktopOnceForTheFolder)
{
    state->setSyncDir(QStringLiteral("/srv/sync/Ada Lovelace"));
    QTest::mouseClick(&child<QPushButton>(*view, "openSyncFolder"), Qt::LeftButton);
    EXPECT_EQ(workspace->opened, std::vector<std::string>{"file:///srv/sync/Ada%20Lovelace"});
    EXPECT_TRUE(view->isVisible());
}

TEST_F(ReadyViewTest, CloseClosesTheWindow)
{
    QTest::mouseClick(&child<QPushButton>(*view, "close"), Qt::LeftButton);
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(workspace->opened.empty());
}

}  // namespace
}  // namespace corvane::test
