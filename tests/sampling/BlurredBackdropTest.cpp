// Blurred backdrops: the Gaussian itself, the every-second-frame rhythm, the baseline and its hold, the
// half-size switch and the corner crops.
#include <gtest/gtest.h>

#include <cmath>

#include "FrameOutputTestFrames.h"

namespace velaro::test {
namespace {

int blueAt(const std::uint8_t* bgra, int width, int x, int y) {
    return bgra[(y * width + x) * 4];
}

TEST(GaussianBlur, KeepsAUniformImageUniformUpToItsClampedEdges) {
    const auto frame = solidFrame(37, 9, {10, 150, 240});
    GaussianBlur blur;
    ASSERT_TRUE(blur.run(frame.row(0), 37, 9, frame.bytesPerRow, false, 6.0));
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x) {
            const std::uint8_t* p = blur.result() + (y * 37 + x) * 4;
            ASSERT_EQ(p[0], 240);
            ASSERT_EQ(p[1], 150);
            ASSERT_EQ(p[2], 10);
            ASSERT_EQ(p[3], 255);
        }
}

TEST(GaussianBlur, TheRadiusIsTheStandardDeviation) {
    // A vertical step from 0 to 255 blue: one sigma past the step, a Gaussian gives Φ(1) ≈ 84.1 %.
    const int w = 200;
    const auto frame = makeFrame(w, 4, [](int x, int) -> Rgb {
        return x < 100 ? Rgb{0, 0, 0} : Rgb{0, 0, 255};
    });
    GaussianBlur blur;
    ASSERT_TRUE(blur.run(frame.row(0), w, 4, frame.bytesPerRow, false, 10.0));
    // Pixel 100 is the first bright one; its centre sits half a pixel past the step.
    const double at = 100 - 0.5 + 10;  // one sigma
    const int x = static_cast<int>(at + 0.5);
    EXPECT_NEAR(blueAt(blur.result(), w, x, 2), 255 * 0.8413, 255 * 0.02);
    EXPECT_NEAR(blueAt(blur.result(), w, 99, 2) + blueAt(blur.result(), w, 100, 2), 255, 2);  // symmetric
    EXPECT_EQ(blueAt(blur.result(), w, 0, 2), 0);  // far from the step, untouched
    EXPECT_EQ(blueAt(blur.result(), w, w - 1, 2), 255);
}

TEST(GaussianBlur, HalfSizeAveragesTwoByTwoAndRoundsOddSizesUp) {
    const auto frame = makeFrame(5, 3, [](int x, int y) -> Rgb {
        return {0, 0, static_cast<std::uint8_t>(x == 4 ? 200 : (x + y) % 2 == 0 ? 100 : 0)};
    });
    GaussianBlur blur;
    ASSERT_TRUE(blur.run(frame.row(0), 5, 3, frame.bytesPerRow, true, 0.0));
    ASSERT_EQ(blur.resultWidth(), 3);
    ASSERT_EQ(blur.resultHeight(), 2);
    EXPECT_EQ(blueAt(blur.result(), 3, 0, 0), 50);   // a checkerboard block
    EXPECT_EQ(blueAt(blur.result(), 3, 2, 0), 200);  // the lone last column
    EXPECT_EQ(blueAt(blur.result(), 3, 0, 1), 50);   // the lone last row: its pixels 100, 0
    EXPECT_FALSE(blur.run(frame.row(0), 0, 3, frame.bytesPerRow, true, 1.0));
}

// A 2× screen's strip from its top: the bar is 74 pixels, corner radii 20 pixels.
UnifiedBlur barAndCorners(int left = 20, int right = 20) {
    UnifiedBlur blur;
    blur.overlayHeightPixels = 74;
    blur.leftRadiusPixels = left;
    blur.rightRadiusPixels = right;
    blur.overlayPointSize = {200, 37};
    blur.leftPointSize = {10, 10};
    blur.rightPointSize = {10, 10};
    return blur;
}

class BlurredBackdrops : public ::testing::Test {
protected:
    void configure(UnifiedBlur blur, double radius = 12.0) {
        auto config = plainLine();
        config.unifiedBlur = blur;
        config.lineRowY = 100;
        h.configure(config);
        h.run([radius](FrameOutput& o) { o.applySettings({radius, false, true, false, false}); });
    }
    FrameOutputHarness h;
};

TEST_F(BlurredBackdrops, AStaticFramePublishesOnceOnItsSecondFrame) {
    configure(barAndCorners());
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    h.feed(frame);
    EXPECT_TRUE(h.backdrops.empty());  // odd frames never blur
    h.feed(frame);
    ASSERT_EQ(h.backdrops.size(), 1u);
    ASSERT_EQ(h.corners.size(), 1u);
    for (int i = 0; i < 10; ++i) h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 1u);
    EXPECT_EQ(h.corners.size(), 1u);

    // A change below the blurred rows does not count; one inside them does (on the next even frame).
    h.feed(makeFrame(400, 106, [](int, int y) -> Rgb { return y >= 94 ? Rgb{1, 1, 1} : Rgb{30, 60, 90}; }));
    h.feed(makeFrame(400, 106, [](int, int y) -> Rgb { return y >= 94 ? Rgb{1, 1, 1} : Rgb{30, 60, 90}; }));
    EXPECT_EQ(h.backdrops.size(), 1u);
    const auto changed = makeFrame(400, 106, [](int x, int y) -> Rgb {
        return y == 93 && x == 399 ? Rgb{1, 1, 1} : Rgb{30, 60, 90};
    });
    h.feed(changed);
    h.feed(changed);
    EXPECT_EQ(h.backdrops.size(), 2u);
}

