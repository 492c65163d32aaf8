// The frame gate: incomplete frames, freezes and their watchdog, another app's menu, and the hover guard.
#include <gtest/gtest.h>

#include <limits>

#include "FrameOutputTestFrames.h"

namespace velaro::test {
namespace {

class FrameOutputGate : public ::testing::Test {
protected:
    void SetUp() override { h.configure(plainLine()); }

    // Each frame a new colour, so nothing is dropped as a duplicate or as within tolerance.
    bool feedCounts() {
        const auto before = h.updates.size();
        shade = static_cast<std::uint8_t>(shade + 20);
        h.feed(solidFrame(200, 2, {shade, 0, 0}));
        return h.updates.size() > before;
    }

    FrameOutputHarness h;
    std::uint8_t shade = 0;
};

TEST_F(FrameOutputGate, IncompleteFramesAndFramesWithoutConfigurationAreIgnored) {
    auto frame = solidFrame(200, 2, {1, 2, 3});
    frame.complete = false;
    h.feed(frame);
    EXPECT_TRUE(h.updates.empty());
    EXPECT_TRUE(h.lines.empty());

    FrameOutputHarness unconfigured;
    unconfigured.pointer.moveToTopLeft({10, 10});
    unconfigured.feed(solidFrame(200, 2, {1, 2, 3}));
    EXPECT_TRUE(unconfigured.updates.empty());
    EXPECT_TRUE(unconfigured.lines.empty());
    EXPECT_TRUE(unconfigured.edges.empty());
    EXPECT_TRUE(unconfigured.beams.empty());
}

TEST_F(FrameOutputGate, MalformedFramesAreIgnoredWithoutReadingPastTheirPixels) {
    auto frame = solidFrame(200, 4, {1, 2, 3});
    frame.bytesPerRow = 200 * 4 - 4;  // stride shorter than a row
    h.feed(frame);
    frame = solidFrame(200, 4, {1, 2, 3});
    frame.height = 50;  // more rows than the buffer holds
    h.feed(frame);
    frame.pixels.reset();
    h.feed(frame);
    EXPECT_TRUE(h.updates.empty());
    EXPECT_TRUE(feedCounts());
}

TEST_F(FrameOutputGate, NonsensicalConfigurationsPublishWhatTheyCanWithoutCrashing) {
    auto config = beamLine();
    config.scale = std::numeric_limits<double>::quiet_NaN();
    config.edgeInsetPixels = -5;
    config.lineRowY = -3;
    config.lightRowY = 1 << 30;
    config.lightBandHeightPx = std::numeric_limits<int>::max();
    UnifiedBlur blur;
    blur.overlayHeightPixels = std::numeric_limits<int>::max();
    blur.leftRadiusPixels = -7;
    blur.rightRadiusPixels = std::numeric_limits<int>::max();
    config.unifiedBlur = blur;
    h.configure(config);
    h.output->setCachedPointer({1e300, 50});
    h.run([](FrameOutput& o) { o.applySettings({1e12, false, true, false, false}); });
    EXPECT_TRUE(feedCounts());
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.beams.back().color, Color::clear());  // no scale: no beam sample

    h.run([](FrameOutput& o) {
        o.applySettings({std::numeric_limits<double>::infinity(), false, true, false, false});
    });
    EXPECT_TRUE(feedCounts());
    EXPECT_TRUE(feedCounts());
}

TEST_F(FrameOutputGate, ExternalFreezeHoldsFramesAndItsEndAnalysesTheSameRowAgain) {
    const auto frame = solidFrame(200, 2, {9, 9, 9});
    h.feed(frame);
    ASSERT_EQ(h.lines.size(), 1u);
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    EXPECT_FALSE(feedCounts());
    EXPECT_TRUE(h.output->isExternallyFrozen());
    h.run([](FrameOutput& o) { o.unfreeze(); });
    h.feed(frame);
    EXPECT_EQ(h.lines.size(), 2u);  // the dedup key was dropped when the freeze ended
}

TEST_F(FrameOutputGate, WatchdogBreaksAnUnexplainedFreezeAfterTenSeconds) {
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    EXPECT_FALSE(feedCounts());  // stamps the start of the freeze
    h.loop.advance(10.0);
    EXPECT_FALSE(feedCounts());  // exactly 10 s: the freeze stands
    EXPECT_EQ(h.forceUnfreezes, 0);
    h.loop.advance(0.01);
    EXPECT_TRUE(feedCounts());  // broken, and this very frame goes on
    EXPECT_EQ(h.forceUnfreezes, 1);
    EXPECT_FALSE(h.output->isExternallyFrozen());
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.forceUnfreezes, 1);
}

