// The band and corner windows on the recording host: what they are made as, and that a change of the
// sampled colours, the settings or the drift clock reaches their pixels once the loop turns.
#include <gtest/gtest.h>

#include "overlay/CornerOverlayWindow.h"
#include "overlay/MenuBarOverlayWindow.h"
#include "overlay/OverlayTestSupport.h"
#include "support/FakeOverlayWindowHost.h"

namespace velaro::test {
namespace {

class OverlayViewWindowTest : public OverlayViewTest {
protected:
    OverlayViewWindowTest() : host(loop) {
        settings.style = MenuBarStyle::solid;
        settings.autoSample = true;
        settings.strokeEnabled = false;
    }
    int paints(const std::string& name) const {
        int count = 0;
        for (const auto& line : host.log()) count += line == "paint " + name;
        return count;
    }
    FakeOverlayWindowHost host;
};

TEST_F(OverlayViewWindowTest, BandRepaintsOnceForABurstOfChanges) {
    sampler.dominantColor = Color::rgb(1, 0, 0);
    MenuBarOverlayWindow band(host, loop, settings, sampler.feed(), clock, Rect(0, 1056, 1920, 24));
    EXPECT_EQ(band.window().name(), "overlay-bar");
    EXPECT_EQ(band.window().level(), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(band.window().frame(), Rect(0, 1056, 1920, 24));
    EXPECT_TRUE(pixelNear(FakeOverlayWindowHost::render(band.window()), 960, 12, Qt::red));

    band.window().orderFrontRegardless();
    loop.runUntilIdle();
    host.clearLog();
    sampler.recolorSnapUntil = loop.uptime() + 1;  // colours snap: one repaint shows the result
    sampler.dominantColor = Color::rgb(0, 1, 0);
    sampler.dominantColor = Color::rgb(0, 0, 1);
    sampler.zoneColors = std::vector<Color>{};
    loop.runUntilIdle();
    EXPECT_EQ(paints("overlay-bar"), 1);
    EXPECT_TRUE(pixelNear(FakeOverlayWindowHost::render(band.window()), 960, 12, Qt::blue));

    // A settings change reaches the band too.
    settings.overlayOpacity = 0.5;
    loop.runUntilIdle();
    EXPECT_NEAR(FakeOverlayWindowHost::render(band.window()).pixelColor(960, 12).alpha(), 128, 1);
}

TEST_F(OverlayViewWindowTest, DriftTicksRepaintTheBand) {
    settings.autoSample = false;
    auto drift = settings.hueDrift();
    drift.enabled = true;
    drift.variant = OverlayHueDrift::Variant::uniform;
    drift.periodSeconds = 0.5;
    settings.hueDrift = drift;
    MenuBarOverlayWindow band(host, loop, settings, sampler.feed(), clock, Rect(0, 0, 100, 24));
    band.window().orderFrontRegardless();
    loop.runUntilIdle();
    const QColor before = FakeOverlayWindowHost::render(band.window()).pixelColor(50, 12);
    host.clearLog();
    clock.setRunning(true);
    loop.advance(0.55);
    EXPECT_GE(paints("overlay-bar"), 5);
    EXPECT_NE(FakeOverlayWindowHost::render(band.window()).pixelColor(50, 12), before);
}

TEST_F(OverlayViewWindowTest, CornerWindowPaintsItsCorner) {
    sampler.liveRightCornerColor = Color::rgb(1, 0, 0);
    CornerOverlayWindow corner(ScreenCorner::topRight, host, loop, settings, sampler.feed(), clock,
                               Rect(1892, 1028, 28, 28), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(corner.corner(), ScreenCorner::topRight);
    EXPECT_EQ(corner.window().name(), "overlay-corner");
    auto image = FakeOverlayWindowHost::render(corner.window());
    EXPECT_TRUE(pixelNear(image, 27, 0, Qt::red));
    EXPECT_EQ(image.pixelColor(0, 27).alpha(), 0);

    sampler.recolorSnapUntil = loop.uptime() + 1;
    sampler.liveRightCornerColor = Color::rgb(0, 0, 1);
    loop.runUntilIdle();
    EXPECT_TRUE(pixelNear(FakeOverlayWindowHost::render(corner.window()), 27, 0, Qt::blue));
}

TEST_F(OverlayViewWindowTest, AWindowGoneBeforeItsRefreshRunsIsLeftAlone) {
    {
        MenuBarOverlayWindow band(host, loop, settings, sampler.feed(), clock, Rect(0, 0, 100, 24));
        band.window().orderFrontRegardless();
        loop.runUntilIdle();
        sampler.dominantColor = Color::white();  // schedules a refresh on the next turn
        sampler.liveLeftCornerColor = Color::white();
        ASSERT_GT(loop.pendingPosts(), 0u);
    }
    EXPECT_TRUE(host.allWindows().empty());
    host.clearLog();
    loop.advance(1.0);
    sampler.dominantColor = Color::black();  // and the feed no longer reaches it
    loop.advance(1.0);
    EXPECT_EQ(paints("overlay-bar"), 0) << "nothing of the gone window ran";
    EXPECT_TRUE(host.log().empty());
}

}  // namespace
}  // namespace velaro::test