TEST_F(BlurredBackdrops, RadiusChangeAndDroppedCachesBlurAgain) {
    configure(barAndCorners());
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    h.feed(frame);
    h.feed(frame);
    ASSERT_EQ(h.backdrops.size(), 1u);
    h.run([](FrameOutput& o) { o.applySettings({12.0, false, true, false, false}); });  // same radius
    h.feed(frame);
    h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 1u);
    h.run([](FrameOutput& o) { o.applySettings({20.0, false, true, false, false}); });
    h.feed(frame);
    h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 2u);
    h.run([](FrameOutput& o) { o.invalidateCaches(); });
    h.feed(frame);
    h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 3u);
}

TEST_F(BlurredBackdrops, WhileTheCommitIsHeldEveryEvenFramePublishes) {
    configure(barAndCorners());
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    h.run([](FrameOutput& o) { o.holdBlurCommit(); });
    for (int i = 0; i < 6; ++i) h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 3u);
    h.run([](FrameOutput& o) { o.invalidateCaches(); });  // ends the hold
    for (int i = 0; i < 6; ++i) h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 4u) << "the held publications kept no baseline: the same frame goes out";
}

TEST_F(BlurredBackdrops, EightPixelsAndMoreBlurAtHalfSize) {
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    configure(barAndCorners(), 7.9);
    h.feed(frame);
    h.feed(frame);
    ASSERT_EQ(h.backdrops.size(), 1u);
    EXPECT_EQ(h.backdrops[0].image.size(), QSize(400, 74));
    ASSERT_TRUE(h.corners[0].first);
    EXPECT_EQ(h.corners[0].first->image.size(), QSize(20, 20));

    h.run([](FrameOutput& o) { o.applySettings({8.0, false, true, false, false}); });
    h.feed(frame);
    h.feed(frame);
    ASSERT_EQ(h.backdrops.size(), 2u);
    const BackdropImage& bar = h.backdrops[1];
    EXPECT_EQ(bar.image.size(), QSize(200, 37));  // region 94 rows → 47; the bar is its top 37
    EXPECT_EQ(bar.pointSize, Size(200, 37));
    EXPECT_EQ(bar.image.pixel(100, 20), qRgb(30, 60, 90));
    const auto& [left, right] = h.corners[1];
    ASSERT_TRUE(left && right);
    EXPECT_EQ(left->image.size(), QSize(10, 10));
    EXPECT_EQ(right->image.size(), QSize(10, 10));
    EXPECT_EQ(left->pointSize, Size(10, 10));
}

TEST_F(BlurredBackdrops, CornersComeFromTheRowsUnderTheBarAtEachEnd) {
    // Left end green, right end red, under the bar; the bar itself grey.
    const auto frame = makeFrame(400, 94, [](int x, int y) -> Rgb {
        if (y < 74) return {128, 128, 128};
        return x < 200 ? Rgb{0, 255, 0} : Rgb{255, 0, 0};
    });
    configure(barAndCorners(), 2.0);
    h.feed(frame);
    h.feed(frame);
    ASSERT_EQ(h.corners.size(), 1u);
    const auto& [left, right] = h.corners[0];
    ASSERT_TRUE(left && right);
    EXPECT_GT(qGreen(left->image.pixel(5, 15)), 240);
    EXPECT_GT(qRed(right->image.pixel(15, 15)), 240);
    EXPECT_EQ(qRed(right->image.pixel(15, 15)), qRed(right->image.pixel(19, 19)));
}

TEST_F(BlurredBackdrops, CornerImagesOnlyWhereARadiusAndRowsBelowTheBarExist) {
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    configure(barAndCorners(0, 0));
    h.feed(frame);
    h.feed(frame);
    EXPECT_EQ(h.backdrops.size(), 1u);
    EXPECT_TRUE(h.corners.empty());

    configure(barAndCorners(20, 0));
    h.feed(frame);
    h.feed(frame);
    ASSERT_EQ(h.corners.size(), 1u);
    EXPECT_TRUE(h.corners[0].first);
    EXPECT_FALSE(h.corners[0].second);

    // A strip no taller than the bar leaves no rows for corners.
    h.clearResults();
    const auto shortFrame = solidFrame(400, 74, {30, 60, 90});
    h.feed(shortFrame);
    h.feed(shortFrame);
    EXPECT_EQ(h.backdrops.size(), 1u);
    EXPECT_TRUE(h.corners.empty());
}

TEST_F(BlurredBackdrops, NothingCountsAsPublishedWithoutTheBarCallback) {
    configure(barAndCorners());
    auto bar = std::move(h.output->onBackdrop);
    h.output->onBackdrop = nullptr;
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    for (int i = 0; i < 4; ++i) h.feed(frame);
    EXPECT_EQ(h.corners.size(), 2u);  // corners still go out
    h.output->onBackdrop = std::move(bar);
    for (int i = 0; i < 2; ++i) h.feed(frame);
    EXPECT_FALSE(h.backdrops.empty()) << "no baseline was kept: the same frame is news to the bar";
}

}  // namespace
}  // namespace velaro::test
