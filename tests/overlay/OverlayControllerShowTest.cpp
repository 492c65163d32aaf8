// Showing and hiding the overlay in both render modes, the colour hold at a change of the filling app, the
// coalesced colour flush, the overview's withdrawal, and the controller's going away.
#include "overlay/OverlayControllerTestRig.h"

namespace velaro::test {
namespace {

using C = ScreenCorner;

TEST_F(OverlayControllerTest, SeparateShowFadesBandAndEarsInTogetherAndLeavesUnusedCornersOut) {
    settings.cornerBottomLeftZ = BottomCornerZ::above;
    makeSeparate();
    editCorners([](CornerSettings& c) { c.topRightEnabled = false; });
    std::vector<bool> told;
    controller->setOnVisibilityChanged([&](bool v) { told.push_back(v); });

    controller->show(false);
    EXPECT_EQ(told, std::vector<bool>{true});
    for (auto* w : {&band(), &corner(C::topLeft), &corner(C::bottomLeft)}) {
        EXPECT_TRUE(w->isVisible());
        EXPECT_DOUBLE_EQ(w->alphaValue(), 0);
    }
    rig.loop.advance(0.2);
    EXPECT_GT(band().alphaValue(), 0.3);
    EXPECT_LT(band().alphaValue(), 1);
    EXPECT_DOUBLE_EQ(corner(C::topLeft).alphaValue(), band().alphaValue()) << "one animation group";
    EXPECT_DOUBLE_EQ(corner(C::bottomRight).alphaValue(), 1) << "on the wallpaper, not part of the fade";
    rig.loop.advance(0.2);
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    EXPECT_DOUBLE_EQ(corner(C::bottomLeft).alphaValue(), 1);
    EXPECT_FALSE(corner(C::topRight).isVisible());

    controller->show(false);  // already visible
    EXPECT_EQ(told.size(), 1u);
}

TEST_F(OverlayControllerTest, SeparateHideFadesOutThenOrdersOutUnlessShownAgainMeanwhile) {
    makeSeparate();
    controller->show(true);
    settle();
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    rig.sampler->blurredBackdropImage = BackdropImage{};

    controller->hide(false);
    rig.loop.advance(0.2);
    EXPECT_TRUE(band().isVisible());
    controller->show(false);  // back before the fade ended
    rig.loop.advance(0.5);
    EXPECT_TRUE(band().isVisible());
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    EXPECT_TRUE(rig.sampler->blurredBackdropImage().has_value());

    controller->hide(false);
    rig.loop.advance(0.5);
    EXPECT_FALSE(band().isVisible());
    EXPECT_FALSE(corner(C::topLeft).isVisible());
    EXPECT_FALSE(rig.sampler->blurredBackdropImage().has_value()) << "dropped with the windows";
}

TEST_F(OverlayControllerTest, ShowDoesNothingWithTheMasterSwitchOrTheOverlayOff) {
    makeSeparate();
    settings.masterEnabled = false;
    controller->show(true);
    EXPECT_FALSE(controller->isVisible());
    settings.masterEnabled = true;
    settings.overlayEnabled = false;
    controller->show(false);
    EXPECT_FALSE(controller->isVisible());
    EXPECT_FALSE(band().isVisible());
}

TEST_F(OverlayControllerTest, AlwaysOnShowsWithoutAFade) {
    settings.keepOverlayAlwaysOn = true;
    makeSeparate();
    controller->show(false);
    EXPECT_TRUE(band().isVisible());
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    EXPECT_DOUBLE_EQ(corner(C::topLeft).alphaValue(), 1);
}

TEST_F(OverlayControllerTest, UnifiedShowRevealsThePresenterAndImmediateHideTakesEveryCornerOut) {
    settings.cornerBottomLeftZ = BottomCornerZ::above;
    makeController();
    ASSERT_EQ(renderMode(), OverlayRenderMode::unified);
    auto* presenter = screen().band->presenter();

    controller->show(false);
    EXPECT_TRUE(band().isVisible());
    EXPECT_TRUE(presenter->shown());
    EXPECT_FALSE(presenter->revealInstant);
    EXPECT_TRUE(corner(C::bottomLeft).isVisible());
    controller->orderFrontCornerWindows();
    EXPECT_TRUE(corner(C::bottomRight).isVisible()) << "on the wallpaper";

    controller->hide(true);
    EXPECT_FALSE(presenter->shown());
    EXPECT_FALSE(band().isVisible());
    for (const auto& w : screen().corners) EXPECT_FALSE(w->window().isVisible());

    controller->show(true);
    EXPECT_TRUE(presenter->shown());
    EXPECT_TRUE(presenter->revealInstant);
}

TEST_F(OverlayControllerTest, UnifiedRevealHooksDecideWhenAnAnimatedRevealHappens) {
    int begun = 0, cleared = 0, pendingChanges = 0;
    bool waiting = false;
    makeController({[&] { ++begun, waiting = true, controller->revealPendingChanged(); },
                    [&] { ++cleared, waiting = false; }, [&] { return waiting; }});
    controller->setOnRevealPendingChanged([&] { ++pendingChanges; });
    auto* presenter = screen().band->presenter();

    controller->show(false);
    EXPECT_EQ(begun, 1);
    EXPECT_TRUE(band().isVisible()) << "on screen while the reveal waits";
    EXPECT_FALSE(presenter->shown());
    EXPECT_TRUE(controller->unifiedRevealPending());
    EXPECT_EQ(pendingChanges, 1);

    controller->hide(true);
    EXPECT_GE(cleared, 1);
    EXPECT_FALSE(controller->unifiedRevealPending());
    controller->show(true);  // an immediate show reveals at once
    EXPECT_EQ(begun, 1);
    EXPECT_TRUE(presenter->shown());
    EXPECT_TRUE(presenter->revealInstant);
}

TEST_F(OverlayControllerTest, RebuildWhileVisibleShowsTheNewWindowsAndWhileHiddenLeavesThemOut) {
    makeSeparate();
    controller->show(true);
    rig.screens.sendParametersChanged();
    rig.loop.advance(0.4);
    EXPECT_TRUE(band().isVisible());
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);

