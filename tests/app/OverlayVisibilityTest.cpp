// The overlay's show/hide rule: the order of its tests, the 0.3 s deferral after an unfill and what cancels
// or skips it, and the slide gate's immediate paths.
#include "app/OverlayVisibility.h"

#include <gtest/gtest.h>

#include "support/AppDelegateRig.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using Inputs = OverlayVisibility::Inputs;

struct OverlayVisibilityTest : ::testing::Test {
    test::VirtualLoop loop;
    test::FakeOverlayController controller;
    bool haveController = true;
    OverlayVisibility rule{
        loop, [this]() -> OverlayControllerPort* { return haveController ? &controller : nullptr; }};

    // A deferred show is the only timer the rule sets.
    bool showWaits() const { return loop.pendingTimers() > 0; }
    static Inputs filled(bool on = true) {
        Inputs in;
        in.filledWindowActive = on;
        return in;
    }
    // Shown, then hidden by an unfill: the state every deferral starts from.
    void showThenUnfill() {
        rule.update(filled());
        ASSERT_TRUE(controller.visible);
        rule.update(filled(false));
        ASSERT_FALSE(controller.visible);
        controller.calls.clear();
    }
};

TEST_F(OverlayVisibilityTest, EveryConditionMustHoldWhateverAlwaysOnSays) {
    Inputs all;
    all.keepOverlayAlwaysOn = true;
    all.filledWindowActive = true;
    EXPECT_TRUE(OverlayVisibility::wanted(all));
    for (int i = 0; i < 4; ++i) {
        Inputs in = all;
        if (i == 0) in.masterEnabled = false;
        if (i == 1) in.overlayEnabled = false;
        if (i == 2) in.excludedAppCovering = true;
        if (i == 3) in.slideGateOpen = true;
        EXPECT_FALSE(OverlayVisibility::wanted(in)) << i;
    }
    Inputs empty = all;
    empty.filledWindowActive = false;
    EXPECT_TRUE(OverlayVisibility::wanted(empty)) << "always on shows over an empty desktop";
    empty.keepOverlayAlwaysOn = false;
    EXPECT_FALSE(OverlayVisibility::wanted(empty));
}

TEST_F(OverlayVisibilityTest, ShowAfterAnUnfillWaits0Point3SecondsAndHappensExactlyOnce) {
    showThenUnfill();
    loop.advance(0.5);
    rule.update(filled());
    EXPECT_FALSE(controller.visible);
    EXPECT_TRUE(showWaits());
    // More requests during the wait keep the first one's time.
    loop.advance(0.2);
    rule.update(filled());
    loop.advance(0.09);
    rule.update(filled());
    EXPECT_FALSE(controller.visible);
    loop.advance(0.02);
    EXPECT_TRUE(controller.visible);
    EXPECT_EQ(controller.calls, std::vector<std::string>{"show"}) << "one show, not immediate";
    EXPECT_FALSE(showWaits());
    loop.advance(1.0);
    EXPECT_EQ(controller.count("show"), 1);
}

TEST_F(OverlayVisibilityTest, AHideDuringTheWaitCancelsTheShow) {
    showThenUnfill();
    rule.update(filled());
    ASSERT_TRUE(showWaits());
    rule.update(filled(false));
    EXPECT_FALSE(showWaits());
    loop.advance(1.0);
    EXPECT_FALSE(controller.visible);
    EXPECT_TRUE(controller.calls.empty());
}

TEST_F(OverlayVisibilityTest, AnAppSwitchOrDesktopSwitchShowsAtOnceAndCancelsTheWait) {
    showThenUnfill();
    rule.update(filled());
    ASSERT_TRUE(showWaits());
    rule.noteAppSwitch();
    rule.update(filled());
    EXPECT_TRUE(controller.visible);
    EXPECT_FALSE(showWaits());
    loop.advance(1.0);
    EXPECT_EQ(controller.count("show"), 1);

    showThenUnfill();
    rule.noteSpaceChange();
    loop.advance(0.59);
    rule.update(filled());
    EXPECT_TRUE(controller.visible) << "a desktop switch 0.59 s ago";

    showThenUnfill();
    loop.advance(0.6);
    rule.update(filled());
    EXPECT_FALSE(controller.visible) << "the switch is 0.6 s old: the unfill wins again";
}

TEST_F(OverlayVisibilityTest, NoWaitOnceASecondHasPassedSinceTheUnfill) {
    showThenUnfill();
    loop.advance(1.0);
    rule.update(filled());
    EXPECT_TRUE(controller.visible);
}

TEST_F(OverlayVisibilityTest, HidingUnderTheSlideGateDoesNotStampTheUnfillAndComesBackImmediately) {
    rule.update(filled());
    loop.advance(2.0);
    Inputs gate = filled();
    gate.slideGateOpen = true;
    rule.update(gate);
    EXPECT_EQ(controller.calls.back(), "hide immediate");

    // Back within the second an unfill would make it wait: shown at once, and as hidden under the gate.
    loop.advance(0.1);
    rule.update(filled());
    EXPECT_EQ(controller.calls.back(), "show immediate");
    EXPECT_FALSE(showWaits()) << "never stamped as an unfill";

    // That was the gate's only immediate show: an ordinary hide and show later are plain ones.
    rule.update(filled(false));
    EXPECT_EQ(controller.calls.back(), "hide");
    loop.advance(1.0);
    rule.update(filled());
    EXPECT_EQ(controller.calls.back(), "show");
}

TEST_F(OverlayVisibilityTest, WhileHiddenAPendingFilledStateDoesNotCountAsAnUnfill) {
    Inputs pending = filled(false);
    pending.pendingFilledState = true;
    loop.advance(5.0);
    rule.update(pending);
    rule.update(filled());
    EXPECT_TRUE(controller.visible) << "no unfill was stamped, so no wait";
}

TEST_F(OverlayVisibilityTest, WithoutAControllerNothingBreaksAndADueShowFindsTheNewOne) {
    haveController = false;
    rule.update(filled());
    rule.update(filled(false));
    rule.update(filled());
    ASSERT_TRUE(showWaits());
    haveController = true;
    loop.advance(0.3);
    EXPECT_TRUE(controller.visible);
}

TEST_F(OverlayVisibilityTest, ColoursAreCloseOnlyStrictlyWithinTheTolerance) {
    EXPECT_TRUE(colorsClose(Color::rgb(0.5, 0.5, 0.5), Color::rgb(0.509, 0.491, 0.5), 0.01));
    EXPECT_FALSE(colorsClose(Color::rgb(0.5, 0.5, 0.5), Color::rgb(0.5, 0.5, 0.25), 0.01));
    EXPECT_TRUE(colorsClose(Color::rgb(0.5, 0.5, 0.5, 1), Color::rgb(0.5, 0.5, 0.5, 0), 0.01))
        << "alpha ignored";
}

}  // namespace
}  // namespace velaro
