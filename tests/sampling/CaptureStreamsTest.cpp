// The sampler carrying out the reconcile against the fake capture service: streams started, restarted and
// stopped, stale starts, retries, the idle teardown, screens coming and going, and the slide gate.
#include <gtest/gtest.h>

#include "sampling/ScreenSamplerTestRig.h"
#include "support/LogCapture.h"

namespace velaro::test {
namespace {

using Call = FakeCaptureService::Call;

// A frame whose pixel row `row` is painted by `paint(x)` and every other row is blue.
CaptureFrame rowFrame(int width, int height, int row, const std::function<Rgb(int x)>& paint) {
    return makeFrame(width, height, [&](int x, int y) { return y == row ? paint(x) : Rgb{0, 0, 255}; });
}

TEST(CaptureStreams, AFilledTopStartsTheStripStreamOnThePrimaryQueue) {
    SamplerRig rig;
    rig.startStreaming();
    ASSERT_EQ(rig.capture.streams().size(), 1u);
    const auto stream = rig.capture.lastStream();
    EXPECT_EQ(stream->configuration().sourceRect, (Rect{0, 24, 1512, 6}));
    EXPECT_EQ(stream->configuration().width, 1512);
    EXPECT_EQ(stream->configuration().height, 6);
    EXPECT_DOUBLE_EQ(stream->configuration().minimumFrameInterval, 1.0 / 15);
    EXPECT_EQ(stream->queueLabel(), "com.quornet.Velaro.frames");
    // Our own app is left out of what the stream sees.
    ASSERT_EQ(stream->contentFilter().excludedApplications.size(), 1u);
    EXPECT_EQ(stream->contentFilter().excludedApplications[0].appId, kOwnAppId);

    const auto channelA = rig.sampler->channel("A");
    // The analysis already has the line configuration of this start: the first frame's colour is read
    // from the strip's middle row, pixel row 3.
    const Rgb teal{0, 128, 128};
    ASSERT_TRUE(stream->deliverNow(rowFrame(1512, 6, 3, [&](int) { return teal; })));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(teal), 0.002))
        << "the primary values come from A's stream, row 3";
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), channelA);
    EXPECT_TRUE(channelA->dominantColor().has_value()) << "the stream captured screen A";
    // With smoothing on, each frame closes 0.51 of the gap to the raw colour.
    rig.sampler->setSmoothingEnabled(true);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(stream->deliverNow(rowFrame(1512, 6, 3, [](int) { return Rgb{255, 255, 255}; })));
    ASSERT_TRUE(stream->deliverNow(rowFrame(1512, 6, 3, [](int) { return Rgb{0, 0, 0}; })));
    rig.loop.runUntilIdle();
    EXPECT_NEAR(rig.sampler->dominantColor().red, 0.49, 1e-12);
    EXPECT_EQ(rig.capture.streams().size(), 1u);
    EXPECT_EQ(rig.capture.runningStreams().size(), 1u);
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

TEST(CaptureStreams, LiveCaptureRestartsTheStreamAtTheScreensScaleAndRate) {
    auto screen = FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1);
    screen.backingScale = 2;
    SamplerRig rig({screen});
    rig.startStreaming();
    const auto first = rig.capture.lastStream();

    rig.sampler->setLiveCaptureFPS(60);  // live capture is still off: the strip stays as it is …
    rig.loop.runUntilIdle();
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();

    EXPECT_FALSE(first->isRunning());
    const auto now = rig.capture.lastStream();
    ASSERT_NE(now, first);
    ASSERT_TRUE(now->isRunning());
    EXPECT_EQ(now->configuration().width, 3024);
    EXPECT_EQ(now->configuration().height, 12);
    EXPECT_DOUBLE_EQ(now->configuration().minimumFrameInterval, 1.0 / 60);
    // The line now goes out as an image, read from pixel row 6 with 80 pixels at each end repeating the
    // nearest inner one; that it is published at all shows it carries this start's generation.
    const Rgb red{200, 0, 0}, green{0, 200, 0}, teal{0, 128, 128};
    ASSERT_TRUE(now->deliverNow(rowFrame(3024, 12, 6, [&](int x) {
        if (x < 80 || x > 3023 - 80) return red;
        return x == 80 || x == 3023 - 80 ? green : teal;
    })));
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.sampler->liveLine().has_value());
    const QImage& line = rig.sampler->liveLine()->image;
    ASSERT_EQ(line.width(), 3024);
    for (const int x : {0, 79, 80, 2943, 2944, 3023}) EXPECT_EQ(line.pixelColor(x, 0).green(), 200) << x;
    EXPECT_EQ(line.pixelColor(81, 0).green(), 128);
    EXPECT_EQ(line.pixelColor(2942, 0).green(), 128);
}

