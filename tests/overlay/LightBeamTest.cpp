// The light beam: its layer geometry from the settings and the sampled strength, the opening and closing of
// the view, the glide after the pointer, its window and its additive drawing.
#include "overlay/LightBeam.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

const Color kVivid = Color::rgb(1, 0.5, 0);

TEST(LightBeamLayout, DefaultsGiveTheFourLayersAtThePointer) {
    BeamSettings s;  // length 0.1, width 0.4, height 0.1, brightness 1, glow 0.7, hotspot 0.2, streak 1
    const BeamLayout l = beamLayout(s, 0.8, kVivid, 300, 1.0, 1.0);
    EXPECT_DOUBLE_EQ(l.glowOpacity, 0.8 * std::min(1.2 * 0.7, 1.0));
    ASSERT_TRUE(l.glow);
    EXPECT_DOUBLE_EQ(l.glow->size.width, 152);
    EXPECT_DOUBLE_EQ(l.glow->size.height, 18.4);
    EXPECT_DOUBLE_EQ(l.glow->centre.x, 300);
    EXPECT_DOUBLE_EQ(l.glow->centre.y, 0) << "centred on the top edge: only the lower half shows";
    ASSERT_TRUE(l.bloom);
    EXPECT_DOUBLE_EQ(l.bloom->size.width, 152 * 1.7);
    EXPECT_DOUBLE_EQ(l.bloom->size.height, 18.4 * 1.5);
    EXPECT_DOUBLE_EQ(l.coreLine.size.width, 52);
    EXPECT_DOUBLE_EQ(l.coreLine.size.height, 1);
    EXPECT_DOUBLE_EQ(l.coreOpacity, 0.8);
    ASSERT_TRUE(l.topStreak);
    EXPECT_DOUBLE_EQ(l.topStreak->size.width, 136);
    EXPECT_DOUBLE_EQ(l.topStreak->centre.y, 0.5) << "hangs from the top edge";
    EXPECT_DOUBLE_EQ(l.topStreakHotHalfWidth, 20.0 / 136 * 0.5);
    EXPECT_EQ(l.topStreakColor, Color::white()) << "the core colour unless it follows the sample";
    s.coreFollowsSampled = true;
    EXPECT_EQ(beamLayout(s, 0.8, kVivid, 300, 1.0, 1.0).topStreakColor, kVivid);
}

TEST(LightBeamLayout, ClosedOrFaintBeamDrawsNothingButAZeroLengthCore) {
    BeamSettings s;
    const BeamLayout closed = beamLayout(s, 0.8, kVivid, 10, 0.0, 1.0);
    EXPECT_FALSE(closed.glow) << "glow width 0";
    EXPECT_FALSE(closed.bloom);
    EXPECT_DOUBLE_EQ(closed.coreLine.size.width, 0);
    ASSERT_TRUE(closed.topStreak);
    EXPECT_DOUBLE_EQ(closed.topStreak->size.width, 0);
    EXPECT_DOUBLE_EQ(closed.topStreakHotHalfWidth, 0) << "no division by a zero length";

    const BeamLayout faint = beamLayout(s, 0.01, kVivid, 10, 1.0, 1.0);
    EXPECT_FALSE(faint.bloom) << "no bloom at a strength of 0.01";
    EXPECT_TRUE(faint.glow);
}

TEST(LightBeamLayout, HotspotClampsAndStreakHeightZeroRemovesOnlyTheStreak) {
    BeamSettings s;
    s.topStreakHotspot = 50;  // far longer than the streak
    const BeamLayout l = beamLayout(s, 1, kVivid, 0, 1.0, 1.0);
    EXPECT_DOUBLE_EQ(l.topStreakHotHalfWidth, 0.49) << "always fades at both ends";
    s.topStreakHeight = 0;
    s.glowEnabled = false;
    s.bloomEnabled = false;
    const BeamLayout bare = beamLayout(s, 1, kVivid, 0, 1.0, 1.0);
    EXPECT_FALSE(bare.topStreak);
    EXPECT_FALSE(bare.glow);
    EXPECT_FALSE(bare.bloom);
    EXPECT_GT(bare.coreLine.size.width, 0) << "the core line is always drawn";
    s.coreBrightness = 3;
    EXPECT_DOUBLE_EQ(beamLayout(s, 0.5, kVivid, 0, 1.0, 1.0).topStreakOpacity, 0.5)
        << "brightness capped at 1";
}

