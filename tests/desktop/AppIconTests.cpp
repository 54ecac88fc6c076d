// The application icon that is installed for the desktop: the hand-written SVG must be the logo
// the application paints, and the tool that paints the PNG sizes must write them.
#include <algorithm>
#include <cstdlib>

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "App/CorvaneLogo.h"
#include "App/ViewPng.h"

namespace corvane::test {
namespace {

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage paintedLogo(int size)
{
    QImage image = transparentImage(size);
    QPainter painter(&image);
    CorvaneLogo::paint(painter, size);
    return image;
}

QImage renderedSvg(int size)
{
    QImage image = transparentImage(size);
    QSvgRenderer svg(QStringLiteral(CORVANE_APP_ICON_SVG));
    EXPECT_TRUE(svg.isValid());
    QPainter painter(&image);
    svg.render(&painter);
    return image;
}

int channelDifference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

// The mean of each `block` x `block` square of `image`: where two drawings of the same shapes
// differ only in how their edges are antialiased (the logo's clipped corners come out up to a
// pixel inside the SVG's), their means differ little; a shape out of place by a grid unit
// changes a whole block.
QImage blockMeans(const QImage& image, int block)
{
    QImage means(image.width() / block, image.height() / block, QImage::Format_ARGB32);
    for (int by = 0; by < means.height(); ++by) {
        for (int bx = 0; bx < means.width(); ++bx) {
            int sums[4] = {0, 0, 0, 0};
            for (int y = by * block; y < (by + 1) * block; ++y) {
                for (int x = bx * block; x < (bx + 1) * block; ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    sums[0] += qRed(pixel);
                    sums[1] += qGreen(pixel);
                    sums[2] += qBlue(pixel);
                    sums[3] += qAlpha(pixel);
                }
            }
            const int count = block * block;
            means.setPixel(
                bx, by, qRgba(sums[0] / count, sums[1] / count, sums[2] / count, sums[3] / count));
        }
    }
    return means;
}

TEST(AppIconTest, TheSvgIconIsTheLogo)
{
    // 256 pixels: 8 to a grid unit, averaged over one unit.
    constexpr int kSize = 256;
    constexpr int kUnit = kSize / 32;
    const QImage logo = blockMeans(paintedLogo(kSize), kUnit);
    const QImage svg = blockMeans(renderedSvg(kSize), kUnit);
    for (int y = 0; y < logo.height(); ++y) {
        for (int x = 0; x < logo.width(); ++x) {
            EXPECT_LE(channelDifference(logo.pixel(x, y), svg.pixel(x, y)), 255 / kUnit)
                << "in the unit at " << x << "," << y;
        }
    }
    saveViewPng(QPixmap::fromImage(renderedSvg(kSize)), QStringLiteral("app-icon-svg"));
}

TEST(AppIconTest, TheRendererWritesEachSizeInTheThemeLayout)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const int status =
        QProcess::execute(QStringLiteral(CORVANE_RENDER_APP_ICON),
                          {folder.path(), QStringLiteral("16"), QStringLiteral("48")});
    ASSERT_EQ(status, 0);
    for (const int size : {16, 48}) {
        const QImage written(folder.filePath(QStringLiteral("%1x%1/apps/corvane.png").arg(size)));
        ASSERT_EQ(written.size(), QSize(size, size));
        EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32_Premultiplied), paintedLogo(size));
    }
    EXPECT_NE(QProcess::execute(QStringLiteral(CORVANE_RENDER_APP_ICON),
                                {folder.path(), QStringLiteral("big")}),
              0);
}

}  // namespace
}  // namespace corvane::test