TEST(CaptureStreams, AStartOverTakenBySettingsIsStoppedAndStartedAgainWithTheNewOnes) {
    SamplerRig rig;
    rig.beginStartHeldAtCapture();
    ASSERT_EQ(rig.capture.pending(Call::startCapture), 1u);
    const auto stale = rig.capture.lastStream();

    // Light reflections change the strip while the start waits.
    rig.sampler->setLightReflectionsEnabled(true);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.capture.completeNext(Call::startCapture));
    rig.loop.runUntilIdle();

    EXPECT_FALSE(rig.sampler->hasActiveStream()) << "the stale stream is never kept";
    EXPECT_EQ(stale->stopCalls(), 1);
    ASSERT_TRUE(rig.capture.completeNext(Call::stopCapture));
    rig.loop.runUntilIdle();
    // The stop done, a new start with the new strip follows.
    ASSERT_TRUE(rig.capture.completeNext(Call::shareableContent));
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.capture.completeNext(Call::startCapture));
    rig.loop.runUntilIdle();
    const auto fresh = rig.capture.lastStream();
    ASSERT_NE(fresh, stale);
    rig.deliverSolid("A", Rgb{255, 255, 255});
    EXPECT_NE(rig.sampler->dominantColor(), Color::black()) << "the fresh stream's frames are the ones used";
    EXPECT_EQ(fresh->configuration().sourceRect, (Rect{0, 24, 1512, 36}));
    EXPECT_EQ(rig.capture.runningStreams().size(), 1u) << "only the fresh stream runs";
}

TEST(CaptureStreams, AStartForAScreenThatWentIsDropped) {
    SamplerRig rig;
    rig.beginStartHeldAtCapture();
    auto started = rig.capture.lastStream();
    rig.sampler->channel("A")->dominantColor = Color::white();

    rig.setScreens({FakeScreens::make("B", Rect{0, 0, 1920, 1080}, 24, 2)});
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.sampler->channel("A")->dominantColor().has_value()) << "A's channel went with it";
    ASSERT_TRUE(rig.capture.completeNext(Call::startCapture));
    rig.loop.runUntilIdle();
    EXPECT_EQ(started->stopCalls(), 1);
    for (const auto& s : rig.capture.streams())
        EXPECT_TRUE(s == started || s->contentFilter().display.displayID != 1)
            << "the finished start brings no stream back for A";
}

TEST(CaptureStreams, AFailedStartIsRetriedOnlyAfterMoreThanOneAndAHalfSeconds) {
    SamplerRig rig;
    rig.fillTop();  // no geometry yet: nothing starts
    rig.loop.advance(0.3);
    rig.capture.scriptFailure(Call::startCapture, CaptureError{CaptureErrorCode::failedToStart, "busy"});
    rig.setGeometry();
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.capture.streams().size(), 1u);
    EXPECT_FALSE(rig.sampler->hasActiveStream());
    EXPECT_EQ(rig.capture.pendingTotal(), 0u) << "the failed start is over";

    const double began = rig.loop.uptime();  // the start was tried on this turn
    rig.loop.advance(began + 1.5 - rig.loop.uptime());  // exactly 1.5 s is not enough
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.capture.streams().size(), 1u);

    rig.loop.advance(0.01);
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.capture.streams().size(), 2u);
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

