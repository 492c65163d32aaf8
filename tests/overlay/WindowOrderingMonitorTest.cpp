// The below-active monitor: when it runs, the ordering after activations, and the 0.15 s check.
#include "overlay/WindowOrderingTestRig.h"

namespace velaro::test {
namespace {

class WindowOrderingMonitorTest : public WindowOrderingTest {
protected:
    // Starts the monitor with the bottom-left corner below-active under the front app's window 42.
    void startBelow42() {
        placeBelowActive(ScreenCorner::bottomLeft);
        list.setWindows({window(42, kFrontPID)});
        ordering->scheduleBelowActiveRepair();
        rig.loop.advance(0.1);
        ASSERT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    }
    // One tick of the check; returns the reads it made (2 when it re-ran the pass).
    int tick() { return readsDuring(0.15); }
};

TEST_F(WindowOrderingMonitorTest, withoutABelowActiveCornerInUseTheListIsNeverRead) {
    ordering->scheduleBelowActiveRepair();
    placeBelowActive(ScreenCorner::bottomRight);
    editCorners([](CornerSettings& c) { c.bottomRightEnabled = false; });
    ordering->scheduleBelowActiveRepair();
    // A below-active top corner does not exist as a setting; radius 0 puts a corner out of use.
    placeBelowActive(ScreenCorner::screenTopLeft);  // screen-top corners are off by default
    ordering->scheduleBelowActiveRepair();
    rig.workspace.activate(RunningApp{kOtherPID, std::string("org.example.Other"), "Other"});
    EXPECT_FALSE(ordering->monitorRunning());
    EXPECT_EQ(readsDuring(2.0), 0);
}

TEST_F(WindowOrderingMonitorTest, startOrdersAfterATenthOfASecond) {
    placeBelowActive(ScreenCorner::bottomLeft);
    list.setWindows({window(42, kFrontPID)});
    ordering->scheduleBelowActiveRepair();
    EXPECT_TRUE(ordering->monitorRunning());
    EXPECT_EQ(readsDuring(0.09), 0);
    EXPECT_FALSE(corner(ScreenCorner::bottomLeft).isVisible());
    EXPECT_EQ(readsDuring(0.02), 1) << "the pass";
    EXPECT_TRUE(checkHoldsTarget(42));
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    // A second call while it runs starts nothing new: the next 0.12 s hold the running check's tick alone,
    // no second pass 0.1 s after the call.
    ordering->scheduleBelowActiveRepair();
    EXPECT_EQ(readsDuring(0.12), 1);
}

TEST_F(WindowOrderingMonitorTest, activationMovesTheCornersUnderTheNewFrontWindow) {
    startBelow42();
    list.setWindows({window(77, kOtherPID), window(42, kFrontPID)});
    rig.workspace.activate(RunningApp{kOtherPID, std::string("org.example.Other"), "Other"});
    rig.loop.advance(0.1);
    EXPECT_TRUE(checkHoldsTarget(77));
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{77});
}

TEST_F(WindowOrderingMonitorTest, laterRequestReplacesThePendingOrdering) {
    startBelow42();
    list.setWindows({window(77, kOtherPID), window(42, kFrontPID)});
    rig.workspace.activate(RunningApp{kOtherPID, std::string("org.example.Other"), "Other"});
    rig.loop.advance(0.06);
    ordering->scheduleBelowActiveAssert("act");
    rig.loop.advance(0.06);  // the first request would have run by now
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
    rig.loop.advance(0.04);
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{77});
}

TEST_F(WindowOrderingMonitorTest, stoppingForgetsTheTargetAndIgnoresActivations) {
    startBelow42();
    settings.masterEnabled = false;
    // Before the monitor is told, its tick already returns without reading.
    EXPECT_EQ(tick(), 0);
    ordering->scheduleBelowActiveRepair();
    EXPECT_FALSE(ordering->monitorRunning());
    EXPECT_EQ(deriveFailures(), 0);
    settings.masterEnabled = true;  // needed again, but nobody restarted the monitor
    rig.workspace.activate(RunningApp{kOtherPID, std::string("org.example.Other"), "Other"});
    EXPECT_EQ(readsDuring(1.0), 0) << "no ordering was scheduled for the activation";
    EXPECT_TRUE(checkHoldsNoTarget()) << "the target went with the monitor";
}

