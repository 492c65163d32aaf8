// When the frame analysis asks its stream for another frame though nothing changed: only while it has
// something left to do with the strip as it stands, since a stream sends nothing while the strip stays.
#include <gtest/gtest.h>

#include "FrameOutputTestFrames.h"

namespace velaro::test {
namespace {

class FrameOutputAsks : public ::testing::Test {
protected:
    void SetUp() override { h.configure(plainLine()); }

    // Feeds `frame`; how many frames the analysis asked for meanwhile.
    int asksAfter(const CaptureFrame& frame) {
        const int before = h.frameAsks;
        h.feed(frame);
        return h.frameAsks - before;
    }
    // Feeds `frame`, then the same frame again a frame later for as long as the analysis asks for one, as a
    // stream over a still strip does, but 200 times at most; how many it asked for.
    int framesAskedFor(const CaptureFrame& frame) {
        int asked = 0;
        for (int asks = asksAfter(frame); asks > 0 && asked < 200; asks = asksAfter(frame)) {
            ++asked;
            h.loop.advance(1.0 / 60);
        }
        return asked;
    }

    FrameOutputHarness h;
};

TEST_F(FrameOutputAsks, AFrameAnalysedToTheEndAsksForNoOtherAndAHeldOneAsksUntilItGoesThrough) {
    EXPECT_EQ(asksAfter(solidFrame(200, 2, {10, 20, 30})), 0);
    EXPECT_EQ(asksAfter(solidFrame(200, 2, {10, 20, 30})), 0);

    // The strip changes while the pointer rests on the bar: the change is held back, and only a move of the
    // pointer can let it through, so nothing is asked for until one comes.
    h.run([](FrameOutput& o) { o.setGuardZones({Rect(0, 0, 1000, 24)}); });
    h.pointer.moveToTopLeft({500, 10});
    const auto changed = solidFrame(200, 2, {200, 20, 30});
    EXPECT_EQ(asksAfter(changed), 0) << "asked for frames while the pointer rests on the bar";
    EXPECT_EQ(h.pointerWaits, (std::vector<bool>{true}));
    h.loop.advance(2);
    h.output->setCachedPointer({500, 12});
    h.loop.runUntilIdle();
    EXPECT_EQ(h.frameAsks, 1) << "a move on the bar did not ask to look again";
    EXPECT_EQ(asksAfter(changed), 0);

    // Off the bar, the move asks, and the frame is asked for again frame by frame while the guard settles;
    // then it goes through and the asks end.
    h.pointer.moveToTopLeft({500, 300});
    h.output->setCachedPointer({500, 300});
    h.loop.runUntilIdle();
    EXPECT_EQ(h.frameAsks, 2);
    const auto published = h.updates.size();
    const int asked = framesAskedFor(changed);
    EXPECT_GT(asked, 0);
    EXPECT_LT(asked, 200) << "the asks never ended";
    ASSERT_EQ(h.updates.size(), published + 1);
    expectColorNear(h.updates.back().dominant, colorOf({200, 20, 30}));
    EXPECT_EQ(h.pointerWaits, (std::vector<bool>{true, false}));
}

TEST_F(FrameOutputAsks, AFreezeAsksOnlyOnceItEndsOrItsWatchdogMayBreakIt) {
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    const auto frame = solidFrame(200, 2, {1, 2, 3});
    EXPECT_EQ(asksAfter(frame), 0) << "a freeze may last: its held frame is not asked for frame by frame";
    h.loop.advance(9.9);
    EXPECT_EQ(h.frameAsks, 0);
    h.loop.advance(0.2);
    EXPECT_EQ(h.frameAsks, 1) << "not asked for when the watchdog may break the freeze";
    EXPECT_EQ(asksAfter(frame), 0);
    EXPECT_EQ(h.forceUnfreezes, 1);
    ASSERT_EQ(h.updates.size(), 1u);

    // A freeze that ends asks at once for what it held back.
    h.run([](FrameOutput& o) { o.setExternalFreeze(true); });
    const auto changed = solidFrame(200, 2, {90, 2, 3});
    EXPECT_EQ(asksAfter(changed), 0);
    h.run([](FrameOutput& o) { o.unfreeze(); });
    EXPECT_EQ(h.frameAsks, 2);
    h.feed(changed);
    ASSERT_EQ(h.updates.size(), 2u);
    expectColorNear(h.updates.back().dominant, colorOf({90, 2, 3}));
    h.loop.advance(11);
    EXPECT_EQ(h.frameAsks, 2) << "a watchdog ask outlived the freeze it was for";
}

TEST_F(FrameOutputAsks, ASmoothingOnItsWayAndAnOwedBlurAskUntilTheStripAsItStandsIsDone) {
    auto config = plainLine();
    config.smoothingAlpha = 0.3;
    h.configure(config);
    h.run([](FrameOutput& o) { o.applySettings({12.0, true, true, false, false}); });
    h.feed(solidFrame(200, 1, {0, 0, 0}));
    const auto white = solidFrame(200, 1, {255, 255, 255});
    const int asked = framesAskedFor(white);
    EXPECT_GT(asked, 5);
    EXPECT_LT(asked, 200) << "the smoothing never settled";
    expectColorNear(h.updates.back().dominant, Color::white(), 0.02);

    // Only every second frame is blurred: a change that comes on the first asks for the second.
    auto blurred = plainLine();
    blurred.unifiedBlur = UnifiedBlur{74, 20, 20, {200, 37}, {10, 10}, {10, 10}};
    blurred.lineRowY = 100;
    h.configure(blurred);
    h.run([](FrameOutput& o) { o.applySettings({12.0, false, true, false, false}); });
    const auto frame = solidFrame(400, 106, {30, 60, 90});
    EXPECT_EQ(asksAfter(frame), 1);
    EXPECT_TRUE(h.backdrops.empty());
    EXPECT_EQ(asksAfter(frame), 0);
    EXPECT_EQ(h.backdrops.size(), 1u);
}

TEST_F(FrameOutputAsks, AForcedPublishANewStyleAndAPointerMoveUnderTheBeamAskForTheStripAsItStands) {
    h.feed(solidFrame(200, 2, {10, 20, 30}));
    int asks = h.frameAsks;
    h.run([](FrameOutput& o) { o.forcePublish(); });
    h.run([](FrameOutput& o) { o.forcePublish(true); });
    EXPECT_EQ(h.frameAsks, asks + 2);
    h.run([](FrameOutput& o) { o.applySettings({20.0, false, true, false, false}); });
    EXPECT_EQ(h.frameAsks, asks + 3) << "a new blur radius";
    h.run([](FrameOutput& o) { o.applySettings({20.0, false, true, false, false}); });
    EXPECT_EQ(h.frameAsks, asks + 3) << "the same settings again";

    // Only the beam follows the pointer between frames, and a burst of moves is one ask.
    h.output->setCachedPointer({10, 40});
    h.loop.runUntilIdle();
    EXPECT_EQ(h.frameAsks, asks + 3) << "asked for a pointer move with no beam";
    h.configure(beamLine());
    asks = h.frameAsks;
    h.output->setCachedPointer({20, 40});
    h.output->setCachedPointer({30, 40});
    h.loop.runUntilIdle();
    EXPECT_EQ(h.frameAsks, asks + 1);
    h.output->setCachedPointer({30, 40});
    h.loop.runUntilIdle();
    EXPECT_EQ(h.frameAsks, asks + 1) << "asked for a pointer that did not move";
}

}  // namespace
}  // namespace velaro::test