TEST(CaptureStreams, WithoutGeometryNothingStartsAndTheThrottleWaitsForIt) {
    SamplerRig rig;
    LogCapture log;
    rig.fillTop();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capture.streams().empty());
    EXPECT_EQ(log.count("no capture geometry for screen A"), 1);
    rig.loop.advance(2);
    rig.sampler->refresh();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capture.streams().empty()) << "the throttle waits for the geometry";
    rig.setGeometry();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream());
}

TEST(CaptureStreams, TheStreamsStopSixtySecondsAfterTheLastFilledWindow) {
    SamplerRig rig;
    rig.startStreaming();
    rig.emptyTop();
    EXPECT_FALSE(rig.sampler->isFilledWindowActive());
    EXPECT_TRUE(rig.sampler->hasActiveStream()) << "capture stays wanted through the grace period";
    const double now = rig.loop.uptime();
    EXPECT_EQ(rig.loop.oneShotTimersDueBetween(now + 59, now + 60.1), 1u) << "the teardown is scheduled";

    rig.loop.advance(59.9);
    EXPECT_TRUE(rig.sampler->hasActiveStream());
    rig.loop.advance(0.2);
    EXPECT_FALSE(rig.sampler->hasActiveStream());
    EXPECT_TRUE(rig.capture.runningStreams().empty());
    rig.setGeometry(30);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.capture.runningStreams().empty()) << "capture is no longer wanted";
}

TEST(CaptureStreams, AFillWithinTheGraceKeepsTheStreamAndDropsTheTeardown) {
    SamplerRig rig;
    rig.startStreaming();
    rig.emptyTop();
    rig.loop.advance(30);
    rig.fillTop();
    EXPECT_TRUE(rig.sampler->isFilledWindowActive());
    EXPECT_EQ(rig.loop.oneShotTimersDueBetween(rig.loop.uptime() + 1, rig.loop.uptime() + 60), 0u)
        << "the teardown is dropped";
    rig.loop.advance(120);
    EXPECT_TRUE(rig.sampler->hasActiveStream());
    EXPECT_EQ(rig.capture.streams().size(), 1u);
}

TEST(CaptureStreams, AStreamTheSystemStoppedIsForgottenAndStartedAgain) {
    SamplerRig rig;
    rig.startStreaming();
    const auto first = rig.capture.lastStream();
    first->stopWithError(CaptureError{CaptureErrorCode::connectionLost, "gone"});
    rig.loop.runUntilIdle();
    const auto second = rig.capture.lastStream();
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->isRunning());
    rig.deliverSolid("A", Rgb{255, 255, 255});
    EXPECT_NE(rig.sampler->dominantColor(), Color::black()) << "the new stream's frames are the ones used";
    EXPECT_EQ(first->stopCalls(), 0) << "a stream the system stopped needs no stop call";
}

TEST(CaptureStreams, UnchangedGeometryRestartsNothing) {
    SamplerRig rig;
    rig.startStreaming();
    const int contentRequests = rig.capture.shareableContentRequests();
    rig.setGeometry();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.capture.shareableContentRequests(), contentRequests) << "no start was even prepared";
    EXPECT_EQ(rig.capture.streams().size(), 1u);
    EXPECT_EQ(rig.capture.streams()[0]->stopCalls(), 0);

    rig.setGeometry(30);
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.capture.streams().size(), 2u);
    EXPECT_EQ(rig.capture.lastStream()->configuration().sourceRect, (Rect{0, 30, 1512, 6}));
}

TEST(CaptureStreams, TheMasterSwitchStopsAndResumesCapture) {
    SamplerRig rig;
    rig.startStreaming();
    rig.sampler->setMasterEnabled(false);
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.sampler->hasActiveStream());
    EXPECT_EQ(rig.checksDuring(1.0), 0) << "no check while switched off";

    rig.sampler->setMasterEnabled(true);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.sampler->hasActiveStream());
    EXPECT_GE(rig.checksDuring(1.0), 2) << "the 0.5 s check runs again";
}

// ---- several screens ----

std::vector<ScreenInfo> twoScreens() {
    return {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
            FakeScreens::make("B", Rect{1512, 0, 1920, 1080}, 24, 2)};
}

