#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace corvane::test {

// Where the view tests leave their pictures for people to look at (never compared).
inline QString viewPngDir()
{
    return QStringLiteral(CORVANE_VIEW_PNG_DIR);
}

inline void saveViewPng(const QPixmap& picture, const QString& name)
{
    ASSERT_TRUE(QDir().mkpath(viewPngDir()));
    const QString file = viewPngDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    EXPECT_TRUE(picture.save(file)) << file.toStdString();
}

// The widget as it stands, once its layouts have followed the last changes; a view shown on
// its own as a window takes its content's size, as the window around it would.
inline void saveViewPng(QWidget& view, const QString& name)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (view.isWindow()) {
        view.adjustSize();
    }
    saveViewPng(view.grab(), name);
}

}  // namespace corvane::test
