// The controller's unified windows built by the unified window factory: "always on" marks the presenters
// shown, so the band survives switching it off while a window fills the top.
#include "overlay/OverlayControllerTestRig.h"
#include "overlay/UnifiedOverlayWindow.h"

namespace velaro::test {
namespace {

class UnifiedControllerTest : public OverlayControllerTest {
protected:
    void makeUnified() {
        makeController();
        controller->setUnifiedBandFactory(
            unifiedOverlayWindowFactory(*controller, host, rig.loop, settings, rig.screens));
        controller->rebuildWindows();
        settle();
        ASSERT_EQ(controller->renderMode(), OverlayRenderMode::unified);
    }
    UnifiedOverlayWindow& unified() { return dynamic_cast<UnifiedOverlayWindow&>(*screen().band); }
    UnifiedPresenter& presenter() { return *unified().presenter(); }
};

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
