// The band's fill in each style, rendered offscreen and judged by its pixels.
#include <gtest/gtest.h>

#include "overlay/BarFillStyles.h"
#include "overlay/LiveStripView.h"
#include "overlay/OverlayTestSupport.h"

namespace velaro::test {
namespace {

const Color red = Color::rgb(1, 0, 0), green = Color::rgb(0, 1, 0), blue = Color::rgb(0, 0, 1);
const QColor qRed(255, 0, 0), qGreen(0, 255, 0), qBlue(0, 0, 255);

QImage renderFill(const MenuBarStyleFill& fill, double w = 100, double h = 20, double scale = 1.0) {
    return renderView(
        w, h, [&](QPainter& p, Size s) { fill.paint(p, QRectF(0, 0, s.width, s.height)); }, scale);
}

MenuBarStyleFill solid(Color color) {
    MenuBarStyleFill fill;
    fill.style = MenuBarStyle::solid;
    fill.color = color;
    return fill;
}

TEST(BarFillStylesTest, SolidPicksDriftThenZonesThenItsColour) {
    auto fill = solid(red);
    EXPECT_TRUE(pixelNear(renderFill(fill), 50, 10, qRed));

    fill.zoneColors = {blue};  // one zone colour wins over the base colour
    EXPECT_TRUE(pixelNear(renderFill(fill), 50, 10, qBlue));

    fill.zoneColors = {blue, green};
    auto image = renderFill(fill);
    EXPECT_TRUE(pixelNear(image, 10, 10, qBlue));
    EXPECT_TRUE(pixelNear(image, 90, 10, qGreen));

    fill.driftPattern = {red};  // a single drift colour does not start the drift
    EXPECT_TRUE(pixelNear(renderFill(fill), 10, 10, qBlue));

    fill.driftPattern = {red, red};  // the drift wins over the zones
    fill.driftBlend = false;
    image = renderFill(fill);
    EXPECT_TRUE(pixelNear(image, 10, 10, qRed));
    EXPECT_TRUE(pixelNear(image, 90, 10, qRed));
}

TEST(BarFillStylesTest, HardZonesShareTheWidthWithCleanBorders) {
    auto fill = solid(Color::black());
    fill.zoneColors = {red, green, blue};
    fill.zoneBlend = false;
    const auto image = renderFill(fill, 90, 10);
    EXPECT_TRUE(pixelNear(image, 0, 5, qRed, 0));
    EXPECT_TRUE(pixelNear(image, 29, 5, qRed, 0));
    EXPECT_TRUE(pixelNear(image, 30, 5, qGreen, 0));
    EXPECT_TRUE(pixelNear(image, 59, 5, qGreen, 0));
    EXPECT_TRUE(pixelNear(image, 60, 5, qBlue, 0));
    EXPECT_TRUE(pixelNear(image, 89, 5, qBlue, 0));
}

TEST(BarFillStylesTest, BlendedZonesSpreadEvenlyOrBlendAtTheBorders) {
    auto fill = solid(Color::black());
    fill.zoneColors = {red, blue};
    fill.zoneBlend = true;

    // Width exactly 1: one even gradient, first colour at the left edge, last at the right.
    fill.zoneTransitionWidth = 1.0;
    auto image = renderFill(fill, 201, 4);
    EXPECT_TRUE(pixelNear(image, 0, 2, qRed, 3));
    EXPECT_TRUE(pixelNear(image, 200, 2, qBlue, 3));
    EXPECT_TRUE(pixelNear(image, 100, 2, QColor(128, 0, 127), 4));
    EXPECT_TRUE(pixelNear(image, 50, 2, QColor(191, 0, 64), 4))
        << "the even gradient blends from the very edge";

    // Width 0.5: pure colours up to 0.375 and from 0.625, a blend between.
    EXPECT_EQ(zoneStopLocations(2, 0.5), (std::vector<double>{0, 0.375, 0.625, 1}));
    fill.zoneTransitionWidth = 0.5;
    image = renderFill(fill, 200, 4);
    EXPECT_TRUE(pixelNear(image, 50, 2, qRed, 2));
    EXPECT_TRUE(pixelNear(image, 70, 2, qRed, 3));
    EXPECT_TRUE(pixelNear(image, 100, 2, QColor(128, 0, 127), 4));
    EXPECT_TRUE(pixelNear(image, 130, 2, qBlue, 3));

    // Width 0 through the gradient still gives hard edges at i/n.
    EXPECT_EQ(zoneStopLocations(3, 0), (std::vector<double>{0, 1.0 / 3, 1.0 / 3, 2.0 / 3, 2.0 / 3, 1}));
    EXPECT_EQ(zoneStopLocations(1, 0.5), (std::vector<double>{0, 1}));
    EXPECT_TRUE(zoneStopLocations(0, 0.5).empty());
}

TEST(BarFillStylesTest, GradientRunsFromBottomToTopWithItsEndOpacities) {
    MenuBarStyleFill fill;
    fill.style = MenuBarStyle::gradient;
    fill.color = green;  // both ends absent: the base colour at the two opacities
    fill.gradientTopOpacity = 1.0;
    fill.gradientBottomOpacity = 0.0;
    auto image = renderFill(fill, 10, 101);
    EXPECT_TRUE(pixelNear(image, 5, 0, qGreen, 3));
    EXPECT_LT(image.pixelColor(5, 100).alpha(), 4);

    fill.gradientTopColor = red;
    fill.gradientBottomColor = blue;
    fill.gradientBottomOpacity = 1.0;
    image = renderFill(fill, 10, 101);
    EXPECT_TRUE(pixelNear(image, 5, 0, qRed, 4));
    EXPECT_TRUE(pixelNear(image, 5, 100, qBlue, 4));

    // The whole fill's opacity applies on top of the end opacities, once.
    fill.gradientTopOpacity = 0.5;
    fill.opacity = 0.5;
    image = renderFill(fill, 10, 101);
    EXPECT_NEAR(image.pixelColor(5, 0).alphaF(), 0.25, 0.02);
}

TEST(BarFillStylesTest, LiveShowsTheLineElseTheStripElseTheColour) {
    MenuBarStyleFill fill;
    fill.style = MenuBarStyle::live;
    fill.color = green;
    fill.colorStrip = {red};  // one strip colour is not a strip
    EXPECT_TRUE(pixelNear(renderFill(fill), 50, 10, qGreen));

    fill.colorStrip = {red, blue};
    auto image = renderFill(fill, 101, 4);
    EXPECT_TRUE(pixelNear(image, 0, 2, qRed, 3));
    EXPECT_TRUE(pixelNear(image, 100, 2, qBlue, 3));

    // A 4-pixel line stretched over 100 pt without smoothing: hard steps at every quarter.
    QImage line(4, 1, QImage::Format_RGB32);
    line.setPixelColor(0, 0, qRed);
    line.setPixelColor(1, 0, qGreen);
    line.setPixelColor(2, 0, qBlue);
    line.setPixelColor(3, 0, Qt::white);
    fill.liveLine = LiveLine{line, 100};
    image = renderFill(fill, 100, 4);
    EXPECT_TRUE(pixelNear(image, 24, 2, qRed, 0));
    EXPECT_TRUE(pixelNear(image, 25, 2, qGreen, 0));
    EXPECT_TRUE(pixelNear(image, 74, 2, qBlue, 0));
    EXPECT_TRUE(pixelNear(image, 75, 3, Qt::white, 0));

    // At two pixels a point, and drawn at half opacity, the steps stay hard and the opacity applies once.
    fill.opacity = 0.5;
    image = renderFill(fill, 100, 4, 2.0);
    EXPECT_TRUE(pixelNear(image, 49, 7, QColor(255, 0, 0, 128), 1));
    EXPECT_TRUE(pixelNear(image, 50, 0, QColor(0, 255, 0, 128), 1));
    EXPECT_TRUE(pixelNear(image, 199, 7, QColor(255, 255, 255, 128), 1));
}

TEST(BarFillStylesTest, DriftScrollsOneBandPerColourStep) {
    EXPECT_DOUBLE_EQ(driftScrollOffset(0, 8, true, 200), 0);
    EXPECT_DOUBLE_EQ(driftScrollOffset(0, 8, false, 200), -100);  // the same picture: the strip repeats
    EXPECT_DOUBLE_EQ(driftScrollOffset(2, 8, true, 200), -25);
    EXPECT_DOUBLE_EQ(driftScrollOffset(2, 8, false, 200), -75);
    EXPECT_DOUBLE_EQ(driftScrollOffset(0.5, 0, true, 200), -50) << "a stop count of 0 counts as 1";
    EXPECT_DOUBLE_EQ(driftScrollOffset(std::nan(""), 4, true, 200), 0);

    auto fill = solid(Color::black());
    fill.driftPattern = {red, blue};
    fill.driftBlend = false;
    fill.driftRightToLeft = true;
    auto image = renderFill(fill, 100, 4);
    EXPECT_TRUE(pixelNear(image, 25, 2, qRed, 0));
    EXPECT_TRUE(pixelNear(image, 75, 2, qBlue, 0));

    // One colour step of two moves the pattern half a band-width to the left.
    fill.driftPhase = 1;
    image = renderFill(fill, 100, 4);
    EXPECT_TRUE(pixelNear(image, 25, 2, qBlue, 0));
    EXPECT_TRUE(pixelNear(image, 75, 2, qRed, 0));
    // Halfway, the second copy fills the right end: no gap.
    fill.driftPhase = 0.5;
    image = renderFill(fill, 100, 4);
    EXPECT_TRUE(pixelNear(image, 99, 2, qRed, 0));
    EXPECT_TRUE(pixelNear(image, 50, 2, qBlue, 0));
}

TEST(BarFillStylesTest, OpacityAppliesOnceToTheWholeFill) {
    for (const bool blend : {false, true}) {
        auto fill = solid(Color::black());
        fill.zoneColors = {red, green, blue, red, green, blue, red};
        fill.zoneBlend = blend;
        fill.zoneTransitionWidth = 0.3;
        fill.opacity = 0.5;
        // An odd scale puts zone borders inside pixels, where overlapping pieces would show twice.
        const auto image = renderFill(fill, 97, 3, 1.37);
        const int alpha = image.pixelColor(0, 1).alpha();
        EXPECT_NEAR(alpha, 128, 1);
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(image.pixelColor(x, 1).alpha(), alpha) << "x " << x << " blend " << blend;
    }
    auto fill = solid(red);
    fill.opacity = 0;
    EXPECT_EQ(renderFill(fill).pixelColor(50, 10).alpha(), 0);
}

TEST(LiveStripViewTest, PaintsTheNewestImageStretchedOverTheBand) {
    const auto painted = [](const LiveStripView& strip) {
        QImage out(16, 4, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        strip.paint(p, QRectF(0, 0, 16, 4));
        p.end();
        return out;
    };
    LiveStripView strip;
    QImage image(8, 1, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.setPixel(7, 0, qRgb(0, 0, 255));
    strip.push(image);
    const QImage first = painted(strip);
    EXPECT_EQ(first.pixel(0, 3), qRgb(255, 0, 0));
    EXPECT_EQ(first.pixel(15, 0), qRgb(0, 0, 255)) << "the last pixel is stretched over the last two columns";
    EXPECT_EQ(first.pixel(13, 0), qRgb(255, 0, 0));

    // The same image again (as every repaint pushes it) paints the same; a new one of the same width
    // replaces the stretched row made from the first.
    strip.push(QImage(image));
    EXPECT_EQ(painted(strip), first);
    QImage other(8, 1, QImage::Format_RGB32);
    other.fill(Qt::green);
    strip.push(other);
    EXPECT_EQ(painted(strip).pixel(15, 3), qRgb(0, 255, 0));
}

// In a window of any pixel ratio the captured row lies across the band in device pixels, each device pixel
// showing the captured pixel under its centre; painted the plain way (a painter off whole device pixels) it
// shows the same.
TEST(LiveStripViewTest, LaysTheRowAcrossTheBandAtAnyPixelRatio) {
    const QRgb stripes[] = {qRgb(220, 40, 40), qRgb(40, 200, 60), qRgb(40, 60, 220), qRgb(230, 210, 40)};
    QImage row(4, 1, QImage::Format_RGB32);
    for (int x = 0; x < 4; ++x) row.setPixel(x, 0, stripes[x]);
    // 160 points: the stripes' borders fall on whole device pixels at each ratio.
    const QRectF band(0, 0, 160, 6);
    for (const double dpr : {1.0, 1.25, 1.5, 2.0}) {
        for (const bool plain : {false, true}) {
            SCOPED_TRACE(std::to_string(dpr) + (plain ? " pixels a point, plain" : " pixels a point"));
            const QSize pixels(int(band.width() * dpr), int(band.height() * dpr));
            QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            if (!plain) image.setDevicePixelRatio(dpr);
            LiveStripView strip;
            strip.push(row);
            {
                QPainter p(&image);
                if (plain) {
                    p.translate(1e-7, 1e-7);
                    p.scale(dpr, dpr);
                }
                strip.paint(p, band);
            }
            int wrong = 0;
            for (int y = 0; y < pixels.height(); ++y)
                for (int x = 0; x < pixels.width(); ++x)
                    if (image.pixel(x, y) != stripes[x * 4 / pixels.width()] && wrong++ == 0)
                        ADD_FAILURE() << "device pixel (" << x << ", " << y << ") of " << pixels.width();
            EXPECT_EQ(wrong, 0);
        }
    }
}

}  // namespace
}  // namespace velaro::test
