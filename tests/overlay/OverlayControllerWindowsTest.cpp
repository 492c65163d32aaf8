// The controller's window sets per render mode and screen, rebuilds, band and corner geometry, levels, and
// the strip geometry it hands to the sampler.
#include "overlay/OverlayControllerTestRig.h"

#include <limits>

namespace velaro::test {
namespace {

using C = ScreenCorner;

std::vector<ScreenCorner> cornersOf(const MenuBarOverlayController::ScreenWindows& s) {
    std::vector<ScreenCorner> out;
    for (const auto& w : s.corners) out.push_back(w->corner());
    return out;
}

TEST_F(OverlayControllerTest, SeparateModeHasABandWindowAndSixCornersUnifiedABandWithPresenterAndFour) {
    makeSeparate();
    EXPECT_EQ(renderMode(), OverlayRenderMode::separate);
    ASSERT_TRUE(screen().band);
    EXPECT_EQ(screen().band->presenter(), nullptr);
    EXPECT_EQ(cornersOf(screen()), (std::vector<C>{C::topLeft, C::topRight, C::bottomLeft, C::bottomRight,
                                                   C::screenTopLeft, C::screenTopRight}));
    EXPECT_DOUBLE_EQ(band().alphaValue(), 0);
    // The corner pass frames the corners in use; the screen-top ones are off and keep their first frame.
    EXPECT_EQ(corner(C::bottomLeft).frame(), (Rect{0, 0, 28, 28}));
    EXPECT_EQ(corner(C::screenTopLeft).frame(), (Rect{0, 0, 48, 48}));
    EXPECT_EQ(corner(C::screenTopRight).frame(), (Rect{0, 0, 48, 48}));

    // The pill shape wants the unified mode: the corner change rebuilds.
    editCorners([](CornerSettings& c) { c.shapeMode = ShapeMode::pill; });
    EXPECT_EQ(renderMode(), OverlayRenderMode::unified);
    ASSERT_TRUE(screen().band);
    EXPECT_NE(screen().band->presenter(), nullptr);
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    EXPECT_EQ(cornersOf(screen()),
              (std::vector<C>{C::bottomLeft, C::bottomRight, C::screenTopLeft, C::screenTopRight}));
    EXPECT_EQ(host.allWindows().size(), 5u) << "the old windows are gone";
}

TEST_F(OverlayControllerTest, RenderModeFollowsShapeBlurAndTheManualSwitch) {
    makeController();
    EXPECT_EQ(renderMode(), OverlayRenderMode::unified);  // full bar, no blur
    settings.blurEnabled = true;
    settle();
    EXPECT_EQ(renderMode(), OverlayRenderMode::separate);
    editCorners([](CornerSettings& c) { c.shapeMode = ShapeMode::pill; });
    EXPECT_EQ(renderMode(), OverlayRenderMode::unified) << "pill wins over blur";
    editCorners([](CornerSettings& c) { c.shapeMode = ShapeMode::fullBar; });
    settings.blurEnabled = false;
    settings.manualSeparateCorners = true;
    settle();
    EXPECT_EQ(renderMode(), OverlayRenderMode::separate);
}

TEST_F(OverlayControllerTest, ChangesThatKeepTheModeAdjustTheWindowsWithoutRebuilding) {
    makeSeparate();
    // Window numbers, not addresses: the allocator may hand a rebuilt window the freed one's address.
    const WindowNumber before = band().windowNumber();
    settings.blurTopCorners = !settings.blurTopCorners();
    editCorners([](CornerSettings& c) { c.topRadius = 12; });
    settings.layerPosition = LayerPosition::behindWindows;
    settings.cornerBottomLeftZ = BottomCornerZ::wallpaper;
    settle();
    EXPECT_EQ(band().windowNumber(), before);
    EXPECT_EQ(band().level(), OverlayWindowLevel::wallpaper);
}

TEST_F(OverlayControllerTest, RebuildOnScreenChangeKeepsEachScreensChannelAndAddsNewOnes) {
    makeSeparate();
    auto channelA = rig.sampler->channel("A");
    ASSERT_EQ(screen("A").channel, channelA);
    channelA->dominantColor = Color::rgb(1, 0, 0);
    const WindowNumber oldBand = band().windowNumber();

    rig.setScreens({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
                    FakeScreens::make("B", Rect{1512, 0, 1920, 1080}, 0, 2)});
    settle();

    EXPECT_EQ(rig.sampler->channel("A"), channelA);
    EXPECT_EQ(screen("A").channel, channelA);
    ASSERT_TRUE(screen("B").channel);
    EXPECT_EQ(rig.sampler->channel("B"), screen("B").channel) << "B's windows read the sampler's own channel";
    EXPECT_NE(band().windowNumber(), oldBand);
    // B shows no panel: a channel and its corners, but no band.
    EXPECT_EQ(screen("B").band, nullptr);
    EXPECT_EQ(screen("B").corners.size(), 6u);
}

TEST_F(OverlayControllerTest, BandHeightIsThePanelPlusSeamCoverAndExtraDepthAtLeastFourPoints) {
    makeSeparate();
    const ScreenInfo a = screen().screen;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 24 + 4);
    EXPECT_EQ(band().frame(), (Rect{0, 982 - 28, 1512, 28}));

