// The controller with the unified windows and the reveal gate installed: a show waits for a fresh colour
// or the timeout, a hide closes a waiting gate, "always on" skips the gate but marks the presenters shown,
// so the band survives switching it off while a window fills the top.
#include "overlay/OverlayControllerTestRig.h"
#include "overlay/UnifiedOverlayWindow.h"

namespace velaro::test {
namespace {

class UnifiedControllerTest : public OverlayControllerTest {
protected:
    void makeUnified() {
        makeController({}, unifiedOverlayMode(*rig.sampler, settings, services()));
        controller->setOnRevealPendingChanged(
            [this] { pendingChanges.push_back(controller->unifiedRevealPending()); });
        settle();
        ASSERT_EQ(renderMode(), OverlayRenderMode::unified);
    }
    UnifiedOverlayWindow& unified() { return dynamic_cast<UnifiedOverlayWindow&>(*screen().band); }
    UnifiedPresenter& presenter() { return *unified().presenter(); }
    std::vector<bool> pendingChanges;
};

TEST_F(UnifiedControllerTest, ShowWaitsForAFreshColourThenRevealsAnimated) {
    makeUnified();
    controller->show(false);
    EXPECT_TRUE(band().isVisible()) << "on screen at once, still empty";
    EXPECT_FALSE(presenter().shown());
    EXPECT_TRUE(controller->unifiedRevealPending());
    EXPECT_EQ(pendingChanges, std::vector<bool>{true});

    rig.loop.advance(0.2);
    rig.sampler->colorPulse = rig.sampler->colorPulse() + 1;
    EXPECT_TRUE(presenter().shown());
    EXPECT_FALSE(controller->unifiedRevealPending());
    EXPECT_EQ(pendingChanges, (std::vector<bool>{true, false}));
    EXPECT_TRUE(unified().view().reveal().hold()) << "animated: the colours freeze while the mask opens";
}

TEST_F(UnifiedControllerTest, WithoutAColourTheTimeoutRevealsAtOnce) {
    makeUnified();
    controller->show(false);
    rig.loop.advance(0.39);
    EXPECT_FALSE(presenter().shown());
    rig.loop.advance(0.02);
    EXPECT_TRUE(presenter().shown());
    EXPECT_DOUBLE_EQ(unified().view().reveal().progress(), 1);
    EXPECT_FALSE(unified().view().reveal().hold());
}

TEST_F(UnifiedControllerTest, HidingWhileTheGateWaitsClosesItWithoutReveal) {
    makeUnified();
    controller->show(false);
    controller->hide(false);
    EXPECT_FALSE(controller->unifiedRevealPending());
    EXPECT_EQ(pendingChanges, (std::vector<bool>{true, false}));
    rig.sampler->colorPulse = rig.sampler->colorPulse() + 1;
    rig.loop.advance(1);
    EXPECT_FALSE(presenter().shown());
    EXPECT_FALSE(band().isVisible());
}

TEST_F(UnifiedControllerTest, ImmediateShowAndAChosenColourNeedNoGate) {
    makeUnified();
    controller->show(true);
    EXPECT_TRUE(presenter().shown());
    EXPECT_DOUBLE_EQ(unified().view().reveal().progress(), 1);
    controller->hide(true);

    settings.autoSample = false;
    settings.style = MenuBarStyle::solid;
    settings.blurEnabled = false;
    settings.lightReflectionsEnabled = false;
    settings.vizEnabled = false;
    settings.progressEnabled = false;
    auto corners = settings.corners();
    corners.topLeftColorMode = corners.topRightColorMode = TopColorMode::black;
    settings.corners = corners;
    settle();
    ASSERT_FALSE(settings.needsScreenCapture());
    controller->show(false);
    EXPECT_TRUE(presenter().shown());
    EXPECT_TRUE(pendingChanges.empty());
}

TEST_F(UnifiedControllerTest, AlwaysOnShowMarksThePresentersShownSoSwitchingItOffKeepsTheBand) {
    settings.keepOverlayAlwaysOn = true;
    rig.sampler->isFilledWindowActive = true;
    makeUnified();
    controller->show(false);
    EXPECT_TRUE(band().isVisible());
    EXPECT_TRUE(presenter().shown());
    EXPECT_FALSE(presenter().revealInstant) << "the view consumed the instant flag";
    EXPECT_DOUBLE_EQ(unified().view().reveal().progress(), 1) << "revealed at once, no animation";
    EXPECT_FALSE(unified().view().reveal().hold());

    settings.keepOverlayAlwaysOn = false;  // a window still fills the top: the band must stay
    settle();
    EXPECT_DOUBLE_EQ(unified().view().revealMaskProgress(), 1);
    EXPECT_TRUE(band().isVisible());
}

}  // namespace
}  // namespace velaro::test
