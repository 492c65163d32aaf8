// The pill clip: where the pills sit in the strip, what is cut away, and what a degenerate pill draws.
#include <gtest/gtest.h>

#include "overlay/OverlayTestSupport.h"
#include "overlay/PillMask.h"

namespace velaro::test {
namespace {

constexpr double kWidth = 200, kHeight = 40, kBar = 24;

QImage clipped(bool active, const std::optional<PillGeometry>& geometry, const CornerSettings& corners,
               double bandHeight = kBar) {
    return renderView(kWidth, kHeight, [&](QPainter& p, Size size) {
        paintPillClipped(p, size, active, geometry, corners, bandHeight,
                         [&](QPainter& q) { q.fillRect(QRectF(0, 0, size.width, size.height), Qt::red); });
    });
}

bool fullyClear(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() != 0) return false;
    return true;
}

CornerSettings plainPills() {
    CornerSettings c;
    c.shapeMode = ShapeMode::pill;
    c.pillFillOpacity = 0;
    c.pillStrokeWidth = 0;
    return c;
}

TEST(PillMask, PillsSitInTheBareStripAndStopAtItsEdges) {
    CornerSettings c;
    auto band = pillBand(c, kBar);  // inset 6: 12 high from y 6, radius min(6, 14)
    EXPECT_DOUBLE_EQ(band.height, 12);
    EXPECT_DOUBLE_EQ(band.top, 6);
    EXPECT_DOUBLE_EQ(band.radius, 6) << "a large corner radius gives fully rounded ends";

    c.pillVerticalOffset = 100;
    EXPECT_DOUBLE_EQ(pillBand(c, kBar).top, 12) << "flush with the strip's bottom";
    c.pillVerticalOffset = -100;
    EXPECT_DOUBLE_EQ(pillBand(c, kBar).top, 0) << "flush with its top";

    c.pillVerticalOffset = 0;
    c.pillVerticalInset = 12;
    EXPECT_DOUBLE_EQ(pillBand(c, kBar).height, 0);
    EXPECT_TRUE(pillMaskPath(PillGeometry{PillSpan{10, 90}, PillSpan{120, 190}}, c, kBar).isEmpty());
}

TEST(PillMask, OnAPanelShorterThanTheStripTheyAreSizedForThePillsKeepTheirShareOfIt) {
    // A 28-px panel at two pixels a point is 14 points, a 24-px one 12: the default inset of 6 points would
    // leave a 2-point line or nothing at all.
    CornerSettings c;
    for (const double bar : {12.0, 14.0, 16.0}) {
        SCOPED_TRACE(bar);
        const auto band = pillBand(c, bar);
        EXPECT_DOUBLE_EQ(band.height, bar / 2) << "the half of the strip the pills take on a 24-point one";
        EXPECT_DOUBLE_EQ(band.top, bar / 4);
    }
    c.pillVerticalOffset = 4;
    EXPECT_DOUBLE_EQ(pillBand(c, 12).top, 3 + 2) << "the offset in the same proportion";
    c.pillVerticalOffset = 0;
    c.pillVerticalInset = 12;
    EXPECT_DOUBLE_EQ(pillBand(c, 14).height, 0) << "an inset of half the strip still leaves nothing";
    c.pillVerticalInset = 6;
    EXPECT_DOUBLE_EQ(pillBand(c, 37).height, 25) << "taller strips take the points as set";
}

TEST(PillMask, PillWithoutHeightDrawsNothingNotEvenItsStroke) {
    CornerSettings c;
    c.shapeMode = ShapeMode::pill;
    c.pillVerticalInset = 13;  // more than half the strip
    c.pillStrokeWidth = 2;
    c.pillStrokeOpacity = 1;
    c.pillFillOpacity = 1;
    EXPECT_TRUE(fullyClear(clipped(true, PillGeometry{PillSpan{10, 90}, PillSpan{120, 190}}, c)));
}

TEST(PillMask, OnlyARightPillShowsWhenNoLeftExtentWasMeasured) {
    const auto image = clipped(true, PillGeometry{std::nullopt, PillSpan{120, 190}}, plainPills());
    EXPECT_TRUE(pixelNear(image, 150, 12, Qt::red));
    EXPECT_EQ(image.pixelColor(50, 12).alpha(), 0) << "no left pill";
    EXPECT_EQ(image.pixelColor(150, 2).alpha(), 0) << "above the pill";
    EXPECT_EQ(image.pixelColor(150, 30).alpha(), 0) << "the band's lower part and the ears are cut away";
}

TEST(PillMask, EmptySpanIsSkippedAndTheOtherStillDraws) {
    const auto image = clipped(true, PillGeometry{PillSpan{90, 90}, PillSpan{120, 190}}, plainPills());
    EXPECT_EQ(image.pixelColor(90, 12).alpha(), 0);
    EXPECT_TRUE(pixelNear(image, 150, 12, Qt::red));
}

TEST(PillMask, ContentPassesUntouchedWithoutPillModeOrMeasurement) {
    const PillGeometry both{PillSpan{10, 90}, PillSpan{120, 190}};
    for (const auto& image : {clipped(false, both, plainPills()), clipped(true, std::nullopt, plainPills()),
                              clipped(true, PillGeometry{}, plainPills())}) {
        EXPECT_TRUE(pixelNear(image, 100, 30, Qt::red));
        EXPECT_TRUE(pixelNear(image, 0, 0, Qt::red));
    }
}

TEST(PillMask, FillAndStrokeLieOverThePills) {
    CornerSettings c = plainPills();
    c.pillFillOpacity = 0.5;
    const auto filled = renderView(kWidth, kHeight, [&](QPainter& p, Size size) {
        paintPillClipped(p, size, true, PillGeometry{PillSpan{20, 100}, std::nullopt}, c, kBar,
                         [&](QPainter& q) { q.fillRect(QRectF(0, 0, size.width, size.height), Qt::black); });
    });
    EXPECT_TRUE(pixelNear(filled, 60, 12, QColor(128, 128, 128), 3)) << "white at half opacity over black";

    c.pillFillOpacity = 0;
    c.pillStrokeWidth = 2;
    c.pillStrokeOpacity = 1;
    const auto stroked = clipped(true, PillGeometry{PillSpan{20, 100}, std::nullopt}, c);
    EXPECT_GT(stroked.pixelColor(60, 5).alpha(), 0) << "half the stroke lies outside the pill";
    EXPECT_GT(stroked.pixelColor(60, 5).green(), 100) << "and it is white";
}

}  // namespace
}  // namespace velaro::test
