#include "App/CorvaneLogo.h"

#include <cstdlib>

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "App/ViewPng.h"

namespace corvane::test {
namespace {

// The logo as the widget paints it, at `size` and `devicePixelRatio`, on a transparent ground.
QImage renderLogo(qreal size, qreal devicePixelRatio)
{
    CorvaneLogo logo(size);
    const int pixels = qRound(size * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    logo.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

struct Expected {
    const char* what;
    QPointF unit;  // on the 32-unit grid
    int grey;      // red, green and blue alike
    int alpha;
};

// Points away from every edge of the strokes, where antialiasing leaves the paint alone.
const Expected kPoints[] = {
    {"transparent corner", {0.2, 0.2}, 0, 0},
    {"dark fill", {4, 16}, 10, 255},
    {"dark fill inside the hexagon", {11, 16}, 10, 255},
    {"white hexagon edge, right", {24, 16}, 255, 255},
    {"white hexagon edge, left", {8, 16}, 255, 255},
    // Half-transparent white over the dark fill: 10 + (255 - 10) / 2.
    {"half-white centre line", {16, 10}, 132, 255},
    {"half-white upper chevron", {12, 14.5}, 132, 255},
    {"half-white lower chevron", {20, 17.5}, 132, 255},
};

class CorvaneLogoTest : public testing::TestWithParam<std::pair<qreal, qreal>> {};

TEST_P(CorvaneLogoTest, PaintsTheMarkOnItsGrid)
{
    const auto [size, ratio] = GetParam();
    const QImage image = renderLogo(size, ratio);
    ASSERT_EQ(image.width(), qRound(size * ratio));
    const qreal pixelsPerUnit = size * ratio / 32;
    for (const Expected& point : kPoints) {
        SCOPED_TRACE(point.what);
        const QPoint pixel((point.unit * pixelsPerUnit).toPoint());
        const QColor color = QColor::fromRgba(image.pixel(pixel));
        EXPECT_NEAR(color.alpha(), point.alpha, 3);
        if (point.alpha > 0) {
            EXPECT_NEAR(color.red(), point.grey, 6);
            EXPECT_NEAR(color.green(), point.grey, 6);
            EXPECT_NEAR(color.blue(), point.grey, 6);
        }
    }
    saveViewPng(QPixmap::fromImage(image), QStringLiteral("logo-%1-x%2").arg(size).arg(ratio));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CorvaneLogoTest,
                         testing::Values(std::pair<qreal, qreal>{48, 1},
                                         std::pair<qreal, qreal>{56, 1},
                                         std::pair<qreal, qreal>{48, 2},
                                         std::pair<qreal, qreal>{56, 2}));

TEST(CorvaneLogoGeometryTest, SizeDefaultsTo48AndCornersAreClipped)
{
    EXPECT_EQ(CorvaneLogo().size(), QSize(48, 48));
    EXPECT_EQ(CorvaneLogo(56).size(), QSize(56, 56));
    // The corner radius is 6 units: at 56 that is 10.5 pixels, so a pixel 2 in from the
    // corner along the diagonal is outside the rounded square, one 4 in is inside.
    const QImage image = renderLogo(56, 1);
    EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0);
    EXPECT_EQ(qAlpha(image.pixel(55 - 2, 55 - 2)), 0);
    EXPECT_EQ(qAlpha(image.pixel(4, 4)), 255);
}

TEST(CorvaneLogoGeometryTest, HexagonCornersAreMitred)
{
    // A mitred top corner reaches 1.18 units above (16, 7); a bevelled one stops 0.53 above.
    const QImage image = renderLogo(56, 2);
    const qreal pixelsPerUnit = 56.0 * 2 / 32;
    const QPoint tip(qRound(16 * pixelsPerUnit), qRound(6.1 * pixelsPerUnit));
    EXPECT_GT(qRed(image.pixel(tip)), 200);
}

}  // namespace
}  // namespace corvane::test
