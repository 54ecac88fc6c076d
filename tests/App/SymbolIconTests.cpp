#include "App/SymbolIcon.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "App/ViewPng.h"

namespace corvane::test {
namespace {

// The icon theme searched in nothing but an empty folder: what the offscreen platform and CI
// have, and any desktop whose theme lacks a name.
class SymbolIconTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_emptyThemes.isValid());
        m_themeName = QIcon::themeName();
        m_searchPaths = QIcon::themeSearchPaths();
        m_fallbackPaths = QIcon::fallbackSearchPaths();
        QIcon::setThemeSearchPaths({m_emptyThemes.path()});
        QIcon::setFallbackSearchPaths({});
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
    }

    void TearDown() override
    {
        QIcon::setThemeName(m_themeName);
        QIcon::setThemeSearchPaths(m_searchPaths);
        QIcon::setFallbackSearchPaths(m_fallbackPaths);
    }

private:
    QTemporaryDir m_emptyThemes;
    QString m_themeName;
    QStringList m_searchPaths;
    QStringList m_fallbackPaths;
};

int opaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
        }
    }
    return count;
}

TEST_F(SymbolIconTest, EveryKnownNameHasAnIconWithoutATheme)
{
    const QStringList names = knownSymbolNames();
    EXPECT_EQ(names.size(), 21);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon = symbolIcon(name);
        ASSERT_FALSE(icon.isNull());
        const QImage image = icon.pixmap(QSize(24, 24)).toImage();
        ASSERT_EQ(image.size(), QSize(24, 24));
        // Drawn, not an empty square: a glyph covers some of the square and leaves some free.
        const int opaque = opaquePixels(image);
        EXPECT_GT(opaque, 24);
        EXPECT_LT(opaque, 24 * 24 * 3 / 4);
    }
}

TEST_F(SymbolIconTest, AnUnknownNameHasNone)
{
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(bundledSymbolIcon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(symbolPixmap(QStringLiteral("no.such.symbol"), 16, Qt::red).isNull());
}

TEST_F(SymbolIconTest, APixmapKeepsTheShapeInTheGivenColour)
{
    const QPixmap pixmap =
        symbolPixmap(QStringLiteral("checkmark.icloud"), 16, QColor(0, 122, 255), 2.0);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(16, 16));
    const QImage image = pixmap.toImage();
    EXPECT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    int tinted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++tinted;
                EXPECT_EQ(pixel.rgb(), QColor(0, 122, 255).rgb());
            }
        }
    }
    EXPECT_GT(tinted, 20);
}

// Every symbol at three sizes, on light and dark ground, with its name, for people to look at.
TEST_F(SymbolIconTest, SheetOfAllSymbols)
{
    QStringList names = knownSymbolNames();
    names.sort();
    const int sizes[] = {16, 24, 64};
    const int cell = 72;
    const int label = 240;
    QPixmap sheet(label + cell * 6, cell * static_cast<int>(names.size()));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.fillRect(QRect(label + cell * 3, 0, cell * 3, sheet.height()), QColor(40, 40, 40));
    for (int row = 0; row < names.size(); ++row) {
        painter.setPen(Qt::black);
        painter.drawText(QRect(8, row * cell, label - 8, cell), Qt::AlignVCenter, names[row]);
        for (int column = 0; column < 6; ++column) {
            const int size = sizes[column % 3];
            const QColor color = column < 3 ? QColor(Qt::black) : QColor(Qt::white);
            const QPixmap glyph = symbolPixmap(names[row], size, color);
            painter.drawPixmap(label + column * cell + (cell - size) / 2,
                               row * cell + (cell - size) / 2, glyph);
        }
    }
    painter.end();
    saveViewPng(sheet, QStringLiteral("symbol-icons"));
}

}  // namespace
}  // namespace corvane::test
