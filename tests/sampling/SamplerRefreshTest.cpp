// The refresh cycle on the virtual loop: the filled-top hysteresis and its confirmation, capture-stop
// hysteresis, the refreshes an activation causes, and the menu poll, slide gate and seam steps.
#include "sampling/SamplerRefresh.h"

#include <gtest/gtest.h>

#include "sampling/ScreenSamplerTestRig.h"

namespace velaro::test {
namespace {

// One screen whose area below the 24-pt bar is 1000 × 1000 pt, so a full-width window of height h covers
// exactly h / 1000 of it.
class RefreshCycleTest : public ::testing::Test {
protected:
    RefreshCycleTest() {
        rig.sampler->enabled = true;
        rig.setGeometry();
    }
    void editorOfHeight(double h) {
        rig.windows.setWindows(
            {FakeWindowList::window(kEditorPID, Rect{0, 24, 1000, h}, WindowLevel::normal, "Editor", 7)});
    }
    void refreshAt(double h) {
        editorOfHeight(h);
        rig.sampler->refresh();
    }
    bool filled() const { return rig.sampler->isFilledWindowActive(); }

    SamplerRig rig{{FakeScreens::make("A", Rect{0, 0, 1000, 1024}, 24, 1)}};
};

TEST_F(RefreshCycleTest, NinetyPercentEntersAfterTheConfirmationHalfStaysJustUnderHalfLeavesAtOnce) {
    refreshAt(900);
    EXPECT_FALSE(filled());
    EXPECT_EQ(rig.sampler->pendingFilledState, std::optional<bool>(true));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream()) << "a pending fill already wants capture";
    rig.loop.advance(0.05);
    EXPECT_FALSE(filled());
    rig.loop.advance(0.05);
    EXPECT_TRUE(filled());
    EXPECT_FALSE(rig.sampler->pendingFilledState.has_value());

    refreshAt(500);
    EXPECT_TRUE(filled());
    refreshAt(490);
    EXPECT_FALSE(filled()) << "no confirmation on the way out";
    refreshAt(890);
    EXPECT_FALSE(rig.sampler->pendingFilledState.has_value()) << "0.89 is not enough to enter";
}

TEST_F(RefreshCycleTest, APendingFillThatDoesNotHoldGivesNoFill) {
    refreshAt(950);
    refreshAt(800);  // the next refresh sees less: pending and its timer are dropped
    EXPECT_FALSE(rig.sampler->pendingFilledState.has_value());
    editorOfHeight(950);  // even if the top is covered again when the old timer would have fired
    rig.loop.advance(0.2);
    EXPECT_FALSE(filled());

    refreshAt(950);
    editorOfHeight(850);  // the confirmation scan disagrees
    rig.loop.advance(0.1);
    EXPECT_FALSE(filled());
    EXPECT_FALSE(rig.sampler->pendingFilledState.has_value());
}

TEST_F(RefreshCycleTest, ASecondSightingWithinTheConfirmationKeepsTheFirstTimer) {
    refreshAt(950);
    rig.loop.advance(0.05);
    const auto seq = rig.sampler->colorSeqAtFillStart;
    refreshAt(950);
    rig.loop.advance(0.05);
    EXPECT_TRUE(filled()) << "confirmed 0.1 s after the first sighting";
    EXPECT_EQ(rig.sampler->colorSeqAtFillStart, seq);
}

TEST_F(RefreshCycleTest, ACaptureStopScreenStaysStoppedAboveHalfAndComesBackWithItsLastGoodColour) {
    auto channel = std::make_shared<ScreenSampler::ScreenChannel>();
    rig.sampler->channelsByScreen["A"] = channel;
    rig.workspace.running.push_back(RunningApp{200, std::string("org.example.Vault"), "Vault"});
    rig.defaults.seed(kExcludedCaptureStopKey, PlistValue::array({"org.example.Vault"}));
    refreshAt(1000);
    rig.loop.advance(0.1);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.sampler->hasActiveStream());
    const Color good{0.2, 0.4, 0.6, 1};
    rig.context("A").frameOutput->onUpdate(good, std::vector<Color>(64, good));
    rig.loop.runUntilIdle();

