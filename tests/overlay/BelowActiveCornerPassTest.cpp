// The below-active pass: which window of the front app is the target, and which corners it orders.
#include "overlay/WindowOrderingTestRig.h"

namespace velaro::test {
namespace {

class BelowActiveCornerPassTest : public WindowOrderingTest {
protected:
    BelowActiveCornerPassTest() { placeBelowActive(ScreenCorner::bottomLeft); }
    std::optional<WindowNumber> targetOf(std::vector<WindowInfo> entries) {
        list.setWindows(std::move(entries));
        return frontmostAppWindowNumber(rig.workspace, &list);
    }
};

TEST_F(BelowActiveCornerPassTest, targetMustBeLargerThanTwoHundredByOneHundredFifty) {
    EXPECT_EQ(targetOf({window(1, kFrontPID, 200, 150)}), std::nullopt);
    EXPECT_EQ(targetOf({window(1, kFrontPID, 201, 150)}), std::nullopt);
    EXPECT_EQ(targetOf({window(1, kFrontPID, 200, 151)}), std::nullopt);
    EXPECT_EQ(targetOf({window(1, kFrontPID, 201, 151)}), WindowNumber{1});
    // A small window in front is passed over for the large one behind it.
    EXPECT_EQ(targetOf({window(1, kFrontPID, 120, 80), window(2, kFrontPID, 201, 151)}), WindowNumber{2});
}

TEST_F(BelowActiveCornerPassTest, onlyTheFrontAppsForemostWindowOnTheNormalLayerIsATarget) {
    // Panels, menus and docks of the front app never count, nor do other apps' windows in front.
    EXPECT_EQ(targetOf({window(1, kFrontPID, 800, 600, WindowLevel::floating),
                        window(2, kFrontPID, 800, 600, WindowLevel::popUpMenu), window(3, kOtherPID),
                        window(4, kFrontPID), window(5, kFrontPID)}),
              WindowNumber{4});
    EXPECT_EQ(targetOf({window(1, kFrontPID, 800, 600, WindowLevel::dock), window(3, kOtherPID)}),
              std::nullopt);
}

TEST_F(BelowActiveCornerPassTest, entriesMissingAFieldArePassedOver) {
    auto noLayer = window(1, kFrontPID);
    noLayer.layer.reset();
    auto noPID = window(2, kFrontPID);
    noPID.ownerPID.reset();
    auto noNumber = window(3, kFrontPID);
    noNumber.number.reset();
    auto noBounds = window(4, kFrontPID);
    noBounds.bounds.reset();
    EXPECT_EQ(targetOf({noLayer, noPID, noNumber, noBounds, window(5, kFrontPID)}), WindowNumber{5});
}

TEST_F(BelowActiveCornerPassTest, noFrontAppOrNoListMeansNoTarget) {
    list.setWindows({window(1, kFrontPID)});
    EXPECT_EQ(frontmostAppWindowNumber(rig.workspace, nullptr), std::nullopt);
    rig.workspace.frontmost.reset();
    EXPECT_EQ(frontmostAppWindowNumber(rig.workspace, &list), std::nullopt);
    EXPECT_EQ(list.snapshots, 0) << "without a front app the list is not read";
}

TEST_F(BelowActiveCornerPassTest, ordersOnlyBelowActiveCornersInUseBelowTheTarget) {
    placeBelowActive(ScreenCorner::screenTopRight);
    placeBelowActive(ScreenCorner::bottomRight);
    editCorners([](CornerSettings& c) {
        c.screenTopRightEnabled = true;
        c.bottomLinked = false;
        c.bottomRightRadius = 0;  // own radius 0 while the row radius is 28: not in use
    });
    list.setWindows({window(9, kOtherPID), window(42, kFrontPID)});
    ordering->assertBelowActiveOrder();

    EXPECT_TRUE(checkHoldsTarget(42));
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    EXPECT_EQ(corner(ScreenCorner::screenTopRight).orderedBelowForeign(), WindowNumber{42});
    EXPECT_FALSE(corner(ScreenCorner::bottomRight).isVisible());
    // On the wallpaper, or a top corner: never this pass's business.
    EXPECT_FALSE(corner(ScreenCorner::screenTopLeft).isVisible());
    EXPECT_FALSE(corner(ScreenCorner::topLeft).isVisible());
    EXPECT_FALSE(corner(ScreenCorner::topRight).isVisible());
}

TEST_F(BelowActiveCornerPassTest, switchedOffCornerIsLeftAlone) {
    editCorners([](CornerSettings& c) { c.bottomLeftEnabled = false; });
    placeBelowActive(ScreenCorner::bottomRight);
    list.setWindows({window(42, kFrontPID)});
    ordering->assertBelowActiveOrder();
    EXPECT_FALSE(corner(ScreenCorner::bottomLeft).isVisible());
    EXPECT_EQ(corner(ScreenCorner::bottomRight).orderedBelowForeign(), WindowNumber{42});
}

TEST_F(BelowActiveCornerPassTest, whileTheOverviewShowsTheTargetIsRecordedButNothingMoves) {
    overview = true;
    list.setWindows({window(42, kFrontPID)});
    ordering->assertBelowActiveOrder();
    EXPECT_FALSE(corner(ScreenCorner::bottomLeft).isVisible());
    EXPECT_EQ(host.stackUpdates(), 0);
    EXPECT_TRUE(checkHoldsTarget(42));
}

TEST_F(BelowActiveCornerPassTest, openSlideGateReadsNothingAndKeepsTheTarget) {
    list.setWindows({window(42, kFrontPID)});
    ordering->assertBelowActiveOrder();
    rig.slideDesktop();
    list.setWindows({window(43, kFrontPID)});
    const int reads = list.snapshots;
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(list.snapshots, reads);
    EXPECT_TRUE(checkHoldsTarget(42));
}

TEST_F(BelowActiveCornerPassTest, failureLatchSetByMissesAndClearedByAHit) {
    list.setWindows({window(42, kFrontPID)});
    ordering->assertBelowActiveOrder();
    ASSERT_TRUE(corner(ScreenCorner::bottomLeft).isVisible());

    list.setWindows({window(42, kFrontPID, 150, 100)});
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(deriveFailures(), 1);
    EXPECT_TRUE(checkHoldsNoTarget());
    // A miss leaves the corners where they were.
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(deriveFailures(), 1) << "a run of misses is logged once";

    list.setWindows({window(43, kFrontPID)});
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{43});
    list.setWindows({window(43, kFrontPID, 150, 100)});
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(deriveFailures(), 2) << "the hit cleared the latch: the next miss is logged again";
}

TEST_F(BelowActiveCornerPassTest, withoutATargetACornerNeverShownStillShowsOnTheDesktop) {
    rig.workspace.frontmost.reset();
    overview = true;
    ordering->assertBelowActiveOrder();
    EXPECT_FALSE(corner(ScreenCorner::bottomLeft).isVisible());
    overview = false;
    ordering->assertBelowActiveOrder();
    EXPECT_TRUE(corner(ScreenCorner::bottomLeft).isVisible());
    EXPECT_FALSE(corner(ScreenCorner::bottomRight).isVisible()) << "on the wallpaper: not this pass's";
}

TEST_F(BelowActiveCornerPassTest, nothingHappensWhenNoOrderingIsNeeded) {
    list.setWindows({window(42, kFrontPID)});
    settings.masterEnabled = false;
    ordering->assertBelowActiveOrder();
    settings.masterEnabled = true;
    rig.sampler->screensAsleep = true;
    ordering->assertBelowActiveOrder();
    EXPECT_EQ(list.snapshots, 0);
    rig.sampler->screensAsleep = false;
    EXPECT_TRUE(checkHoldsNoTarget());
}

}  // namespace
}  // namespace velaro::test