    settings.overlayExtraDepth = -3;
    settings.seamCoverDepth = 2;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 24 - 3 + 2);
    rig.sampler->seamSuppressed = true;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 24 - 3);
    settings.overlayExtraDepth = -50;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 4);

    settings.keepOverlayAlwaysOn = true;
    settings.alwaysOnOverlayHeight = 30;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 30);
    settings.alwaysOnOverlayHeight = 10;
    EXPECT_DOUBLE_EQ(controller->overlayHeight(a), 24) << "never shorter than the panel";
}

TEST_F(OverlayControllerTest, UnifiedBandReachesDownByTheLargerEarOrTheAlwaysOnRadius) {
    makeController();
    editCorners([](CornerSettings& c) {
        c.topLinked = false;
        c.topLeftRadius = 12;
        c.topRightRadius = 20;
    });
    rig.loop.advance(0.35);  // 8 pt shorter: the band slides
    EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(screen().screen), 20);
    EXPECT_DOUBLE_EQ(band().frame().height(), 28 + 20);
    EXPECT_DOUBLE_EQ(band().frame().maxY(), 982);
    editCorners([](CornerSettings& c) { c.topRightEnabled = false; });
    EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(screen().screen), 12);

    settings.keepOverlayAlwaysOn = true;
    settings.alwaysOnCornerRadius = -5;
    EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(screen().screen), 0);
    settings.alwaysOnCornerRadius = 9;
    EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(screen().screen), 9);

    settings.manualSeparateCorners = true;
    settle();
    EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(screen().screen), 0);
}

// One 1920 × 1080 monitor with a 28 px panel, at a device pixel ratio of 1 and of 2.
class OverlayOnScreenTest : public OverlayControllerTest, public ::testing::WithParamInterface<double> {
protected:
    OverlayOnScreenTest() : OverlayControllerTest({monitor(GetParam())}) {}
    static ScreenInfo monitor(double ratio) {
        auto s = FakeScreens::make("A", Rect{0, 0, 1920 / ratio, 1080 / ratio}, 28 / ratio, 1);
        s.backingScale = ratio;
        return s;
    }
};
INSTANTIATE_TEST_SUITE_P(Ratios, OverlayOnScreenTest, ::testing::Values(1.0, 2.0));