struct LightBeamViewTest : ::testing::Test {
    test::VirtualLoop loop;
    test::FakeDefaultsStore store;
    OverlaySettings settings{store, loop};
    Published<Color> beamColor{Color::clear()};
    Published<Color> vivid{kVivid};
    Published<double> x{0.5};
    BeamFeed feed() { return {&beamColor, &vivid, &x}; }
    // How far the view has opened, read from the core line it would paint against a fully open one.
    double spread(const LightBeamView& view) const {
        const double open =
            beamLayout(BeamSettings::from(settings), 1, kVivid, 0, 1.0, 1.0).coreLine.size.width;
        return view.layout(1000).coreLine.size.width / open;
    }
};

TEST_F(LightBeamViewTest, OpensWithTheEntryAnimationAndClosesAtOnce) {
    LightBeamView view(loop, settings, feed());
    EXPECT_DOUBLE_EQ(spread(view), 0);
    int repaints = 0;
    view.setOnNeedsDisplay([&] { ++repaints; });
    beamColor = kVivid.withAlpha(0.6);
    EXPECT_DOUBLE_EQ(spread(view), 0) << "starts closed";
    loop.advance(0.11);
    EXPECT_GT(spread(view), 0.5) << "ease-out: more than half open at half time";
    EXPECT_LT(spread(view), 1);
    loop.advance(0.12);
    EXPECT_DOUBLE_EQ(spread(view), 1);
    EXPECT_GT(repaints, 3);

    beamColor = kVivid.withAlpha(0.005);
    EXPECT_DOUBLE_EQ(spread(view), 0) << "closes at once";
    // A change of strength while visible does not restart the opening.
    beamColor = kVivid.withAlpha(0.5);
    loop.advance(0.3);
    beamColor = kVivid.withAlpha(0.9);
    EXPECT_DOUBLE_EQ(spread(view), 1);
}

TEST_F(LightBeamViewTest, WithoutTheEntryAnimationOrAlreadyVisibleItIsOpenAtOnce) {
    settings.beamEntryAnimation = false;
    LightBeamView view(loop, settings, feed());
    beamColor = kVivid.withAlpha(0.6);
    EXPECT_DOUBLE_EQ(spread(view), 1);

    settings.beamEntryAnimation = true;
    LightBeamView second(loop, settings, feed());
    EXPECT_DOUBLE_EQ(spread(second), 1) << "a view made while the beam shows starts open";
}

TEST_F(LightBeamViewTest, GlidesAfterThePointerIn50Milliseconds) {
    beamColor = kVivid.withAlpha(1);
    LightBeamView view(loop, settings, feed());
    EXPECT_DOUBLE_EQ(view.layout(1000).coreLine.centre.x, 500);
    x = 0.9;
    loop.advance(0.025);
    const double mid = view.layout(1000).coreLine.centre.x;
    EXPECT_GT(mid, 600);
    EXPECT_LT(mid, 800);
    loop.advance(0.05);
    EXPECT_DOUBLE_EQ(view.layout(1000).coreLine.centre.x, 900);
}

TEST_F(LightBeamViewTest, WindowCoversTheTop64PointsAndThePaintOnlyAddsLight) {
    test::FakeOverlayWindowHost host{loop};
    beamColor = kVivid.withAlpha(1);
    const ScreenInfo screen = test::FakeScreens::make("A", Rect{100, 0, 1000, 700}, 24, 1);
    auto beam = LightBeamWindow::make(host, loop, screen, feed(), settings);
    EXPECT_EQ(beam->window().frame(), (Rect{100, 636, 1000, 64}));
    EXPECT_EQ(beam->window().level(), OverlayWindowLevel::belowPanel);
    EXPECT_FALSE(beam->window().isVisible()) << "made ordered out; the shell orders it in";

    const QImage image = test::FakeOverlayWindowHost::render(beam->window());
    const QColor atEdge = image.pixelColor(500, 0);
    EXPECT_GT(atEdge.alpha(), 200) << "core line and streak add up along the edge";
    const QColor glow = image.pixelColor(500, 3);
    EXPECT_GT(glow.alpha(), 50);
    EXPECT_GT(glow.red(), glow.blue()) << "the glow in the vivid colour";
    EXPECT_EQ(image.pixelColor(50, 0).alpha(), 0) << "nothing far from the pointer";
    EXPECT_EQ(image.pixelColor(500, 40).alpha(), 0) << "the glow is short";

    // Any beam setting repaints.
    beam->window().orderFrontRegardless();
    beam->window().displayIfNeeded();
    const int paints = static_cast<test::FakeOverlayWindow&>(beam->window()).paintCount();
    settings.beamLength = 0.8;
    loop.runUntilIdle();
    beam->window().displayIfNeeded();
    EXPECT_GT(static_cast<test::FakeOverlayWindow&>(beam->window()).paintCount(), paints);
}

}  // namespace
}  // namespace velaro
