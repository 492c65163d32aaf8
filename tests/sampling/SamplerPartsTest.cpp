// The parts of the sampler's refresh on their own: the menu poll's takeover, notices and hand-back; the
// slide gate's decisions, timeout and distrust; the seam's hiding and release.
#include "sampling/SamplerParts.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "sampling/WindowListScans.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

// ---- the menu poll ----

class MenuPollTest : public ::testing::Test {
protected:
    // One refresh's poll at `now`; every notice is recorded at the uptime it is due.
    void tick(double now, bool open, bool streaming = false) {
        poll.track(streaming, open, now, [&](double delay) { ended.push_back(now + delay); });
    }
    MenuPoll poll;
    std::vector<double> ended;
};

TEST_F(MenuPollTest, AForeignMenuClosedIsReportedAtTheFirstTickAtLeastFourTenthsLater) {
    tick(1.0, false);  // takes the watch over
    tick(1.2, true);
    tick(1.7, false);  // seen closed
    EXPECT_TRUE(ended.empty());
    tick(2.0, false);
    EXPECT_TRUE(ended.empty());
    tick(2.1, false);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_NEAR(ended[0], 2.1, 1e-9);
    tick(2.6, false);
    EXPECT_EQ(ended.size(), 1u) << "a menu seen once means no extra resync";
}

TEST_F(MenuPollTest, WithNoMenuTheOverlayIsToldOnceHalfASecondAfterTheTakeoverEvenAtUptimeZero) {
    tick(0, false);
    EXPECT_TRUE(poll.owned());
    tick(0.49, false);
    EXPECT_TRUE(ended.empty());
    tick(0.51, false);
    EXPECT_EQ(ended.size(), 1u);
    for (double t = 1.01; t < 3; t += 0.5) tick(t, false);
    EXPECT_EQ(ended.size(), 1u);
}

TEST_F(MenuPollTest, AStreamStartingHandsTheWatchBackAndFlushesThePendingNotice) {
    tick(1.0, true);   // takes over with the menu open
    tick(1.5, false);  // closed: notice due at 1.9
    tick(1.6, false, true);
    EXPECT_FALSE(poll.owned());
    ASSERT_EQ(ended.size(), 1u) << "handed over with the rest of its wait";
    EXPECT_NEAR(ended[0], 1.9, 1e-9);
    tick(1.7, false, true);
    EXPECT_EQ(ended.size(), 1u);
}

TEST_F(MenuPollTest, AReleasedPollTakesTheWatchOverAfresh) {
    tick(1.0, false);
    poll.release();
    EXPECT_FALSE(poll.owned());
    tick(5.0, false);
    EXPECT_TRUE(poll.owned());
    tick(5.4, false);
    EXPECT_TRUE(ended.empty()) << "the half second counts from the new takeover";
}

// ---- the slide gate ----

class SlideGateTest : public ::testing::Test {
protected:
    static WindowScanResult scan(int considered, int offscreen, bool hadPrevious = true, int moves = 0) {
        WindowScanResult r;
        r.consideredWindowCount = considered;
        r.offscreenWindowCount = offscreen;
        r.hadPreviousPositions = hadPrevious;
        r.maxSlideMoves = moves;
        r.windowPositions = {{7, double(considered)}};
        return r;
    }
    VirtualLoop loop;
    int changes = 0;
    int republished = 0;
    SlideGate gate{loop, [this] { ++changes; }, [this] { ++republished; }};
};

TEST_F(SlideGateTest, OpensOnAFirstSightingOrOnMovesAndStaysOpenWhileMostWindowsAreOff) {
    gate.update(scan(4, 2, false));
    EXPECT_TRUE(gate.isOpen());
    EXPECT_EQ(changes, 1);
    gate.update(scan(4, 3, true, 0));
    EXPECT_TRUE(gate.isOpen()) << "an open gate stays open without moves";
    const auto generation = gate.generation();
    gate.update(scan(4, 1));
    EXPECT_FALSE(gate.isOpen());
    EXPECT_EQ(gate.generation(), generation + 1);
    EXPECT_EQ(changes, 1) << "a close is announced at the end of the refresh";
    EXPECT_TRUE(gate.takePendingClose());
    EXPECT_FALSE(gate.takePendingClose());
    EXPECT_EQ(gate.previousPositions(), (WindowPositions{{7, 4.0}}));

    gate.update(scan(4, 3, true, 1));
    EXPECT_FALSE(gate.isOpen()) << "a closed gate needs two moves to reopen";
    gate.update(scan(4, 3, true, 2));
    EXPECT_TRUE(gate.isOpen());
}