    const auto editor =
        FakeWindowList::window(kEditorPID, Rect{0, 24, 1000, 1000}, WindowLevel::normal, "Editor", 7);
    auto vault = [&](double h) {
        rig.windows.setWindows(
            {FakeWindowList::window(200, Rect{0, 24, 1000, h}, WindowLevel::normal, "Vault", 9), editor});
        rig.sampler->refresh();
        rig.loop.runUntilIdle();
    };
    vault(950);
    EXPECT_EQ(rig.sampler->captureStopScreens(), (std::set<ScreenID>{"A"}));
    rig.sampler->publishDominant(Color::black(), nullptr);  // something else was shown meanwhile
    vault(600);
    EXPECT_EQ(rig.sampler->captureStopScreens(), (std::set<ScreenID>{"A"}));
    vault(400);
    EXPECT_TRUE(rig.sampler->captureStopScreens().empty());
    EXPECT_EQ(rig.sampler->dominantColor(), good);
    EXPECT_EQ(channel->dominantColor(), std::optional<Color>(good));
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

TEST_F(RefreshCycleTest, AnActivationRefreshesAtOnceAfterAHundredthAndATenthAndThePollGoesOn) {
    std::vector<double> at;
    rig.sampler->onOwnerTick = [&](const std::optional<std::string>&) { at.push_back(rig.loop.uptime()); };
    rig.loop.advance(0.2);
    at.clear();
    rig.workspace.activate(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
    rig.loop.advance(0.85);
    ASSERT_EQ(at.size(), 5u);
    const double expected[] = {0.2, 0.21, 0.3, 0.5, 1.0};
    for (std::size_t i = 0; i < at.size(); ++i) EXPECT_NEAR(at[i], expected[i], 1e-9) << i;
}

// ---- the menu poll ----

class MenuPollTest : public ::testing::Test {
protected:
    MenuPollTest() {
        rig.sampler->stopPollTimer();  // the test drives the poll itself
        rig.sampler->onMenuBarActivityEnded = [this] { ended.push_back(rig.loop.uptime()); };
    }
    // One refresh's poll at the loop's present time.
    void tick(bool open) {
        pollMenuTracking(*rig.sampler, open, rig.loop.uptime());
        rig.loop.runUntilIdle();
    }
    SamplerRig rig;
    std::vector<double> ended;
};

TEST_F(MenuPollTest, AForeignMenuClosedIsReportedAtTheFirstTickAtLeastFourTenthsLater) {
    rig.loop.advance(1);
    tick(false);  // takes the watch over
    rig.loop.advance(0.2);
    tick(true);
    rig.loop.advance(0.5);
    tick(false);  // seen closed at 1.7
    EXPECT_TRUE(ended.empty());
    rig.loop.advance(0.3);
    tick(false);
    EXPECT_TRUE(ended.empty());
    rig.loop.advance(0.1);
    tick(false);  // 2.1
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_NEAR(ended[0], 2.1, 1e-9);
    rig.loop.advance(0.5);
    tick(false);
    EXPECT_EQ(ended.size(), 1u) << "a menu seen once means no extra resync";
}

TEST_F(MenuPollTest, WithNoMenuTheOverlayIsToldOnceHalfASecondAfterTheTakeoverEvenAtUptimeZero) {
    ASSERT_EQ(rig.loop.uptime(), 0);
    tick(false);
    rig.loop.advance(0.49);
    tick(false);
    EXPECT_TRUE(ended.empty());
    rig.loop.advance(0.02);
    tick(false);
    EXPECT_EQ(ended.size(), 1u);
    for (int i = 0; i < 4; ++i) {
        rig.loop.advance(0.5);
        tick(false);
    }
    EXPECT_EQ(ended.size(), 1u);
}

TEST_F(MenuPollTest, AStreamStartingHandsTheWatchBackAndFlushesThePendingNotice) {
    rig.loop.advance(1);
    tick(true);  // takes over with the menu open
    rig.loop.advance(0.5);
    tick(false);           // closed at 1.5: notice due at 1.9
    rig.startStreaming();  // takes 0.1 s: now 1.6
    ASSERT_TRUE(rig.sampler->hasActiveStream());
    tick(false);
    EXPECT_EQ(rig.sampler->pollOwnedSince, 0);
    EXPECT_TRUE(ended.empty());
    rig.loop.advance(0.29);
    EXPECT_TRUE(ended.empty());
    rig.loop.advance(0.02);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_NEAR(ended[0], 1.9, 0.02);
}

// ---- the slide gate ----

class SlideGateTest : public ::testing::Test {
protected:
    SlideGateTest() {
        rig.sampler->stopPollTimer();
        rig.sampler->onSlideGateChanged = [this] { ++changes; };
    }
    WindowScanResult scan(int considered, int offscreen, bool hadPrevious = true, int moves = 0) {
        WindowScanResult r;
        r.consideredWindowCount = considered;
        r.offscreenWindowCount = offscreen;
        r.hadPreviousPositions = hadPrevious;
        r.maxSlideMoves = moves;
        r.windowPositions = {{7, double(considered)}};
        return r;
    }
    SamplerRig rig;
    int changes = 0;
};

TEST_F(SlideGateTest, OpensOnAFirstSightingOrOnMovesAndStaysOpenWhileMostWindowsAreOff) {
    auto& s = *rig.sampler;
    updateSlideGate(s, scan(4, 2, false));
    EXPECT_TRUE(s.isSlideGateOpen);
    EXPECT_EQ(changes, 1);
    updateSlideGate(s, scan(4, 3, true, 0));
    EXPECT_TRUE(s.isSlideGateOpen) << "an open gate stays open without moves";
    const auto generation = s.slideGateGeneration;
    updateSlideGate(s, scan(4, 1));
    EXPECT_FALSE(s.isSlideGateOpen);
    EXPECT_EQ(s.slideGateGeneration, generation + 1);
    EXPECT_TRUE(s.slideGateCloseNotifyPending) << "announced at the end of the refresh";
    EXPECT_EQ(s.slidePrevMinX, (std::map<std::int64_t, double>{{7, 4.0}}));

    s.slideGateCloseNotifyPending = false;
    updateSlideGate(s, scan(4, 3, true, 1));
    EXPECT_FALSE(s.isSlideGateOpen) << "a closed gate needs two moves to reopen";
    updateSlideGate(s, scan(4, 3, true, 2));
    EXPECT_TRUE(s.isSlideGateOpen);
}

TEST_F(SlideGateTest, SeveralScreensLeaveItAloneAndNoWindowsOrOneOffscreenClose) {
    auto& s = *rig.sampler;
    updateSlideGate(s, scan(2, 2, false));
    ASSERT_TRUE(s.isSlideGateOpen);
    updateSlideGate(s, scan(-1, 5));
    EXPECT_TRUE(s.isSlideGateOpen);
    EXPECT_EQ(s.slidePrevMinX, (std::map<std::int64_t, double>{{7, -1.0}}));
    updateSlideGate(s, scan(0, 0));
    EXPECT_FALSE(s.isSlideGateOpen);
    updateSlideGate(s, scan(2, 2, false));
    updateSlideGate(s, scan(1, 1, false));
    EXPECT_FALSE(s.isSlideGateOpen);
}

TEST_F(SlideGateTest, ADistrustedSignatureDoesNotReopenUntilAClose) {
    auto& s = *rig.sampler;
    s.slideSignatureDistrusted = true;
    updateSlideGate(s, scan(4, 4, false));
    EXPECT_FALSE(s.isSlideGateOpen);
    EXPECT_EQ(changes, 0);
    updateSlideGate(s, scan(4, 0));
    EXPECT_FALSE(s.slideSignatureDistrusted);
    EXPECT_FALSE(s.slideGateCloseNotifyPending) << "closing a closed gate announces nothing";
    updateSlideGate(s, scan(4, 4, false));
    EXPECT_TRUE(s.isSlideGateOpen);
}

// ---- the seam ----

class SeamTest : public ::testing::Test {
protected:
    SeamTest() { rig.sampler->stopPollTimer(); }
    void step(bool surface) {
        rig.sampler->glassSurfaceOverTopStrip = surface;
        updateSeam(*rig.sampler, rig.defaults);
    }
    bool hidden() const { return rig.sampler->seamSuppressed(); }
    SamplerRig rig;
};

TEST_F(SeamTest, ASurfaceHidesItAtOnceAndItReturnsFourTenthsAfterTheLastSighting) {
    rig.defaults.seed(kSeamAutoHideKey, PlistValue(true));
    step(true);
    EXPECT_TRUE(hidden());
    step(false);
    rig.loop.advance(0.3);
    step(true);  // a new surface within the 0.4 s cancels the release
    step(false);
    rig.loop.advance(0.39);
    EXPECT_TRUE(hidden());
    step(false);  // later refreshes without a surface do not push the release back
    rig.loop.advance(0.01);
    EXPECT_FALSE(hidden());
    EXPECT_FALSE(rig.sampler->seamReleaseTimer.isActive());
    step(true);
    EXPECT_TRUE(hidden()) << "hides again after a release";
}

TEST_F(SeamTest, OnlyAStoredTrueTurnsTheHidingOnAndTurningItOffShowsTheSeamAtOnce) {
    rig.defaults.seed(kSeamAutoHideKey, PlistValue(1));
    step(true);
    EXPECT_FALSE(hidden());
    rig.defaults.seed(kSeamAutoHideKey, PlistValue(true));
    step(true);
    step(false);
    ASSERT_TRUE(rig.sampler->seamReleaseTimer.isActive());
    rig.defaults.seed(kSeamAutoHideKey, PlistValue(false));
    step(true);
    EXPECT_FALSE(hidden());
    EXPECT_FALSE(rig.sampler->seamReleaseTimer.isActive());
}

}  // namespace
}  // namespace velaro::test