TEST_F(WindowOrderingMonitorTest, stopCancelsAPendingOrdering) {
    placeBelowActive(ScreenCorner::bottomLeft);
    list.setWindows({window(42, kFrontPID)});
    ordering->scheduleBelowActiveRepair();
    rig.sampler->screensAsleep = true;
    ordering->scheduleBelowActiveRepair();
    rig.sampler->screensAsleep = false;
    rig.loop.advance(1.0);
    EXPECT_FALSE(corner(ScreenCorner::bottomLeft).isVisible());
}

TEST_F(WindowOrderingMonitorTest, checkLeavesACorrectStackAlone) {
    startBelow42();
    // A list that shows our windows, the corner behind the target.
    list.setWindows({window(9, kOtherPID), window(42, kFrontPID), listed(ScreenCorner::bottomLeft)});
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(reasserts, 0) << "a listed corner needs no help from the host";
}

TEST_F(WindowOrderingMonitorTest, checkReordersACornerListedInFrontOfTheTarget) {
    startBelow42();
    list.setWindows({listed(ScreenCorner::bottomLeft), window(42, kFrontPID)});
    EXPECT_EQ(tick(), 2);
}

TEST_F(WindowOrderingMonitorTest, checkDerivesANewTargetWhenTheOldOneLeavesTheScreen) {
    startBelow42();
    list.setWindows({window(43, kFrontPID)});
    EXPECT_EQ(tick(), 2);
    EXPECT_TRUE(checkHoldsTarget(43));
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{43});
}

TEST_F(WindowOrderingMonitorTest, withoutATargetEveryTickRetries) {
    placeBelowActive(ScreenCorner::bottomLeft);
    list.setWindows({window(42, kFrontPID, 150, 100)});
    ordering->scheduleBelowActiveRepair();
    rig.loop.advance(0.1);
    EXPECT_EQ(deriveFailures(), 1);
    EXPECT_EQ(tick(), 1);  // the pass alone
    list.setWindows({window(42, kFrontPID)});
    tick();
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
}

// A list may leave our own windows out. A corner ordered in below the current target is then the host's
// to check; reading "not listed" as "off screen" would reorder on every tick.
TEST_F(WindowOrderingMonitorTest, unlistedCornerInPlaceIsLeftToTheHostsStackCheck) {
    startBelow42();
    const int stacks = host.stackUpdates();
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(reasserts, 2);
    EXPECT_EQ(host.stackUpdates(), stacks);
}

TEST_F(WindowOrderingMonitorTest, cornerOrderedOutIsReorderedAtEveryCheck) {
    startBelow42();
    corner(ScreenCorner::bottomLeft).orderOut();
    overview = true;  // the pass may not order it back in, so every check tries again
    EXPECT_EQ(tick(), 2);
    EXPECT_EQ(tick(), 2);
    overview = false;
    EXPECT_EQ(tick(), 2);
    EXPECT_TRUE(corner(ScreenCorner::bottomLeft).isVisible());
    EXPECT_EQ(tick(), 1);
}

TEST_F(WindowOrderingMonitorTest, cornerLastOrderedUnderAnotherWindowIsReordered) {
    startBelow42();
    corner(ScreenCorner::bottomLeft).orderFrontRegardless();  // someone else moved it
    EXPECT_EQ(tick(), 2);
    EXPECT_EQ(corner(ScreenCorner::bottomLeft).orderedBelowForeign(), WindowNumber{42});
}

TEST_F(WindowOrderingMonitorTest, nothingRunsOnceTheOrderingIsGone) {
    startBelow42();
    rig.workspace.activate(RunningApp{kOtherPID, std::string("org.example.Other"), "Other"});
    ordering.reset();
    EXPECT_EQ(readsDuring(1.0), 0);
    rig.workspace.activate(RunningApp{kFrontPID, std::string("org.example.Front"), "Front"});
    EXPECT_EQ(readsDuring(1.0), 0);
}

}  // namespace
}  // namespace velaro::test
