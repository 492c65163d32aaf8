// The reveal masks and the reveal's states: opening, settling, instant and interrupted reveals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "overlay/OverlayTestSupport.h"
#include "overlay/RevealAnimations.h"

namespace velaro::test {
namespace {

TEST(RevealMask, SpreadHalfwayShowsTheMiddleWithSoftEdges) {
    const auto s = spreadMaskStops(0.5);  // h = 0.29, e = 0.21
    EXPECT_NEAR(s.a, 0.21, 1e-12);
    EXPECT_NEAR(s.b, 0.29, 1e-12);
    EXPECT_NEAR(s.c, 0.71, 1e-12);
    EXPECT_NEAR(s.d, 0.79, 1e-12);

    const auto closed = spreadMaskStops(0);
    EXPECT_DOUBLE_EQ(closed.a, 0.5);
    EXPECT_DOUBLE_EQ(closed.d, 0.5);
    const auto open = spreadMaskStops(1);
    EXPECT_NEAR(open.b, 0, 1e-12);
    EXPECT_NEAR(open.c, 1, 1e-12);
}

TEST(RevealMask, ProgressOutsideTheRangeOrNotANumberIsClamped) {
    EXPECT_DOUBLE_EQ(clampRevealProgress(3), 1);
    EXPECT_DOUBLE_EQ(clampRevealProgress(-1), 0);
    EXPECT_DOUBLE_EQ(clampRevealProgress(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_DOUBLE_EQ(riseVisibleHeight(2, 30), 30);
    EXPECT_DOUBLE_EQ(riseVisibleHeight(0.5, std::numeric_limits<double>::infinity()), 0);
}

QImage masked(double progress, OverlayAnimationKind kind) {
    return renderView(100, 40, [&](QPainter& p, Size size) {
        paintRevealMasked(p, size, progress, kind,
                          [&](QPainter& q) { q.fillRect(QRectF(0, 0, size.width, size.height), Qt::red); });
    });
}

TEST(RevealMask, RiseGrowsFromTheBottomEdge) {
    const auto half = masked(0.5, OverlayAnimationKind::rise);
    EXPECT_TRUE(pixelNear(half, 50, 35, Qt::red));
    EXPECT_TRUE(pixelNear(half, 5, 21, Qt::red));
    EXPECT_EQ(half.pixelColor(50, 5).alpha(), 0);
    EXPECT_EQ(masked(0, OverlayAnimationKind::rise).pixelColor(50, 39).alpha(), 0);
}

TEST(RevealMask, SpreadOpensFromTheCentre) {
    const auto half = masked(0.5, OverlayAnimationKind::spread);
    EXPECT_TRUE(pixelNear(half, 50, 5, Qt::red, 4));
    EXPECT_TRUE(pixelNear(half, 35, 30, Qt::red, 4));
    EXPECT_EQ(half.pixelColor(10, 5).alpha(), 0);
    EXPECT_EQ(half.pixelColor(90, 5).alpha(), 0);
    EXPECT_TRUE(pixelNear(masked(1, OverlayAnimationKind::spread), 0, 0, Qt::red));
}

class RevealAnimatorTest : public ::testing::Test {
protected:
    RevealColorHold frozen() {
        ++freezes;
        return RevealColorHold{
            Color::rgb(1, 0, 0), {}, std::nullopt, Color::rgb(0, 1, 0), Color::rgb(0, 0, 1)};
    }
    VirtualLoop loop;
    RevealAnimator reveal{loop};
    int freezes = 0;
};

TEST_F(RevealAnimatorTest, OpensThenFadesTheFrozenColoursOut) {
    reveal.appear(false);
    reveal.reveal(false, [this] { return frozen(); });
    ASSERT_TRUE(reveal.hold());
    EXPECT_DOUBLE_EQ(reveal.progress(), 0);
    loop.advance(0.2);
    EXPECT_GT(reveal.progress(), 0.5) << "ease-out is past half way at 57 % of the time";
    EXPECT_LT(reveal.progress(), 1);
    EXPECT_DOUBLE_EQ(reveal.holdOpacity(), 1);
    loop.advance(0.17);
    EXPECT_DOUBLE_EQ(reveal.progress(), 1);
    EXPECT_TRUE(reveal.hold()) << "settling: the frozen layer fades";
    loop.advance(0.15);
    EXPECT_FALSE(reveal.hold());
    EXPECT_DOUBLE_EQ(reveal.holdOpacity(), 1);
    EXPECT_FALSE(reveal.isAnimating());
}

TEST_F(RevealAnimatorTest, InstantRevealShowsLiveColoursAtOnce) {
    reveal.reveal(true, [this] { return frozen(); });
    EXPECT_DOUBLE_EQ(reveal.progress(), 1);
    EXPECT_FALSE(reveal.hold());
    EXPECT_EQ(freezes, 0);
}

TEST_F(RevealAnimatorTest, HideWhileOpeningOrSettlingLeavesNoHoldBehind) {
    reveal.reveal(false, [this] { return frozen(); });
    loop.advance(0.1);
    reveal.conceal();
    EXPECT_DOUBLE_EQ(reveal.progress(), 0);
    EXPECT_FALSE(reveal.hold());
    loop.advance(1);
    EXPECT_DOUBLE_EQ(reveal.progress(), 0) << "the interrupted opening does not resume";
    EXPECT_FALSE(reveal.hold());
    EXPECT_DOUBLE_EQ(reveal.holdOpacity(), 1);

    reveal.reveal(false, [this] { return frozen(); });
    loop.advance(0.4);  // settling
    reveal.conceal();
    loop.advance(1);
    EXPECT_FALSE(reveal.hold());
    EXPECT_DOUBLE_EQ(reveal.holdOpacity(), 1);
    EXPECT_DOUBLE_EQ(reveal.progress(), 0);
}

TEST_F(RevealAnimatorTest, AStaleCompletionDoesNotEndANewerReveal) {
    reveal.reveal(false, [this] { return frozen(); });
    loop.advance(0.3);
    reveal.conceal();
    reveal.reveal(false, [this] { return frozen(); });
    loop.advance(0.1);
    EXPECT_TRUE(reveal.hold()) << "the first reveal's completion belongs to it alone";
    EXPECT_LT(reveal.progress(), 1);
}

}  // namespace
}  // namespace velaro::test