// Whatever the settings hold, the band is no taller than its screen, and its ears fit below it: none past
// the middle of the screen's shorter side, none deeper than the room left. The band's window follows.
TEST_P(OverlayOnScreenTest, TheBandAndItsCornersAreBoundedByTheScreen) {
    const double ratio = GetParam(), w = 1920 / ratio, h = 1080 / ratio, panel = 28 / ratio;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    makeController();
    controller->show(true);
    settings.keepOverlayAlwaysOn = true;
    settle();
    const ScreenInfo a = screen().screen;
    struct Case {
        double height, radius, band, ears;
    };
    for (const Case& c : {Case{1e308, 28, h, 0}, Case{1e6, 1e6, h, 0}, Case{32, 32767, 32, h / 2},
                          Case{h - 100, 1e308, h - 100, 100}, Case{nan, nan, panel, 0}, Case{inf, -inf, h, 0},
                          Case{-1e308, -5, panel, 0}, Case{160, 60, 160, 60}, Case{10, 0.5, panel, 0.5}}) {
        SCOPED_TRACE(::testing::Message() << c.height << " high, radius " << c.radius);
        settings.alwaysOnOverlayHeight = c.height;
        settings.alwaysOnCornerRadius = c.radius;
        settle();
        rig.loop.advance(1);  // a slide ends
        EXPECT_DOUBLE_EQ(controller->overlayHeight(a), c.band);
        EXPECT_DOUBLE_EQ(controller->unifiedBottomCornerDepth(a), c.ears);
        EXPECT_EQ(band().frame(), (Rect{0, h - c.band - c.ears, w, c.band + c.ears}));
        EXPECT_LE(band().frame().height() * ratio, 1080) << "device pixels";
    }

    // Separate corners: each in its corner of the screen, the ears below the band.
    settings.keepOverlayAlwaysOn = false;
    settings.manualSeparateCorners = true;
    settle();
    editCorners([](CornerSettings& c) {
        c.screenTopLeftEnabled = true;
        c.topRadius = c.bottomRadius = c.screenTopRadius = 32767;
    });
    rig.loop.advance(1);
    const double band = panel + 4;
    EXPECT_EQ(this->band().frame(), (Rect{0, h - band, w, band}));
    EXPECT_EQ(corner(C::topLeft).frame(), (Rect{0, h - band - h / 2, h / 2, h / 2}));
    EXPECT_EQ(corner(C::topRight).frame(), (Rect{w - h / 2, h - band - h / 2, h / 2, h / 2}));
    EXPECT_EQ(corner(C::bottomRight).frame(), (Rect{w - h / 2, 0, h / 2, h / 2}));
    EXPECT_EQ(corner(C::screenTopLeft).frame(), (Rect{0, h / 2, h / 2, h / 2}));
}

TEST_F(OverlayControllerTest, AHeightChangeOfFivePointsSnapsAndOfMoreSlides) {
    makeSeparate();
    auto& bar = fake(band());
    settings.overlayExtraDepth = -5;
    settle();
    EXPECT_DOUBLE_EQ(bar.frame().height(), 23);
    const auto snapped = bar.frameHistory().size();

    settings.overlayExtraDepth = -10.01;  // 5.01 pt less
    settle();
    EXPECT_DOUBLE_EQ(bar.frame().height(), 23) << "a slide starts where the band is";
    rig.loop.advance(0.15);
    EXPECT_GT(bar.frame().height(), 17.99);
    EXPECT_LT(bar.frame().height(), 23);
    rig.loop.advance(0.2);
    EXPECT_NEAR(bar.frame().height(), 17.99, 1e-9);
    EXPECT_GT(bar.frameHistory().size(), snapped + 2);
}

