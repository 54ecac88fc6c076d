#pragma once

#include <stdexcept>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QTest>
#include <QWidget>

namespace corvane::test {

// The child of `root` with `objectName`, as a user's tool would find it; a missing one fails
// the test with its name.
template <typename Widget>
Widget& child(const QObject& root, const char* objectName)
{
    auto* found = root.findChild<Widget*>(QString::fromLatin1(objectName));
    if (!found) {
        throw std::runtime_error(std::string("no child named ") + objectName);
    }
    return *found;
}

// Replaces the field's text as a user would: select all, then type.
inline void retype(QLineEdit& field, const QString& text)
{
    field.setFocus();
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_Backspace);
    QTest::keyClicks(&field, text);
}

// Lets the layouts follow what changed, as the event loop would before the next paint.
inline void layOut()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

inline void pressReturn(QWidget& widget)
{
    QTest::keyClick(&widget, Qt::Key_Return);
}

// Shows `window` and waits until the window system has it on screen.
inline bool showAndExpose(QWidget& window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

}  // namespace corvane::test
