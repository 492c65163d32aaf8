// The controller's below-active corners: it runs the monitor as the settings and the sampler change, and
// orders its own corner windows under the front app's window.
#include "overlay/OverlayControllerTestRig.h"

namespace velaro::test {
namespace {

using C = ScreenCorner;

class WindowOrderingControllerTest : public OverlayControllerTest {
protected:
    static constexpr std::int32_t kFront = 700;
    void makeWithList() {
        settings.manualSeparateCorners = true;
        rig.workspace.frontmost = RunningApp{kFront, std::string("org.example.Front"), "Front"};
        rig.windows.setWindows(
            {FakeWindowList::window(kFront, Rect{100, 100, 800, 600}, WindowLevel::normal, "Front", 42)});
        controller = std::make_unique<MenuBarOverlayController>(
            *rig.sampler, settings, nullptr, services(&rig.windows),
            bandOnlyUnifiedMode(host, rig.loop, settings));
        settle();
    }
};

TEST_F(WindowOrderingControllerTest, BelowActiveCornerFollowsTheFrontWindowWhileNeeded) {
    makeWithList();
    EXPECT_FALSE(controller->windowOrdering().monitorRunning());
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settle();
    EXPECT_TRUE(controller->windowOrdering().monitorRunning());
    rig.loop.advance(0.1);
    EXPECT_EQ(corner(C::bottomLeft).level(), OverlayWindowLevel::normal);
    EXPECT_EQ(corner(C::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    EXPECT_FALSE(corner(C::bottomRight).orderedBelowForeign());

    rig.sampler->screensAsleep = true;
    settle();
    EXPECT_FALSE(controller->windowOrdering().monitorRunning());
    EXPECT_EQ(controller->windowOrdering().belowActiveTarget(), std::nullopt);
    rig.sampler->screensAsleep = false;
    settle();
    EXPECT_TRUE(controller->windowOrdering().monitorRunning());

    settings.masterEnabled = false;
    settle();
    EXPECT_FALSE(controller->windowOrdering().monitorRunning());
}

TEST_F(WindowOrderingControllerTest, NothingIsOrderedWhileTheOverviewShows) {
    makeWithList();
    controller->attachOverviewDetector(detector);
    detector.isOverviewActive = true;
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settle();
    rig.loop.advance(0.3);
    EXPECT_EQ(controller->windowOrdering().belowActiveTarget(), WindowNumber{42});
    EXPECT_FALSE(corner(C::bottomLeft).orderedBelowForeign());
}

}  // namespace
}  // namespace velaro::test