TEST_F(SlideGateTest, SeveralScreensLeaveItAloneAndNoWindowsOrOneOffscreenClose) {
    gate.update(scan(2, 2, false));
    ASSERT_TRUE(gate.isOpen());
    gate.update(scan(-1, 5));
    EXPECT_TRUE(gate.isOpen());
    EXPECT_EQ(gate.previousPositions(), (WindowPositions{{7, -1.0}}));
    gate.update(scan(0, 0));
    EXPECT_FALSE(gate.isOpen());
    gate.update(scan(2, 2, false));
    gate.update(scan(1, 1, false));
    EXPECT_FALSE(gate.isOpen());
}

TEST_F(SlideGateTest, OpensOnceClosesByItselfAfterTwoSecondsAndThenDistrustsTheSignatureUntilAClose) {
    gate.open();
    loop.advance(1.0);
    gate.open();  // does not extend it
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(gate.isOpen());
    loop.advance(1.0);
    EXPECT_FALSE(gate.isOpen());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(republished, 1) << "the colours of the slide are replaced at once";

    gate.update(scan(4, 4, false));
    EXPECT_FALSE(gate.isOpen()) << "the same signature does not reopen it";
    gate.update(scan(4, 0));
    EXPECT_FALSE(gate.takePendingClose()) << "closing a closed gate announces nothing";
    gate.update(scan(4, 4, false));
    EXPECT_TRUE(gate.isOpen()) << "a scan without the slide trusts the signature again";
}

TEST_F(SlideGateTest, ATimeoutOfAGateClosedMeanwhileDoesNothing) {
    gate.open();
    loop.advance(1.0);
    gate.update(scan(4, 0));  // the refresh closes it early
    gate.open();
    loop.advance(1.5);  // the first opening's timeout comes due
    EXPECT_TRUE(gate.isOpen());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(republished, 0);
}

// ---- the seam ----

constexpr const char* kSeamAutoHideKey = "seamAutoHide";

class SeamTest : public ::testing::Test {
protected:
    bool hidden() const { return suppressed(); }
    VirtualLoop loop;
    FakeDefaultsStore defaults;
    Published<bool> suppressed{false};
    SeamHider seam{loop, suppressed};
};

TEST_F(SeamTest, ASurfaceHidesItAtOnceAndItReturnsFourTenthsAfterTheLastSighting) {
    defaults.seed(kSeamAutoHideKey, PlistValue(true));
    seam.update(true, defaults);
    EXPECT_TRUE(hidden());
    seam.update(false, defaults);
    loop.advance(0.3);
    seam.update(true, defaults);  // a new surface within the 0.4 s cancels the release
    seam.update(false, defaults);
    loop.advance(0.39);
    EXPECT_TRUE(hidden());
    seam.update(false, defaults);  // later refreshes without a surface do not push the release back
    loop.advance(0.01);
    EXPECT_FALSE(hidden());
    EXPECT_FALSE(seam.releasePending());
    seam.update(true, defaults);
    EXPECT_TRUE(hidden()) << "hides again after a release";
}

TEST_F(SeamTest, OnlyAStoredTrueTurnsTheHidingOnAndTurningItOffShowsTheSeamAtOnce) {
    defaults.seed(kSeamAutoHideKey, PlistValue(1));
    seam.update(true, defaults);
    EXPECT_FALSE(hidden());
    defaults.seed(kSeamAutoHideKey, PlistValue(true));
    seam.update(true, defaults);
    seam.update(false, defaults);
    ASSERT_TRUE(seam.releasePending());
    defaults.seed(kSeamAutoHideKey, PlistValue(false));
    seam.update(true, defaults);
    EXPECT_FALSE(hidden());
    EXPECT_FALSE(seam.releasePending());
    // The setting is kept between checks: one turned on by another program still counts at the next one.
    defaults.changeOutside(kSeamAutoHideKey, PlistValue(true));
    seam.update(true, defaults);
    EXPECT_TRUE(hidden());
}

// ---- the freezes ----

TEST(SamplingFreezes, FrozenWhileAnyReasonHoldsAndPushedOnlyOnAChange) {
    Published<bool> frozen{false};
    std::vector<bool> pushed;
    SamplingFreezes freezes(frozen, [&](bool f) { pushed.push_back(f); });
    freezes.set(true, "overview");
    freezes.set(true, "menu");
    freezes.set(false, "overview");
    EXPECT_TRUE(frozen());
    freezes.set(false, "menu");
    EXPECT_FALSE(frozen());
    EXPECT_EQ(pushed, (std::vector<bool>{true, false}));

    freezes.set(true, "overview");
    freezes.clearAll();
    EXPECT_FALSE(frozen());
    EXPECT_EQ(pushed.size(), 3u) << "a cleared freeze is let go by the analyses themselves";
    // The cleared reason is gone: another reason held and let go leaves nothing frozen.
    freezes.set(true, "menu");
    freezes.set(false, "menu");
    EXPECT_FALSE(frozen());
}

}  // namespace
}  // namespace velaro::test
