#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTest>

#include "App/AppFixture.h"
#include "App/ViewPng.h"
#include "App/ViewTestSupport.h"
#include "MenuBar/SettingsView.h"

namespace corvane::test {

// AppFixture with the settings view in a shown window.
class SettingsFixture : public AppFixture {
public:
    ~SettingsFixture() { view.reset(); }

    SettingsView& showView()
    {
        view = std::make_unique<SettingsView>(*state);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        return *view;
    }

    // Switches to the tab at `index` as a click on its title would.
    void showTab(int index)
    {
        QTabBar* bar = view->tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        ASSERT_EQ(view->tabs()->currentIndex(), index);
    }

    template <typename Widget>
    Widget* find(const char* objectName) const
    {
        auto* widget = view->findChild<Widget*>(QString::fromLatin1(objectName));
        EXPECT_NE(widget, nullptr) << objectName;
        return widget;
    }

    std::string text(const char* labelName) const
    {
        return find<QLabel>(labelName)->text().toStdString();
    }

    // Writes the window as it looks now under the build folder, for people to look at.
    void savePicture(const std::string& name) const
    {
        QCoreApplication::processEvents();  // layouts settle in posted events
        saveViewPng(*view, QString::fromStdString(name));
    }

    std::unique_ptr<SettingsView> view;
};

// A click on a check box's box, wherever its label ends.
inline void clickToggle(QAbstractButton* toggle)
{
    QStyleOptionButton option;
    option.initFrom(toggle);
    const QRect box =
        toggle->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, toggle);
    QTest::mouseClick(toggle, Qt::LeftButton, {}, box.center());
}

// What an assistive tool does to a check box: its toggle action, with no click or key.
inline void toggleAsAssistiveTool(QAbstractButton* toggle)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(accessible, nullptr);
    QAccessibleActionInterface* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
}

// Opens the picker and clicks the item at `index`, also when it is the one shown.
inline void choose(QComboBox* picker, int index)
{
    picker->showPopup();
    QAbstractItemView* list = picker->view();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const QRect item = list->visualRect(picker->model()->index(index, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    EXPECT_FALSE(list->isVisible());
}

}  // namespace corvane::test
