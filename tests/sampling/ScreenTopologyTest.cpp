// Menu-bar height, the area below the bar and the cached screen list.
#include "sampling/ScreenTopology.h"

#include <gtest/gtest.h>

#include "support/FakeScreens.h"
#include "support/FakeWorkspace.h"

namespace velaro {
namespace {

using test::FakeScreens;

TEST(ScreenGeometry, MenuBarHeightIsTheGapBetweenTheTopsAndFallsBackToTheStatusBar) {
    // Primary at the origin with a 28-pt panel.
    EXPECT_DOUBLE_EQ(menuBarHeight(FakeScreens::make("a", {0, 0, 1920, 1080}, 28), 24), 28);
    // A screen stacked above the primary (origin y 1080) with a 30-pt panel: subtracting the visible
    // origin's y would give a negative height and wrongly fall through to the status bar.
    EXPECT_DOUBLE_EQ(menuBarHeight(FakeScreens::make("b", {0, 1080, 1280, 1024}, 30), 24), 30);
    // A screen below the primary (negative origin) with a 25-pt panel.
    EXPECT_DOUBLE_EQ(menuBarHeight(FakeScreens::make("c", {200, -900, 1440, 900}, 25), 24), 25);
    // A bottom panel only leaves the top edge alone: no menu bar, so the status bar thickness is used.
    ScreenInfo bottomPanel = FakeScreens::make("d", {0, 0, 1920, 1080}, 0);
    bottomPanel.visibleFrame = {0, 40, 1920, 1040};
    EXPECT_DOUBLE_EQ(menuBarHeight(bottomPanel, 22), 22);
    EXPECT_FALSE(showsMenuBar(bottomPanel));
}

TEST(ScreenGeometry, AreaBelowMenuBarIsInWindowListCoordinates) {
    const ScreenInfo primary = FakeScreens::make("p", {0, 0, 1920, 1080}, 28);
    EXPECT_EQ(areaBelowMenuBar(primary, 1080), (Rect{0, 28, 1920, 1052}));
    // Right of the primary, 200 pt lower at its top: y down from the primary's top.
    const ScreenInfo right = FakeScreens::make("r", {1920, -120, 1280, 1000}, 24);
    EXPECT_EQ(areaBelowMenuBar(right, 1080), (Rect{1920, 200 + 24, 1280, 976}));
    // A visible frame reaching above the frame (a negative inset) or a zero-width screen has no area.
    ScreenInfo odd = primary;
    odd.visibleFrame = {0, 0, 1920, 1100};
    EXPECT_FALSE(areaBelowMenuBar(odd, 1080));
    EXPECT_FALSE(areaBelowMenuBar(FakeScreens::make("z", {0, 0, 0, 1080}, 28), 1080));
}

TEST(ScreenGeometry, ScreenForDisplayNumberReadsTheLiveList) {
    FakeScreens screens;
    screens.setScreens(
        {FakeScreens::make("a", {0, 0, 100, 100}, 10, 7), FakeScreens::make("b", {100, 0, 100, 100}, 10, 9)});
    EXPECT_EQ(screenForDisplayNumber(screens, 9)->id, "b");
    EXPECT_FALSE(screenForDisplayNumber(screens, 8));
}

TEST(ScreenTopologyCache, RereadsOnlyAfterAChangeOrAWake) {
    FakeScreens screens;
    test::FakeWorkspace workspace;
    const ScreenInfo a = FakeScreens::make("a", {0, 0, 1920, 1080}, 28);
    const ScreenInfo b = FakeScreens::make("b", {1920, 0, 1280, 1024}, 28);
    screens.setScreens({a});
    ScreenTopology topology(screens, &workspace);
    const int before = screens.reads;
    ASSERT_EQ(topology.screens().size(), 1u);
    EXPECT_EQ(screens.reads, before + 1) << "a new cache reads at its first use";
    ASSERT_EQ(topology.screens().size(), 1u);
    EXPECT_EQ(screens.reads, before + 1) << "and keeps what it read";

    // A new display is not seen until the change notification marks the cache stale.
    screens.setScreens({a, b});
    EXPECT_FALSE(topology.contains(b));
    screens.sendParametersChanged();
    EXPECT_TRUE(topology.contains(b));

    screens.setScreens({a});
    workspace.send(WorkspaceEvent::Kind::didActivateApplication);
    EXPECT_TRUE(topology.contains(b)) << "only a screen change or a wake re-reads";
    workspace.send(WorkspaceEvent::Kind::didWake);
    EXPECT_FALSE(topology.contains(b));
}

TEST(ScreenTopologyCache, ScreensWithoutAMenuBarAreNeitherContainedNorDescribed) {
    FakeScreens screens;
    const ScreenInfo withBar = FakeScreens::make("a", {0, 0, 1920, 1080}, 28);
    const ScreenInfo without = FakeScreens::make("b", {1920, 0, 1280, 1024}, 0);
    screens.setScreens({without, withBar});
    ScreenTopology topology(screens);
    EXPECT_FALSE(topology.contains(without));
    EXPECT_TRUE(topology.contains(withBar));
    const auto described = topology.screenDescriptions();
    ASSERT_EQ(described.size(), 1u);
    EXPECT_EQ(described[0].id, "a");
    // Identity is the display, not its current geometry.
    ScreenInfo moved = withBar;
    moved.frame = {5, 5, 10, 10};
    EXPECT_TRUE(topology.contains(moved));
}

}  // namespace
}  // namespace velaro
