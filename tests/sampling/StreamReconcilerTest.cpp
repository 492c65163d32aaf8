// The reconcile's decisions on their own: which screens get a context and which one feeds the primary
// values, when capture is wanted, when a stream starts, is retried, kept or let go after the idle grace.
#include <gtest/gtest.h>

#include "sampling/StreamReconciler.h"
#include "support/AllocationCounter.h"
#include "support/FakeScreens.h"

namespace velaro::test {
namespace {

ScreenInfo screen(const std::string& id, std::uint32_t number) {
    return FakeScreens::make(id, Rect{0, 0, 1512, 982}, 24, number);
}

std::vector<ScreenID> ids(const std::vector<ScreenInfo>& screens) {
    std::vector<ScreenID> out;
    for (const auto& s : screens) out.push_back(s.id);
    return out;
}

// Enabled and demanded, with a window filling the top at 100 s.
CaptureWish filled() {
    CaptureWish wish;
    wish.enabled = true;
    wish.filledWindowActive = true;
    wish.lastFilledActivity = 100;
    wish.now = 100;
    return wish;
}

StreamFacts idleWithGeometry(double lastStartAttempt) {
    return StreamFacts{false, false, true, lastStartAttempt};
}

// The sampler asks these on every 0.5 s check, once per screen: for a streaming sampler of two screens and
// for one whose streams wait for their retry.
TEST(StreamReconciler, TheChecksOfEveryTickAllocateNothing) {
    if (!canCountAllocations()) GTEST_SKIP() << "allocations are counted in sanitizer builds";
    StreamReconciler r;
    r.arrange({screen("A", 1), screen("B", 2)}, ScreenID("A"));
    const std::set<ScreenID> stopped;
    const StreamFacts streaming{true, false, true, 90};
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int i = 0; i < 10; ++i) {
            const CaptureWish wish = filled();
            EXPECT_TRUE(StreamReconciler::shouldCapture(wish));
            for (const ScreenID id : {"A", "B"}) {
                EXPECT_FALSE(r.retryDue(id, streaming, wish, stopped));
                EXPECT_TRUE(r.retryDue(id, idleWithGeometry(90), wish, stopped));
            }
        }
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
}

TEST(StreamReconciler, TheMainScreenOpensFirstAndFeedsAndAGoneFeederHandsTheRoleOn) {
    StreamReconciler r;
    auto first = r.arrange({screen("B", 2), screen("A", 1), screen("C", 3)}, ScreenID("A"));
    EXPECT_EQ(ids(first.opened), (std::vector<ScreenID>{"A", "B", "C"}));
    EXPECT_TRUE(first.closed.empty());
    EXPECT_EQ(first.feeder, ScreenID("A"));
    EXPECT_TRUE(first.feederChanged);

    // The same screens again: nothing opens or closes, and the feeder publishes as it did.
    const auto again = r.arrange({screen("B", 2), screen("A", 1), screen("C", 3)}, ScreenID("A"));
    EXPECT_TRUE(again.opened.empty());
    EXPECT_TRUE(again.closed.empty());
    EXPECT_FALSE(again.feederChanged);

    // The main screen is unplugged: the first listed screen feeds now, and must publish its next frame.
    const auto unplugged = r.arrange({screen("C", 3), screen("B", 2)}, ScreenID("C"));
    EXPECT_EQ(unplugged.closed, (std::vector<ScreenID>{"A"}));
    EXPECT_EQ(unplugged.feeder, ScreenID("C"));
    EXPECT_TRUE(unplugged.feederChanged);
    EXPECT_EQ(r.screens(), (std::set<ScreenID>{"B", "C"}));

    // A primary monitor without a bar gets no context: the first listed screen feeds.
    StreamReconciler barless;
    const auto noBar = barless.arrange({screen("B", 2)}, ScreenID("A"));
    EXPECT_EQ(ids(noBar.opened), (std::vector<ScreenID>{"B"}));
    EXPECT_EQ(noBar.feeder, ScreenID("B"));

    // No screen shows a bar: every context closes and nobody feeds.
    const auto none = r.arrange({}, ScreenID("C"));
    EXPECT_EQ(none.closed, (std::vector<ScreenID>{"B", "C"}));
    EXPECT_FALSE(none.feeder);
    EXPECT_FALSE(none.feederChanged);
}

TEST(StreamReconciler, CaptureIsWantedOnlySwitchedOnAwakeDemandedEnabledAndWithinTheFillsGrace) {
    EXPECT_TRUE(StreamReconciler::shouldCapture(filled()));
    const std::vector<std::pair<const char*, void (*)(CaptureWish&)>> offs = {
        {"master off", [](CaptureWish& w) { w.masterEnabled = false; }},
        {"screens asleep", [](CaptureWish& w) { w.screensAsleep = true; }},
        {"no feature asks", [](CaptureWish& w) { w.captureDemand = false; }},
        {"the first activation has not come", [](CaptureWish& w) { w.enabled = false; }},
    };
    for (const auto& [name, change] : offs) {
        SCOPED_TRACE(name);
        auto wish = filled();
        change(wish);
        EXPECT_FALSE(StreamReconciler::shouldCapture(wish));
        EXPECT_FALSE(StreamReconciler::idleTeardownDelay(wish));
    }

    // Nothing ever filled the top.
    CaptureWish never;
    never.enabled = true;
    EXPECT_FALSE(StreamReconciler::shouldCapture(never));

    // A pending fill captures at once; after the last fill, capture is wanted for just under a minute and
    // only that grace arms the teardown.
    auto wish = filled();
    EXPECT_FALSE(StreamReconciler::idleTeardownDelay(wish));
    wish.filledWindowActive = false;
    wish.fillPending = true;
    wish.now = 500;
    EXPECT_TRUE(StreamReconciler::shouldCapture(wish));
    EXPECT_FALSE(StreamReconciler::idleTeardownDelay(wish));
    wish.fillPending = false;
    wish.now = 159.9;
    EXPECT_TRUE(StreamReconciler::shouldCapture(wish));
    EXPECT_EQ(StreamReconciler::idleTeardownDelay(wish), 60.0);
    wish.now = 160;
    EXPECT_FALSE(StreamReconciler::shouldCapture(wish));
    EXPECT_FALSE(StreamReconciler::idleTeardownDelay(wish));
}

TEST(StreamReconciler, ACaptureStopOnTheFeedingScreenStopsEveryScreen) {
    StreamReconciler r;
    r.arrange({screen("A", 1), screen("B", 2)}, ScreenID("A"));
    EXPECT_TRUE(r.wantsCapture("A", filled(), {}));
    EXPECT_FALSE(r.wantsCapture("C", filled(), {})) << "a screen without a context";

    EXPECT_TRUE(r.wantsCapture("A", filled(), {"B"}));
    EXPECT_FALSE(r.wantsCapture("B", filled(), {"B"}));
    EXPECT_FALSE(r.wantsCapture("A", filled(), {"A"}));
    EXPECT_FALSE(r.wantsCapture("B", filled(), {"A"}));
}

TEST(StreamReconciler, AStartWaitsForGeometryAFailedOneForTheThrottleAndAStaleOneIsNotKept) {
    StreamReconciler r;
    r.arrange({screen("A", 1)}, ScreenID("A"));
    const auto wish = filled();
    using Start = StreamReconciler::Start;
    EXPECT_EQ(r.startFor("A", StreamFacts{}, wish, {}), Start::waitForGeometry);
    EXPECT_EQ(r.startFor("A", idleWithGeometry(-1), wish, {}), Start::go);
    EXPECT_EQ(r.startFor("A", StreamFacts{false, true, true, 0}, wish, {}), Start::no);

    // The last attempt began at 98.5 s: exactly 1.5 s later is not enough.
    EXPECT_FALSE(r.retryDue("A", idleWithGeometry(98.5), wish, {}));
    EXPECT_TRUE(r.retryDue("A", idleWithGeometry(98.49), wish, {}));
    // Without geometry the throttle waits for it; a running or starting stream needs no retry.
    EXPECT_FALSE(r.retryDue("A", StreamFacts{false, false, false, 0}, wish, {}));
    EXPECT_FALSE(r.retryDue("A", StreamFacts{true, false, true, 0}, wish, {}));
    EXPECT_FALSE(r.retryDue("A", StreamFacts{false, true, true, 0}, wish, {}));
    EXPECT_FALSE(r.retryDue("A", idleWithGeometry(0), wish, {"A"}));

    // A finished start is kept only while it is current (not replaced, retired or under older settings).
    EXPECT_TRUE(r.keepsStart("A", true, wish, {}));
    EXPECT_FALSE(r.keepsStart("A", false, wish, {}));
    EXPECT_FALSE(r.keepsStart("A", true, wish, {"A"}));
}

}  // namespace
}  // namespace velaro::test