TEST_F(FrameOutputGate, WatchdogKeepsAFreezeThatOverviewExplains) {
    h.run([](FrameOutput& o) { o.applySettings({12.0, false, true, /*overview*/ true, /*frozen*/ true}); });
    EXPECT_FALSE(feedCounts());
    h.loop.advance(10.5);
    EXPECT_FALSE(feedCounts());  // restamped
    EXPECT_EQ(h.forceUnfreezes, 0);
    h.run([](FrameOutput& o) { o.setOverviewActive(false); });
    h.loop.advance(5);
    EXPECT_FALSE(feedCounts());  // only 5 s since the restamp
    h.loop.advance(5.5);
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.forceUnfreezes, 1);
}

TEST_F(FrameOutputGate, WatchdogKeepsAFreezeWhileAForeignMenuIsOpen) {
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    EXPECT_FALSE(feedCounts());
    h.foreignMenuOpen = true;
    h.loop.advance(11);
    EXPECT_FALSE(feedCounts());
    EXPECT_EQ(h.forceUnfreezes, 0);
    EXPECT_EQ(h.foreignMenuScans, 1);
}

TEST_F(FrameOutputGate, ForeignMenuIsScannedEveryTenthFrameAndFramesResumeAfterItCloses) {
    h.foreignMenuOpen = true;
    for (int i = 0; i < 9; ++i) EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.foreignMenuScans, 0);
    EXPECT_FALSE(feedCounts());  // 10th frame: scanned, open
    EXPECT_EQ(h.foreignMenuScans, 1);
    // The open menu is remembered: the next nine frames wait without a scan of their own.
    for (int i = 0; i < 9; ++i) EXPECT_FALSE(feedCounts());
    EXPECT_EQ(h.foreignMenuScans, 1);

    h.foreignMenuOpen = false;
    EXPECT_FALSE(feedCounts());  // 20th frame: scanned, closed; the bar still fades for 0.4 s
    EXPECT_EQ(h.foreignMenuScans, 2);
    h.loop.advance(0.39);
    EXPECT_FALSE(feedCounts());
    EXPECT_EQ(h.activityEnded, 0);
    h.loop.advance(0.01);
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.activityEnded, 1);
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.activityEnded, 1);

    // Much later, another menu: its close makes frames wait the same 0.4 s again.
    h.loop.advance(60);
    h.foreignMenuOpen = true;
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(feedCounts());
    EXPECT_FALSE(feedCounts());  // 30th frame: scanned, open
    h.foreignMenuOpen = false;
    for (int i = 0; i < 9; ++i) EXPECT_FALSE(feedCounts());
    EXPECT_FALSE(feedCounts());  // 40th frame: scanned, closed
    h.loop.advance(0.39);
    EXPECT_FALSE(feedCounts());
    h.loop.advance(0.01);
    EXPECT_TRUE(feedCounts());
    EXPECT_EQ(h.activityEnded, 2);
}

TEST_F(FrameOutputGate, HoverGuardStopsAtOnceAndResumesQuarterSecondAfterTheLeave) {
    // The bar of the primary screen: 0…1000 × 0…24, top-left points.
    h.run([](FrameOutput& o) { o.setGuardZones({Rect(0, 0, 1000, 24)}); });
    EXPECT_TRUE(feedCounts());

    h.pointer.moveToTopLeft({500, 10});
    EXPECT_FALSE(feedCounts());

    // Just under the bar, but within the 6 pt the exit zone reaches further: still inside, however long
    // the pointer rests there.
    h.loop.advance(0.5);
    h.pointer.moveToTopLeft({500, 28});
    EXPECT_FALSE(feedCounts());
    h.loop.advance(0.3);
    EXPECT_FALSE(feedCounts());

    // Out: the leave is taken, then 0.25 s of settling.
    h.pointer.moveToTopLeft({500, 31});
    EXPECT_FALSE(feedCounts());
    h.loop.advance(0.24);
    EXPECT_FALSE(feedCounts());
    h.loop.advance(0.01);
    EXPECT_TRUE(feedCounts());
}