    controller->hide(true);
    rig.screens.sendParametersChanged();
    rig.loop.advance(0.4);
    EXPECT_FALSE(band().isVisible());
    EXPECT_FALSE(corner(C::topLeft).isVisible());
}

class ControllerColorHoldTest : public OverlayControllerTest {
protected:
    void SetUp() override {
        makeController();
        controller->show(true);
        settle();
        rig.sampler->filledOwnerAppId = std::string("org.a");
        rig.sampler->isFilledWindowActive = true;
        rig.sampler->dominantColor = red;
    }
    // A frame of one colour through the sampler's stream, which starts once capture may.
    void publishColour(Rgb c) {
        rig.sampler->enable();
        settle();
        rig.deliverSolid("A", c);
    }
    UnifiedPresenter& presenter() { return *screen().band->presenter(); }

    const Color red = Color::rgb(1, 0, 0);
    const Color blue = Color::rgb(0, 0, 1);
};

TEST_F(ControllerColorHoldTest, EdgeLaysTheColoursOnScreenAndAFreshColourEndsTheHoldAfterFifteenHundredths) {
    const double t0 = rig.loop.uptime();
    rig.sampler->filledOwnerAppId = std::string("org.b");
    ASSERT_TRUE(presenter().memoryHold.has_value());
    EXPECT_EQ(presenter().memoryHold->dominant, red);
    EXPECT_DOUBLE_EQ(rig.sampler->recolorSnapUntil(), t0 + 0.5);
    EXPECT_DOUBLE_EQ(rig.sampler->colorCacheFrozenUntil(), t0 + 0.5);

    rig.loop.advance(0.1);
    publishColour(Rgb{0, 0, 255});
    settle();
    EXPECT_TRUE(presenter().memoryHold.has_value())
        << "0.1 s after the edge the colour is still the old app's";
    rig.loop.advance(0.05);
    EXPECT_FALSE(presenter().memoryHold.has_value());
}

TEST_F(ControllerColorHoldTest, WithoutFreshColoursTheHoldEndsAtHalfASecond) {
    rig.sampler->filledOwnerAppId = std::string("org.b");
    rig.loop.advance(0.5);
    EXPECT_TRUE(presenter().memoryHold.has_value());
    rig.loop.advance(0.05);
    EXPECT_FALSE(presenter().memoryHold.has_value());
}

TEST_F(ControllerColorHoldTest, TheRememberedColoursOfTheNewAppAreLaid) {
    // Two polls of the sampler that see org.b's window filling the top record blue for it.
    constexpr std::int32_t kB = 300;
    rig.workspace.running.push_back(RunningApp{kB, std::string("org.b"), "B"});
    rig.windows.setWindows({FakeWindowList::window(kB, Rect{0, 24, 1512, 958}, WindowLevel::normal, "B", 8)});
    rig.sampler->filledOwnerAppId = std::string("org.b");
    rig.loop.advance(0.6);
    rig.sampler->dominantColor = blue;
    rig.sampler->refresh();
    rig.loop.advance(0.5);
    rig.sampler->refresh();
    ASSERT_EQ(rig.sampler->filledOwnerAppId(), std::optional<std::string>("org.b"));

    rig.sampler->filledOwnerAppId = std::string("org.a");
    rig.sampler->dominantColor = red;
    rig.loop.advance(0.6);
    rig.sampler->filledOwnerAppId = std::string("org.b");
    ASSERT_TRUE(presenter().memoryHold.has_value());
    EXPECT_EQ(presenter().memoryHold->dominant, blue);
}

TEST_F(ControllerColorHoldTest, EdgesFromOrToNoOwnerDoNothingAndHiddenOrSeparateOnlyFreezeRecording) {
    rig.sampler->filledOwnerAppId = std::nullopt;
    rig.sampler->filledOwnerAppId = std::string("org.b");
    EXPECT_FALSE(presenter().memoryHold.has_value());
    EXPECT_DOUBLE_EQ(rig.sampler->colorCacheFrozenUntil(), 0);

    controller->hide(true);
    rig.sampler->filledOwnerAppId = std::string("org.c");
    EXPECT_FALSE(presenter().memoryHold.has_value());
    EXPECT_DOUBLE_EQ(rig.sampler->colorCacheFrozenUntil(), rig.loop.uptime() + 0.5);
    EXPECT_DOUBLE_EQ(rig.sampler->recolorSnapUntil(), 0);
}

TEST_F(ControllerColorHoldTest, HidingOrRebuildingDropsTheHold) {
    rig.sampler->filledOwnerAppId = std::string("org.b");
    ASSERT_TRUE(presenter().memoryHold.has_value());
    rig.screens.sendParametersChanged();
    EXPECT_FALSE(presenter().memoryHold.has_value());
    rig.loop.advance(0.6);
    EXPECT_FALSE(presenter().memoryHold.has_value()) << "the dropped hold's checks lay nothing";

    // The sampler's own refresh after the screen change found no filled window.
    rig.sampler->filledOwnerAppId = std::string("org.b");
    rig.sampler->filledOwnerAppId = std::string("org.c");
    ASSERT_TRUE(presenter().memoryHold.has_value());
    const int generation = presenter().memoryGeneration();
    controller->hide(false);
    EXPECT_FALSE(presenter().memoryHold.has_value());
    EXPECT_EQ(presenter().memoryGeneration(), generation + 1);
}

TEST_F(OverlayControllerTest, TwoColourPulsesInOneTurnFlushOnce) {
    makeSeparate();
    controller->show(true);
    settle();
    host.clearLog();
    rig.sampler->colorPulse = 1;
    rig.sampler->colorPulse = 2;
    rig.loop.runUntilIdle();
    EXPECT_EQ(std::count(host.log().begin(), host.log().end(), "commit"), 1);
    host.clearLog();
    rig.sampler->colorPulse = 3;
    rig.loop.runUntilIdle();
    EXPECT_EQ(std::count(host.log().begin(), host.log().end(), "commit"), 1)
        << "a flush done lets the next in";

    controller->hide(true);
    host.clearLog();
    rig.sampler->colorPulse = 4;
    rig.loop.runUntilIdle();
    EXPECT_EQ(std::count(host.log().begin(), host.log().end(), "commit"), 0)
        << "nothing to flush while hidden";
}

TEST_F(OverlayControllerTest, OverviewWithdrawsEveryWindowAndItsEndBringsTheBandsBack) {
    makeSeparate();
    desktop.state = false;
    controller->attachOverviewDetector(detector);
    controller->show(true);
    settle();

    // The desktop's word reaches the controller only because the controller asked for detection.
    desktop.state = true;
    EXPECT_TRUE(detector.isOverviewActive());
    settle();
    EXPECT_TRUE(controller->overviewActive());
    for (auto* w : host.allWindows()) EXPECT_FALSE(w->isVisible());
    // While it shows, nothing is ordered back in: neither by an activation nor by a corner pass.
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    settings.cornerBottomLeftZ = BottomCornerZ::above;
    settle();
    EXPECT_FALSE(band().isVisible());
    EXPECT_FALSE(corner(C::topLeft).isVisible());

    desktop.state = false;
    settle();
    EXPECT_TRUE(band().isVisible());
    EXPECT_DOUBLE_EQ(band().alphaValue(), 1);
    EXPECT_TRUE(corner(C::topLeft).isVisible());
}

TEST_F(OverlayControllerTest, OverviewDemandFollowsTheMasterSwitchAndSleepingScreens) {
    // The desktop says its overview shows throughout: the detector passes that on only while demanded, and
    // the controller is its only client.
    desktop.state = true;
    makeController();
    controller->attachOverviewDetector(detector);
    EXPECT_TRUE(detector.isOverviewActive());
    rig.sampler->screensAsleep = true;
    settle();
    EXPECT_FALSE(detector.isOverviewActive());
    rig.sampler->screensAsleep = false;
    settle();
    EXPECT_TRUE(detector.isOverviewActive());
    settings.masterEnabled = false;
    settle();
    EXPECT_FALSE(detector.isOverviewActive());
}

TEST_F(OverlayControllerTest, AnActivationBringsTheBandsBackToTheFrontUnlessSamplingIsFrozen) {
    makeSeparate();
    controller->show(true);
    settle();
    auto other = host.makeWindow({"other", Rect{0, 0, 10, 10}, OverlayWindowLevel::belowPanel, 1.0, {}});
    other->orderFrontRegardless();
    ASSERT_EQ(host.orderedWindows().front(), other.get());

    rig.sampler->isSamplingFrozen = true;
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    EXPECT_EQ(host.orderedWindows().front(), other.get());

    rig.sampler->isSamplingFrozen = false;
    rig.workspace.send(WorkspaceEvent::Kind::activeSpaceDidChange);
    const auto stack = host.orderedWindows();
    EXPECT_LT(std::find(stack.begin(), stack.end(), &band()),
              std::find(stack.begin(), stack.end(), other.get()));
}

TEST_F(OverlayControllerTest, NothingReachesTheControllerOnceItIsGone) {
    makeSeparate();
    controller->show(true);
    controller->hide(false);  // a fade whose completion outlives the controller
    settings.overlayExtraDepth = -3;
    rig.sampler->colorPulse = 9;
    controller.reset();
    rig.sampler->refresh();  // a poll: it tells its owner tick to the hook the controller left behind
    // Another app's menu opens and closes: the end of that activity goes to the hook left behind too.
    rig.windows.setWindows(
        {FakeWindowList::window(300, Rect{100, 24, 240, 300}, WindowLevel::popUpMenu, "Menu", 11)});
    rig.sampler->refresh();
    rig.windows.setWindows({});
    rig.sampler->refresh();
    rig.loop.advance(0.5);
    rig.sampler->refresh();
    rig.sampler->seamSuppressed = true;
    rig.screens.sendParametersChanged();
    rig.loop.advance(1.0);
    EXPECT_TRUE(host.allWindows().empty());
}

}  // namespace
}  // namespace velaro::test
