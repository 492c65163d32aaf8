// The beam sample under the pointer, the vivid-weighted average colour and the beam's colour boost.
#include <gtest/gtest.h>

#include "FrameOutputTestFrames.h"
#include "sampling/LightReflections.h"

namespace velaro::test {
namespace {

// The strip of a 2× screen 400 pt wide (800 × 72 pixels): red on its left half, blue on its right half.
CaptureFrame halves() {
    return makeFrame(800, 72, [](int x, int) -> Rgb { return x < 400 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; });
}

class FrameOutputBeam : public ::testing::Test {
protected:
    void pointAt(Point topLeftGlobal) { h.output->setCachedPointer(topLeftGlobal); }
    FrameOutputHarness h;
};

TEST_F(FrameOutputBeam, SamplesUnderThePointerAndGivesItsPositionAcrossTheScreen) {
    h.configure(beamLine());
    pointAt({100, 50});
    h.feed(halves());
    ASSERT_EQ(h.beams.size(), 1u);
    expectColorNear(h.beams[0].color, Color::rgb(1, 0, 0));
    EXPECT_DOUBLE_EQ(h.beams[0].x, 0.25);

    pointAt({0, 50});  // the very left edge: crop from column 0
    h.feed(halves());
    expectColorNear(h.beams.back().color, Color::rgb(1, 0, 0));
    EXPECT_DOUBLE_EQ(h.beams.back().x, 0);

    pointAt({650, 50});  // past the right edge
    h.feed(halves());
    expectColorNear(h.beams.back().color, Color::rgb(0, 0, 1));
    EXPECT_DOUBLE_EQ(h.beams.back().x, 1);
}

TEST_F(FrameOutputBeam, MeasuresThePointerFromTheCapturedScreensOwnOrigin) {
    // A second screen to the right of a 1440 pt primary, its top 100 pt lower.
    h.configure(beamLine({1440, 100}));
    pointAt({1440 + 300, 100 + 50});
    h.feed(halves());
    ASSERT_EQ(h.beams.size(), 1u);
    expectColorNear(h.beams[0].color, Color::rgb(0, 0, 1));
    EXPECT_DOUBLE_EQ(h.beams[0].x, 0.75);

    // The pointer on the primary screen, to the left of this one: no beam here.
    pointAt({300, 50});
    h.feed(halves());
    expectColorNear(h.beams.back().color, Color::clear());
    EXPECT_DOUBLE_EQ(h.beams.back().x, 0.5);
}

TEST_F(FrameOutputBeam, PointerOutsideTheBandTurnsTheBeamOffEvenForDroppedFrames) {
    h.configure(beamLine());
    h.feed(halves());  // no pointer known yet: released up front, and no sample either
    ASSERT_EQ(h.beams.size(), 2u);
    EXPECT_EQ(h.beams[0].color, Color::clear());
    EXPECT_EQ(h.beams[1].color, Color::clear());

    pointAt({100, 81});
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    h.feed(halves());
    ASSERT_EQ(h.beams.size(), 3u);
    EXPECT_EQ(h.beams[2].color, Color::clear());
    EXPECT_DOUBLE_EQ(h.beams[2].x, 0.5);

    // Inside the band, a frozen frame says nothing about the beam.
    pointAt({100, 80});
    h.feed(halves());
    EXPECT_EQ(h.beams.size(), 3u);
}

TEST_F(FrameOutputBeam, BeamIsSampledBeforeTheRowDedup) {
    h.configure(beamLine());
    pointAt({100, 50});
    h.feed(halves());
    h.feed(halves());
    EXPECT_EQ(h.beams.size(), 2u);
    EXPECT_EQ(h.updates.size(), 1u);
}

TEST(AverageColor, GreyGivesThePlainMeanAndOneVividPixelColoursTheResult) {
    QImage grey(30, 10, QImage::Format_RGB32);
    grey.fill(QColor(100, 100, 100));
    grey.setPixel(0, 0, qRgb(140, 140, 140));
    const auto mean = averageColor(grey);
    ASSERT_TRUE(mean);
    const double expected = (100.0 * 299 + 140) / 300 / 255;
    expectColorNear(*mean, Color::rgb(expected, expected, expected));

    grey.setPixel(7, 3, qRgb(255, 0, 0));
    expectColorNear(*averageColor(grey), Color::rgb(1, 0, 0));
    expectColorNear(*averageColor(grey.convertToFormat(QImage::Format_RGBA8888)), Color::rgb(1, 0, 0));
    expectColorNear(*averageColor(grey.convertToFormat(QImage::Format_RGB888)), Color::rgb(1, 0, 0));

    EXPECT_FALSE(averageColor(QImage()));

    // Weighting a full channel (255 x w / w) rounds past 255 for this colour; a channel stays at most 1.
    QImage sky(1, 1, QImage::Format_RGB32);
    sky.fill(QColor(35, 200, 255));
    EXPECT_EQ(averageColor(sky)->blue, 1.0);
}

TEST(AverageColor, LargeImagesAreReducedToFortyBySixteenFirst) {
    // 80 × 32: each sample averages a 2 × 2 block; a vivid 1-pixel dot is diluted to a quarter.
    QImage image(80, 32, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 0));
    image.setPixel(10, 10, qRgb(0, 200, 0));
    const auto c = averageColor(image);
    ASSERT_TRUE(c);
    expectColorNear(*c, Color::rgb(0, 50 / 255.0, 0));
}

TEST(VividBeamColor, BoostsSaturationAndBrightness) {
    const Color c = vividBeamColor(Color::rgb(0.7, 0.35, 0.35));  // brightness 0.7, saturation 0.5
    expectColorNear(c, Color::rgb(1, 0.2, 0.2), 1e-12);           // brightness 1, saturation 0.8
    EXPECT_EQ(c.alpha, 1);
    expectColorNear(vividBeamColor(Color::rgb(0.2, 0.2, 0.2)), Color::rgb(0.46, 0.46, 0.46), 1e-12);
    expectColorNear(vividBeamColor(Color::rgb(0, 0.3, 0.6)), Color::rgb(0, 0.49, 0.98), 1e-12);
}

}  // namespace
}  // namespace velaro::test