TEST_F(FrameOutputGate, HoverGuardFlipsNoSoonerThanFifteenHundredthsAfterTheLastFlip) {
    h.run([](FrameOutput& o) { o.setGuardZones({Rect(0, 0, 1000, 24)}); });
    h.pointer.moveToTopLeft({500, 10});
    EXPECT_FALSE(feedCounts());  // entered at t = 0

    // Left again at once: the leave is held back until 0.15 s after the entry, and settles from there.
    h.pointer.moveToTopLeft({500, 300});
    h.loop.advance(0.15);
    EXPECT_FALSE(feedCounts());  // still inside
    h.loop.advance(0.01);
    EXPECT_FALSE(feedCounts());  // leave taken at 0.16, settling
    h.loop.advance(0.245);
    EXPECT_FALSE(feedCounts()) << "settling from 0.16, not from 0.15";
    h.loop.advance(0.01);
    EXPECT_TRUE(feedCounts());

    // In at 0.415 and out again: the leave is taken at 0.575.
    h.pointer.moveToTopLeft({500, 10});
    EXPECT_FALSE(feedCounts());
    h.pointer.moveToTopLeft({500, 300});
    h.loop.advance(0.16);
    EXPECT_FALSE(feedCounts());

    // Straight back in: ignored at once, but the flip to "inside" waits for 0.15 s too.
    h.pointer.moveToTopLeft({500, 10});
    h.loop.advance(0.1);
    EXPECT_FALSE(feedCounts());  // 0.675: not inside yet
    h.loop.advance(0.1);
    EXPECT_FALSE(feedCounts());  // 0.775: inside
    // Out again: held while inside until 0.15 s after that flip, then settling from the leave.
    h.pointer.moveToTopLeft({500, 300});
    h.loop.advance(0.1);
    EXPECT_FALSE(feedCounts());  // 0.875: still inside
    h.loop.advance(0.06);
    EXPECT_FALSE(feedCounts());  // 0.935: leave taken
    h.loop.advance(0.2);
    EXPECT_FALSE(feedCounts()) << "settling from 0.935: the flip inside came at 0.775, not at 0.675";
    h.loop.advance(0.06);
    EXPECT_TRUE(feedCounts());
}

// The pause holds the band as it is. A scene a colour is asked for at once (a new stream, a window that just
// came to fill the top) is another, and its first second goes through with the pointer resting on the bar,
// since its first frame may show it half drawn; the frames after that second wait for the pointer again.
TEST_F(FrameOutputGate, HoverGuardLetsTheFirstSecondOfANewSceneThroughAndHoldsTheFramesAfterIt) {
    for (const bool alreadyInside : {true, false}) {
        SCOPED_TRACE(alreadyInside ? "zones set while the pointer rests on the bar" : "the pointer came in");
        FrameOutputHarness harness;
        harness.configure(plainLine());
        const auto counts = [&](std::uint8_t red) {
            const auto before = harness.updates.size();
            harness.feed(solidFrame(200, 2, {red, 0, 0}));
            return harness.updates.size() > before;
        };
        if (alreadyInside) harness.pointer.moveToTopLeft({500, 10});
        harness.run([](FrameOutput& o) { o.setGuardZones({Rect(0, 0, 1000, 24)}); });
        harness.pointer.moveToTopLeft({500, 10});
        EXPECT_FALSE(counts(20));
        harness.loop.advance(1);
        EXPECT_FALSE(counts(40));

        harness.run([](FrameOutput& o) { o.forcePublish(); });
        EXPECT_TRUE(counts(40)) << "the pause held back a colour asked for at once";
        harness.loop.advance(0.95);
        EXPECT_TRUE(counts(60)) << "the pause held back the new scene as it settled";
        harness.loop.advance(0.1);
        EXPECT_FALSE(counts(80)) << "the pause let a change in past the new scene's first second";
        harness.loop.advance(5);
        EXPECT_FALSE(counts(100));
        // Asked for again with the row the band shows: it goes out again, and another second passes.
        harness.run([](FrameOutput& o) { o.forcePublish(); });
        EXPECT_TRUE(counts(60));
        EXPECT_TRUE(counts(120));
        harness.loop.advance(1.05);
        EXPECT_FALSE(counts(140));

        harness.pointer.moveToTopLeft({500, 300});
        harness.loop.advance(0.16);
        EXPECT_FALSE(counts(160));  // the leave, then 0.25 s of settling as before
        harness.loop.advance(0.25);
        EXPECT_TRUE(counts(180));
    }
}