TEST(CaptureStreams, EveryScreenGetsItsOwnContextAndQueue) {
    SamplerRig rig(twoScreens());
    const auto channelB = rig.sampler->channel("B");
    rig.startStreaming();
    ASSERT_EQ(rig.capture.runningStreams().size(), 2u);
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), rig.sampler->channel("A"));
    rig.deliverSolid("B", Rgb{255, 255, 255});
    EXPECT_TRUE(channelB->dominantColor().has_value());
    EXPECT_EQ(rig.sampler->dominantColor(), Color::black()) << "B's results stay out of the primary values";
    ASSERT_TRUE(rig.streamOf("B"));
    EXPECT_EQ(rig.streamOf("B")->queueLabel(), "com.quornet.Velaro.frames.B");
    EXPECT_EQ(rig.streamOf("B")->configuration().sourceRect, (Rect{0, 24, 1920, 6}));
    EXPECT_EQ(rig.streamOf("A")->queueLabel(), "com.quornet.Velaro.frames");
}

TEST(CaptureStreams, ANewScreenTakesOverThePrimaryContextOfOneThatWasUnplugged) {
    SamplerRig rig;
    rig.startStreaming();
    rig.sampler->channel("A")->dominantColor = Color::white();

    const auto streamOfA = rig.streamOf("A");
    rig.setScreens({FakeScreens::make("C", Rect{0, 0, 1920, 1080}, 24, 3)});
    rig.setGeometry();
    rig.loop.runUntilIdle();

    ASSERT_EQ(rig.capture.runningStreams().size(), 1u);
    EXPECT_EQ(rig.capture.runningStreams().front(), rig.streamOf("C"));
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), rig.sampler->channel("C"));
    rig.deliverSolid("C", Rgb{255, 255, 255});
    EXPECT_NE(rig.sampler->dominantColor(), Color::black()) << "C's live context feeds the primary values";
    ASSERT_TRUE(rig.streamOf("C"));
    EXPECT_EQ(rig.streamOf("C")->queueLabel(), "com.quornet.Velaro.frames");
    EXPECT_FALSE(rig.sampler->channel("A")->dominantColor().has_value())
        << "the gone screen's channel is pruned: asking again makes a fresh one";
    EXPECT_FALSE(streamOfA->isRunning()) << "the gone screen's stream is stopped";
    EXPECT_EQ(streamOfA->stopCalls(), 1);
}

TEST(CaptureStreams, UnpluggingTheFeedingScreenHandsTheRoleOnAndForcesAPublish) {
    SamplerRig rig(twoScreens());
    const auto channelB = rig.sampler->channel("B");
    rig.startStreaming();
    rig.sampler->channel("A")->dominantColor = Color::white();
    // B's first frame uses up the publish its own start forced; it reaches only B's channel.
    const Rgb teal{0, 128, 128};
    rig.deliverSolid("B", teal);
    ASSERT_TRUE(channelB->dominantColor().has_value());
    ASSERT_EQ(rig.sampler->dominantColor(), Color::black());

    rig.setScreens({twoScreens()[1]});
    EXPECT_FALSE(rig.sampler->channel("A")->dominantColor().has_value())
        << "pruned: asked again, it is fresh";
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), channelB);
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.capture.runningStreams().size(), 1u);
    EXPECT_TRUE(rig.streamOf("B")->isRunning());
    // The same strip again: only a forced publish lets an unchanged colour through.
    rig.deliverSolid("B", teal);
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(teal), 0.002));
}

// ---- the slide gate ----

TEST(SlideGate, ThePollClosesAGateTheScanNoLongerSupports) {
    SamplerRig rig;
    int changes = 0;
    rig.sampler->setOnSlideGateChanged([&] { ++changes; });
    rig.slideDesktop();
    rig.windows.setWindows({});
    rig.loop.advance(0.6);  // one poll: nothing on screen slides
    EXPECT_FALSE(rig.sampler->isSlideGateOpen());
    rig.slideDesktop();  // the same slide seen again opens it again: the signature is still trusted
}

}  // namespace
}  // namespace velaro::test