TEST_F(OverlayControllerTest, CornerFramesHangFromTheBandAndSitInTheScreensCorners) {
    makeSeparate();
    controller->show(true);
    settle();
    editCorners([](CornerSettings& c) {
        c.screenTopLeftEnabled = true;
        c.screenTopRadius = 10;
        c.bottomRadius = 16;
    });
    EXPECT_EQ(corner(C::topLeft).frame(), (Rect{0, 982 - 28 - 28, 28, 28}));
    EXPECT_EQ(corner(C::topRight).frame(), (Rect{1512 - 28, 982 - 28 - 28, 28, 28}));
    EXPECT_EQ(corner(C::bottomLeft).frame(), (Rect{0, 0, 16, 16}));
    EXPECT_EQ(corner(C::bottomRight).frame(), (Rect{1512 - 16, 0, 16, 16}));
    EXPECT_EQ(corner(C::screenTopLeft).frame(), (Rect{0, 982 - 10, 10, 10}));
    // Not in use: keeps the frame it was built with, and is out.
    EXPECT_EQ(corner(C::screenTopRight).frame(), (Rect{0, 0, 48, 48}));
    EXPECT_FALSE(corner(C::screenTopRight).isVisible());
    EXPECT_TRUE(corner(C::screenTopLeft).isVisible());
}