TEST_F(FrameOutputGate, HoverGuardOffLetsFramesThroughAndGuardZonesSetWhileInsideStartInside) {
    h.pointer.moveToTopLeft({500, 10});
    h.run([](FrameOutput& o) {
        o.setHoverGuardEnabled(false);
        o.setGuardZones({Rect(0, 0, 1000, 24)});
    });
    EXPECT_TRUE(feedCounts());
    // Zones set with the guard off do not count the pointer inside: turned on, the guard takes the entry
    // at the next frame, and the leave waits 0.15 s from there before it settles.
    h.run([](FrameOutput& o) { o.setHoverGuardEnabled(true); });
    EXPECT_FALSE(feedCounts());  // entered at t = 0
    h.pointer.moveToTopLeft({500, 300});
    h.loop.advance(0.1);
    EXPECT_FALSE(feedCounts());  // still inside
    h.loop.advance(0.2);
    EXPECT_FALSE(feedCounts());  // leave taken at 0.3
    h.loop.advance(0.07);
    EXPECT_FALSE(feedCounts()) << "settling from 0.3, not from 0.1";
    h.loop.advance(0.19);
    EXPECT_TRUE(feedCounts());

    // Zones set with the guard on while the pointer rests in the bar start inside: the leave needs no
    // entry first, and settles from the move out.
    h.pointer.moveToTopLeft({500, 10});
    h.run([](FrameOutput& o) {
        o.setHoverGuardEnabled(true);
        o.setGuardZones({Rect(0, 0, 1000, 24)});
    });
    EXPECT_FALSE(feedCounts());  // 0.56
    h.pointer.moveToTopLeft({500, 300});
    h.loop.advance(0.05);
    EXPECT_FALSE(feedCounts());  // 0.61: leave taken
    h.loop.advance(0.26);
    EXPECT_TRUE(feedCounts());

    // An unreadable pointer is never inside.
    h.pointer.moveToTopLeft({500, 10});
    EXPECT_FALSE(feedCounts());
    h.pointer.forget();
    h.loop.advance(1);
    EXPECT_FALSE(feedCounts());  // the leave itself
    h.loop.advance(0.3);
    EXPECT_TRUE(feedCounts());
}

}  // namespace
}  // namespace velaro::test

namespace velaro::test {
namespace {

// Every read of the pointer is a round trip to the server on the frame queue: at most one a frame, and none
// when the guard has nothing to guard.
TEST_F(FrameOutputGate, ThePointerIsReadAtMostOnceAFrameAndOnlyWhenTheGuardNeedsIt) {
    struct Case {
        const char* what;
        bool guard;
        std::vector<Rect> zones;
        Point pointer;  // top-left points
        int maxReadsPerFrame;
    };
    const std::vector<Case> cases = {
        {"guard off", false, {Rect(0, 0, 1000, 24)}, {500, 10}, 0},
        {"no zones", true, {}, {500, 10}, 0},
        {"outside the bar", true, {Rect(0, 0, 1000, 24)}, {500, 300}, 1},
        {"inside the bar", true, {Rect(0, 0, 1000, 24)}, {500, 10}, 1},
        {"in the exit margin", true, {Rect(0, 0, 1000, 24)}, {500, 28}, 1},
    };
    for (const auto& c : cases) {
        FrameOutputHarness harness;
        harness.configure(plainLine());
        harness.pointer.moveToTopLeft(c.pointer);
        harness.run([&c](FrameOutput& o) {
            o.setHoverGuardEnabled(c.guard);
            o.setGuardZones(c.zones);
        });
        constexpr int kFrames = 20;
        const int before = harness.pointer.reads;
        for (int i = 0; i < kFrames; ++i) {
            harness.loop.advance(0.05);  // past flips and settling, so each frame takes the whole gate
            harness.feed(solidFrame(200, 2, {static_cast<std::uint8_t>(i * 10), 0, 0}));
        }
        EXPECT_LE(harness.pointer.reads - before, c.maxReadsPerFrame * kFrames) << c.what;
        if (c.maxReadsPerFrame > 0) {
            EXPECT_GT(harness.pointer.reads - before, 0) << c.what;
        }
    }
}

}  // namespace
}  // namespace velaro::test
