// The controller's below-active corners: it runs the monitor as the settings and the sampler change, and
// orders its own corner windows under the front app's window.
#include "overlay/OverlayControllerTestRig.h"
#include "overlay/WindowOrderingTestRig.h"
#include "support/LogCapture.h"

namespace velaro::test {
namespace {

using C = ScreenCorner;

class WindowOrderingControllerTest : public OverlayControllerTest {
protected:
    ~WindowOrderingControllerTest() override { controller.reset(); }  // before the list it reads

    static constexpr std::int32_t kFront = 700;
    void makeWithList() {
        settings.manualSeparateCorners = true;
        rig.workspace.frontmost = RunningApp{kFront, std::string("org.example.Front"), "Front"};
        showFrontWindow(42, 800, 600);
        controller = std::make_unique<MenuBarOverlayController>(
            *rig.sampler, settings, nullptr, services(&orderingList),
            bandOnlyUnifiedMode(host, rig.loop, settings));
        settle();
    }
    // The front app's one window; one under 200 × 150 points is too small to order corners below.
    void showFrontWindow(WindowNumber number, double width, double height) {
        for (FakeWindowList* list : {&rig.windows, &orderingList})
            list->setWindows({FakeWindowList::window(kFront, Rect{100, 100, width, height}, WindowLevel::normal,
                                                     "Front", number)});
    }
    // Whether the monitor's check holds window 42 as the one to order the corners below, asked on its ticks
    // without moving a thing (see belowActiveCheckReads).
    bool checkHolds42() {
        const std::vector<WindowInfo> corners{FakeWindowList::window(
            rig.workspace.ownPID, Rect{0, 0, 28, 28}, WindowLevel::normal, "Velaro", corner(C::bottomLeft).windowNumber())};
        const auto tick = [this] { rig.loop.advance(0.15); };
        return belowActiveCheckReads(orderingList, rig.workspace, 42, corners, tick) == 1 &&
               belowActiveCheckReads(orderingList, rig.workspace, 42, corners, tick) == 1;
    }
    // The passes that found no window to order the corners below, as the log reports them: once for each
    // run of misses since the monitor started.
    long missesReported() const { return logged.count("below-active: the front app shows no window"); }

    // The controller's own list, which nothing but its ordering reads.
    FakeWindowList orderingList;
    LogCapture logged;
};

TEST_F(WindowOrderingControllerTest, BelowActiveCornerFollowsTheFrontWindowWhileNeeded) {
    makeWithList();
    EXPECT_FALSE(belowActiveMonitorRuns());
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settle();
    EXPECT_TRUE(belowActiveMonitorRuns());
    rig.loop.advance(0.1);
    EXPECT_EQ(corner(C::bottomLeft).level(), OverlayWindowLevel::normal);
    EXPECT_EQ(corner(C::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    EXPECT_FALSE(corner(C::bottomRight).orderedBelowForeign());

    // The front window gives way to one below the size that counts: the check finds no target, and says so
    // once.
    showFrontWindow(43, 150, 100);
    rig.loop.advance(0.3);
    EXPECT_EQ(missesReported(), 1);

    rig.sampler->screensAsleep = true;
    settle();
    EXPECT_FALSE(belowActiveMonitorRuns());
    rig.sampler->screensAsleep = false;
    settle();
    EXPECT_TRUE(belowActiveMonitorRuns());
    rig.loop.advance(0.1);
    EXPECT_EQ(missesReported(), 2) << "the stopped monitor forgot what it knew: its first pass says it anew";

    settings.masterEnabled = false;
    settle();
    EXPECT_FALSE(belowActiveMonitorRuns());
}

TEST_F(WindowOrderingControllerTest, NothingIsOrderedWhileTheOverviewShows) {
    makeWithList();
    controller->attachOverviewDetector(detector);
    detector.isOverviewActive = true;
    settings.cornerBottomLeftZ = BottomCornerZ::belowActive;
    settle();
    rig.loop.advance(0.3);
    EXPECT_FALSE(corner(C::bottomLeft).orderedBelowForeign());
    EXPECT_TRUE(checkHolds42()) << "the pass found the front window all the same";
}

}  // namespace
}  // namespace velaro::test