TEST_F(OverlayControllerTest, LevelsFollowLayerPositionAndEachCornersStacking) {
    for (auto* z : {&settings.cornerBottomLeftZ, &settings.cornerBottomRightZ, &settings.cornerScreenTopLeftZ,
                    &settings.cornerScreenTopRightZ})
        *z = BottomCornerZ::above;
    makeSeparate();
    EXPECT_EQ(band().level(), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(corner(C::topLeft).level(), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(corner(C::bottomLeft).level(), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(corner(C::screenTopRight).level(), OverlayWindowLevel::panel);

    settings.layerPosition = LayerPosition::behindWindows;
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settings.cornerScreenTopRightZ = BottomCornerZ::wallpaper;
    settle();
    const int wallpaper = OverlayWindowLevel::wallpaper;
    EXPECT_EQ(band().level(), wallpaper);
    EXPECT_EQ(corner(C::topRight).level(), wallpaper);
    EXPECT_EQ(corner(C::bottomLeft).level(), OverlayWindowLevel::normal);
    EXPECT_EQ(corner(C::bottomRight).level(), OverlayWindowLevel::belowPanel);
    EXPECT_EQ(corner(C::screenTopRight).level(), wallpaper);
}

TEST_F(OverlayControllerTest, ScreenTopCornerGoesBelowABandOfItsOwnLevelElseInFront) {
    settings.cornerScreenTopRightZ = BottomCornerZ::above;
    makeSeparate();
    editCorners([](CornerSettings& c) { c.screenTopRightEnabled = true; });
    controller->show(true);
    settle();
    // Level 25 beside a band at 24: simply in front.
    auto stack = host.orderedWindows();
    auto at = [&](OverlayWindow& w) { return std::find(stack.begin(), stack.end(), &w) - stack.begin(); };
    EXPECT_LT(at(corner(C::screenTopRight)), at(band()));

    settings.layerPosition = LayerPosition::behindWindows;
    settings.cornerScreenTopRightZ = BottomCornerZ::wallpaper;
    settle();
    stack = host.orderedWindows();
    EXPECT_GT(at(corner(C::screenTopRight)), at(band())) << "under the band it shares a level with";
}

TEST_F(OverlayControllerTest, TheBelowActiveMonitorIsAskedAfterEveryCornerPassAndSleepChange) {
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settings.manualSeparateCorners = true;
    controller =
        std::make_unique<MenuBarOverlayController>(*rig.sampler, settings, nullptr, services(&rig.windows),
                                                   bandOnlyUnifiedMode(host, rig.loop, settings));
    settle();
    ASSERT_TRUE(belowActiveMonitorRuns());
    settings.masterEnabled = false;
    settle();
    EXPECT_FALSE(belowActiveMonitorRuns()) << "switching off must stop the monitor";
    settings.masterEnabled = true;
    settle();
    ASSERT_TRUE(belowActiveMonitorRuns());
    rig.sampler->screensAsleep = true;
    settle();
    EXPECT_FALSE(belowActiveMonitorRuns());
}

TEST_F(OverlayControllerTest, MasterSwitchOffOrdersEveryCornerOutAndPlacesNoFrame) {
    settings.masterEnabled = false;
    settings.manualSeparateCorners = true;
    controller = std::make_unique<MenuBarOverlayController>(*rig.sampler, settings, nullptr, services(),
                                                            bandOnlyUnifiedMode(host, rig.loop, settings));
    // The build itself frames no corner while the switch is off.
    for (const auto& w : screen().corners) EXPECT_EQ(w->window().frame(), (Rect{0, 0, 48, 48}));
    settle();
    for (const auto& w : screen().corners) EXPECT_FALSE(w->window().isVisible());
    settings.masterEnabled = true;
    settle();
    controller->orderFrontCornerWindows();
    settings.cornerBottomLeftZ = BottomCornerZ::wallpaper;
    settle();
    EXPECT_TRUE(corner(C::bottomLeft).isVisible());
    settings.masterEnabled = false;
    settle();
    for (const auto& w : screen().corners) EXPECT_FALSE(w->window().isVisible());
}

TEST_F(OverlayControllerTest, EarsFollowTheBandWhileHiddenButStayOut) {
    makeSeparate();
    settings.overlayExtraDepth = -4;
    settle();
    EXPECT_EQ(corner(C::topLeft).frame(), (Rect{0, 982 - 24 - 28, 28, 28}));
    EXPECT_FALSE(corner(C::topLeft).isVisible());
    EXPECT_FALSE(corner(C::topRight).isVisible());

    controller->show(true);
    settings.overlayExtraDepth = -2;
    settle();
    EXPECT_TRUE(corner(C::topLeft).isVisible());
    EXPECT_DOUBLE_EQ(corner(C::topLeft).alphaValue(), 1);
}

class TwoScreenControllerTest : public OverlayControllerTest {
protected:
    // The second screen sits below the primary, with a 30 pt panel of its own.
    TwoScreenControllerTest()
        : OverlayControllerTest({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
                                 FakeScreens::make("B", Rect{0, -1080, 1920, 1080}, 30, 2),
                                 FakeScreens::make("C", Rect{1512, 0, 800, 600}, 0, 3)}) {}
};

TEST_F(TwoScreenControllerTest, CaptureHeightIsEachScreensPanelWhereverTheScreenLies) {
    makeSeparate();
    const auto a = streamOf(1);
    const auto b = streamOf(2);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(streamOf(3)) << "a screen without a panel captures nothing";
    // Each strip starts right under its screen's capture height.
    EXPECT_DOUBLE_EQ(a->sourceRect.minY(), 24);
    EXPECT_DOUBLE_EQ(b->sourceRect.minY(), 30);
    EXPECT_EQ(band("B").frame(), (Rect{0, -34, 1920, 34}));
    settings.blurEnabled = true;
    settings.blurTopCorners = true;
    settle();
    EXPECT_DOUBLE_EQ(streamOf(2)->sourceRect.height(), 34 + 28) << "the blurred band and its ears";
}

TEST_F(OverlayControllerTest, BlurredEarRadiiReachTheSamplerOnlyInTheSeparateMode) {
    settings.blurEnabled = true;
    settings.blurTopCorners = true;
    makeController();
    ASSERT_EQ(renderMode(), OverlayRenderMode::separate);
    ASSERT_TRUE(streamOf(1));
    EXPECT_DOUBLE_EQ(streamOf(1)->sourceRect.height(), 28 + 28) << "the blurred band and its ears";

    rig.sampler->blurredTopLeftCorner = BackdropImage{};
    editCorners([](CornerSettings& c) {
        c.shapeMode = ShapeMode::pill;  // unified
    });
    EXPECT_DOUBLE_EQ(streamOf(1)->sourceRect.height(), 24 + 6) << "no ears: down to the sampled strip";
    EXPECT_FALSE(rig.sampler->blurredTopLeftCorner().has_value()) << "ears no longer blurred: images dropped";
}

TEST_F(OverlayControllerTest, BeamBandHeightIsThePrimaryPanel) {
    rig.sampler->setBeamBandMenuBarHeight(0);
    makeController();
    // The beam's band reaches a few points below the bar the controller gave the sampler.
    rig.sampler->setLightReflectionsEnabled(true);
    rig.pointer.moveToTopLeft({200, 29});
    EXPECT_FALSE(rig.sampler->pointerInBeamBand());
    rig.pointer.moveToTopLeft({200, 30});
    EXPECT_TRUE(rig.sampler->pointerInBeamBand());
}

}  // namespace
}  // namespace velaro::test

namespace velaro::test {
namespace {

TEST_F(OverlayControllerTest, SeamChangeRefitsTheBandOnALaterTurnAndLiveStyleTurnsLiveCaptureOn) {
    makeSeparate();
    rig.sampler->seamSuppressed = true;
    EXPECT_DOUBLE_EQ(band().frame().height(), 28) << "not before the loop turns";
    settle();
    EXPECT_DOUBLE_EQ(band().frame().height(), 24);

    settings.style = MenuBarStyle::live;
    settings.liveCaptureFPS = 30;
    settle();
    ASSERT_TRUE(streamOf(1));
    EXPECT_DOUBLE_EQ(streamOf(1)->minimumFrameInterval, 1.0 / 30) << "live capture at its own rate";
    settings.blurEnabled = true;
    settle();
    EXPECT_DOUBLE_EQ(streamOf(1)->sourceRect.minY(), 0) << "the blurred capture reaches up over the band";
}

// What each corner window shows and where: made at once, or held back and made later.
struct CornerState {
    ScreenCorner corner;
    Rect frame;
    int level;
    bool visible;
    double alpha;
    friend bool operator==(const CornerState&, const CornerState&) = default;
};

TEST_F(OverlayControllerTest, HeldCornerWindowsAreMadeLaterExactlyAsTheyWouldHaveBeen) {
    // The app's default look, always on, and rounded screen corners of every kind of stacking.
    const std::vector<std::function<void()>> looks = {
        [] {},
        [this] { settings.keepOverlayAlwaysOn = true; },
        [this] {
            settings.cornerBottomLeftZ = BottomCornerZ::above;
            settings.cornerScreenTopLeftZ = BottomCornerZ::wallpaper;
            auto c = settings.corners();
            c.screenTopLeftEnabled = c.screenTopRightEnabled = true;
            c.screenTopRadius = 10;
            c.bottomRadius = 16;
            settings.corners = c;
        },
    };
    for (std::size_t look = 0; look < looks.size(); ++look) {
        SCOPED_TRACE(look);
        looks[look]();
        settle();
        std::vector<CornerState> made[2];
        for (const bool hold : {false, true}) {
            auto held = services();
            held.holdCornerWindows = hold;
            controller = std::make_unique<MenuBarOverlayController>(
                *rig.sampler, settings, nullptr, held, bandOnlyUnifiedMode(host, rig.loop, settings));
            controller->show(true);
            settle();
            EXPECT_EQ(screen().corners.empty(), hold) << "the band comes alone only when held";
            EXPECT_TRUE(band().isVisible());
            controller->makeHeldWindows();
            controller->makeHeldWindows();  // once
            settle();
            for (const auto& w : screen().corners)
                made[hold].push_back({w->corner(), w->window().frame(), w->window().level(),
                                      w->window().isVisible(), w->window().alphaValue()});
            controller.reset();
            settle();
        }
        ASSERT_EQ(made[0].size(), 4u);
        EXPECT_EQ(made[1], made[0]);
    }
}

}  // namespace
}  // namespace velaro::test
