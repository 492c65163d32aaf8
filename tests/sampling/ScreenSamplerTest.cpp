// The sampler's published values: what each frame result writes to the screen's channel and to the primary
// copies, what is dropped, the ink rule, the beam, the clearing operations and the freezes.
#include <gtest/gtest.h>

#include "sampling/FrameOutputTestFrames.h"
#include "sampling/ScreenSamplerTestRig.h"
#include "support/LogCapture.h"

namespace velaro::test {
namespace {

Rgb grey(std::uint8_t v) {
    return Rgb{v, v, v};
}

constexpr Rgb kWhite{255, 255, 255};

std::vector<ScreenInfo> twoScreens() {
    return {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
            FakeScreens::make("B", Rect{1512, 0, 800, 600}, 24, 2)};
}

// A streaming rig with a channel for every screen, as the overlay makes them.
struct Streaming : SamplerRig {
    explicit Streaming(std::vector<ScreenInfo> list = {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)})
        : SamplerRig(std::move(list)) {
        for (const auto& s : screens.screens()) sampler->channel(s.id);
        startStreaming();
    }
    ScreenSampler::ScreenChannel& channel(const std::string& id) { return *sampler->channel(id); }
};

TEST(ScreenSampler, StartsBlackWithLightInkAndNoZones) {
    SamplerRig rig;
    auto& s = *rig.sampler;
    EXPECT_EQ(s.dominantColor(), Color::black());
    EXPECT_FALSE(s.strokeInkIsDark());
    EXPECT_TRUE(s.zoneColors().empty());
    EXPECT_EQ(s.liveLeftCornerColor(), Color::black());
    EXPECT_EQ(s.beamColor(), Color::clear());
    EXPECT_EQ(s.beamVividColor(), Color::white());
    EXPECT_DOUBLE_EQ(s.beamNormalizedX(), 0.5);
    EXPECT_GE(rig.checksDuring(0.5), 1) << "the 0.5 s check runs from the start";
    rig.startStreaming();
    EXPECT_EQ(rig.capture.lastStream()->queueLabel(), "com.quornet.Velaro.frames");
}

TEST(ScreenSampler, InkTurnsDarkAboveSixTenthsAndLightBelowFourTenths) {
    Streaming rig;
    auto& s = *rig.sampler;
    std::vector<bool> seen;
    // Greys of about 0.5, 0.65, 0.5, 0.35 and 0.5.
    for (std::uint8_t v : {128, 166, 128, 89, 128}) {
        rig.deliverSolid("A", grey(v));
        seen.push_back(s.strokeInkIsDark());
    }
    EXPECT_EQ(seen, (std::vector<bool>{false, true, true, false, false}));
    // The thresholds are the single-precision ones: 0.6 itself (153 / 255 as a double) lies below 0.6f.
    rig.deliverSolid("A", grey(153));
    EXPECT_FALSE(s.strokeInkIsDark());
}

TEST(ScreenSampler, AnEqualDominantColourIsStillWrittenAndPulsed) {
    Streaming rig;
    auto& s = *rig.sampler;
    int writes = 0;
    auto sub = s.dominantColor.changes().sink([&](const Color&) { ++writes; });
    const auto pulses = s.colorPulse();
    rig.deliverSolid("A", grey(0));
    // The analysis hands the same colour over again only when told to.
    s.forcePublishNextFrame(false);
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", grey(0));
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(s.colorPulse(), pulses + 2);
}

TEST(ScreenSampler, AFrameOfTheStripReachesTheChannelAndThePrimaryCopies) {
    Streaming rig;
    const Rgb teal{0, 128, 128};
    ASSERT_TRUE(rig.streamOf("A")->deliver(solidFrame(1512, 6, teal)));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(teal), 0.002));
    ASSERT_TRUE(rig.channel("A").dominantColor().has_value());
    EXPECT_TRUE(colorsClose(*rig.channel("A").dominantColor(), colorOf(teal), 0.002));
    ASSERT_EQ(rig.sampler->zoneColors().size(), 64u);
    EXPECT_EQ(rig.sampler->colorPublishSeq(), 1);
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), rig.sampler->channel("A"));
}

// The pause on the bar keeps the band as it is while the pointer rests there; the colours of a window that just
// came to fill the top (in its first second) are not kept from it. A click on the tray icon leaves the pointer
// on the bar while the popover opens: held back, the new window's colour left the band black (nothing sampled
// yet) or in the colour of the window that filled the top before.
TEST(ScreenSampler, APointerRestingOnTheBarHoldsTheBandButNotAWindowThatJustFilledTheTop) {
    SamplerRig rig;
    rig.sampler->channel("A");
    rig.pointer.moveToTopLeft({700, 10});  // on the bar: 1512 × 24 pt
    rig.startStreaming();
    const Rgb teal{0, 128, 128}, red{200, 20, 20}, green{20, 160, 60};
    rig.deliverSolid("A", teal);
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(teal), 0.002))
        << "a new stream's first colour was held back while the pointer rested on the bar";
    rig.loop.advance(1.5);
    rig.deliverSolid("A", red);
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(teal), 0.002)) << "the pause let a change in";

    // The top empties and another window comes to fill it, within the time the stream runs on.
    rig.emptyTop();
    rig.fillTop();
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", green);
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(green), 0.002))
        << "the window filling the top now was held back while the pointer rested on the bar";
    rig.loop.advance(1.5);
    rig.deliverSolid("A", red);
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(green), 0.002)) << "the pause let a change in";
}

// A stream sends nothing while its strip stays as it is: a change the pause held back waits, with the pointer
// watched, for the pointer to leave the bar; then it is asked of the stream again until it went through.
TEST(ScreenSampler, AChangeThePauseHeldBackIsAskedOfTheStreamOnceThePointerLeaves) {
    SamplerRig rig;
    rig.sampler->channel("A");
    rig.startStreaming();
    const Rgb teal{0, 128, 128}, red{200, 20, 20};
    rig.deliverSolid("A", teal);
    auto stream = rig.streamOf("A");
    rig.pointer.moveToTopLeft({700, 10});
    rig.loop.advance(1.5);
    int asked = stream->frameRequests();
    rig.deliverSolid("A", red);
    EXPECT_EQ(stream->frameRequests(), asked) << "asked for frames while the pointer rests on the bar";
    EXPECT_EQ(rig.pointer.watcherCount(), 1u) << "the pointer is not watched for the held change";
    rig.pointer.moveToTopLeft({700, 300});
    rig.loop.runUntilIdle();
    EXPECT_EQ(stream->frameRequests(), asked + 1) << "the pointer left and nothing was asked for";
    for (int frames = 0; frames < 100 && stream->frameRequests() > asked; ++frames) {
        asked = stream->frameRequests();
        rig.loop.advance(1.0 / 60);
        rig.deliverSolid("A", red);
    }
    EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(red), 0.002));
    EXPECT_EQ(stream->frameRequests(), asked) << "the stream was asked for frames after the change went through";
    EXPECT_EQ(rig.pointer.watcherCount(), 0u) << "the pointer is still watched";
}

// However many values a frame changes, the main thread wakes once for it, and a frame that changes nothing
// does not wake it at all; what it gets is the frame's results, all of them.
TEST(ScreenSampler, EachFrameReachesTheMainLoopAsOneBlock) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();
    struct Step {
        Rgb colour;
        std::size_t posts;
    };
    const Rgb teal{0, 128, 128}, red{200, 20, 20};
    const Step steps[] = {{teal, 1}, {teal, 0}, {red, 1}, {teal, 1}};
    for (const auto& step : steps) {
        ASSERT_EQ(rig.loop.pendingPosts(), 0u);
        ASSERT_TRUE(rig.streamOf("A")->deliverNow(solidFrame(1512, 6, step.colour)));
        EXPECT_EQ(rig.loop.pendingPosts(), step.posts);
        rig.loop.runUntilIdle();
        EXPECT_TRUE(colorsClose(rig.sampler->dominantColor(), colorOf(step.colour), 0.002));
        EXPECT_TRUE(colorsClose(rig.sampler->liveLeftCornerColor(), colorOf(step.colour), 0.002));
        ASSERT_TRUE(rig.sampler->liveLine().has_value());
        EXPECT_EQ(rig.sampler->liveLine()->image.pixelColor(700, 0).red(), step.colour.r);
    }
    EXPECT_EQ(rig.sampler->colorPublishSeq(), 3);
}

TEST(ScreenSampler, ACaptureStoppedScreenDropsItsColoursAndLinesButKeepsItsBackdrops) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.sampler->setBlurCaptureEnabled(true);
    rig.loop.runUntilIdle();
    rig.sampler->captureStopScreens = std::set<ScreenID>{"A"};
    // The stream is still live while the reconcile has not run: the results of its frames are on their
    // way. Two frames, as the blur works on every second one.
    rig.deliverHeld("A", kWhite, 2);
    rig.loop.runUntilIdle();

    EXPECT_EQ(rig.sampler->dominantColor(), Color::black());
    EXPECT_FALSE(rig.channel("A").dominantColor().has_value());
    EXPECT_FALSE(rig.channel("A").zoneColors().has_value());
    EXPECT_FALSE(rig.channel("A").liveLine().has_value());
    EXPECT_FALSE(rig.sampler->liveLine().has_value());
    ASSERT_TRUE(rig.channel("A").blurredBackdropImage().has_value());
    ASSERT_TRUE(rig.sampler->blurredBackdropImage().has_value());
    EXPECT_EQ(rig.channel("A").blurredBackdropImage()->image, rig.sampler->blurredBackdropImage()->image);
    EXPECT_EQ(rig.sampler->liveLeftCornerColor(), Color::white());
}

TEST(ScreenSampler, ALineOfAnOlderConfigurationIsDropped) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();
    // The frame queue falls behind while the stream restarts at another rate: the new stream runs before
    // the analysis has taken its line configuration, so a frame now makes a line of the old one.
    rig.frameQueues.hold();
    rig.sampler->setLiveCaptureFPS(30);
    rig.loop.runUntilIdle();
    const auto stream = rig.streamOf("A");
    ASSERT_TRUE(stream->isRunning());
    ASSERT_TRUE(rig.sampler->hasActiveStream());
    rig.deliverSolid("A", kWhite);
    EXPECT_FALSE(rig.sampler->liveLine().has_value());
    EXPECT_FALSE(rig.channel("A").liveLine().has_value());

    rig.frameQueues.release();
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", grey(20));
    ASSERT_TRUE(rig.sampler->liveLine().has_value());
    EXPECT_DOUBLE_EQ(rig.sampler->liveLine()->pointWidth, 1512);
    EXPECT_TRUE(rig.channel("A").liveLine().has_value());
}

TEST(ScreenSampler, ACornerResultWithOnlyTheRightImageLeavesTheLeftAlone) {
    Streaming rig;
    rig.sampler->setBlurCaptureEnabled(true);
    rig.setGeometry(24, TopBlurGeometry{24, 6, 8});
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", kWhite, 2);
    ASSERT_TRUE(rig.sampler->blurredTopLeftCorner().has_value());
    const QImage left = rig.sampler->blurredTopLeftCorner()->image;
    // The left corner loses its radius in the capture geometry alone: the analysis makes the right one only.
    rig.setGeometry(24, TopBlurGeometry{24, 0, 10});
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", grey(250), 2);
    ASSERT_TRUE(rig.sampler->blurredTopRightCorner().has_value());
    ASSERT_TRUE(rig.sampler->blurredTopLeftCorner().has_value());
    ASSERT_TRUE(rig.channel("A").blurredTopLeftCorner().has_value());
    EXPECT_EQ(rig.sampler->blurredTopLeftCorner()->image, left);
    EXPECT_EQ(rig.sampler->blurredTopRightCorner()->image.width(), 5) << "10 pt at half size";
    EXPECT_EQ(rig.sampler->blurredTopRightCorner()->image.pixelColor(0, 0).red(), 250);
    EXPECT_EQ(rig.channel("A").blurredTopLeftCorner()->image, left);

    rig.sampler->clearBlurredCorners(false, true);
    EXPECT_TRUE(rig.sampler->blurredTopLeftCorner().has_value());
    EXPECT_FALSE(rig.sampler->blurredTopRightCorner().has_value());
    EXPECT_FALSE(rig.channel("A").blurredTopRightCorner().has_value());
}

TEST(ScreenSampler, TheBeamWritesOnlyRealChanges) {
    Streaming rig;
    rig.sampler->setLightReflectionsEnabled(true);
    rig.loop.runUntilIdle();
    auto& s = *rig.sampler;
    int colourWrites = 0, xWrites = 0;
    auto a = s.beamColor.changes().sink([&](const Color&) { ++colourWrites; });
    auto b = s.beamNormalizedX.changes().sink([&](double) { ++xWrites; });

    // The pointer in the beam's band, at the screen's left edge, then 0.756 pt further: a move of exactly
    // 0.0005 of the 1512 pt width.
    const Rgb red{255, 0, 0};
    rig.pointer.moveToTopLeft({0, 40});
    rig.deliverHeld("A", red);
    rig.pointer.moveToTopLeft({0.756, 40});
    rig.deliverHeld("A", red);
    rig.loop.runUntilIdle();
    EXPECT_EQ(colourWrites, 1);
    EXPECT_EQ(xWrites, 1);
    EXPECT_TRUE(colorsClose(s.beamColor(), colorOf(red), 0.002));
    EXPECT_EQ(s.beamVividColor(), ScreenSampler::vividBeamColor(s.beamColor()));

    // Out of the band every frame clears the beam, twice over.
    rig.pointer.moveToTopLeft({700, 400});
    rig.deliverHeld("A", red, 2);
    rig.loop.runUntilIdle();
    EXPECT_EQ(s.beamColor(), Color::clear());
    EXPECT_EQ(colourWrites, 2) << "cleared once";
    EXPECT_DOUBLE_EQ(s.beamNormalizedX(), 0.0);
}

TEST(ScreenSampler, ResultsOfAStoppedOrRetiredContextAreDropped) {
    Streaming rig;
    const auto stream = rig.streamOf("A");
    rig.sampler->setCaptureDemand(false);  // every stream stops
    ASSERT_FALSE(rig.sampler->hasActiveStream());
    // The stop reaches the capture on a later turn: a frame still comes through before it.
    ASSERT_TRUE(stream->deliverNow(solidFrame(1512, 6, kWhite)));
    rig.loop.runUntilIdle();
    EXPECT_FALSE(stream->isRunning());
    EXPECT_EQ(rig.sampler->dominantColor(), Color::black());
    EXPECT_FALSE(rig.channel("A").dominantColor().has_value());
}

TEST(ScreenSampler, AResultForAScreenWithoutAChannelStillReachesThePrimaryCopies) {
    SamplerRig rig;  // nothing asked for a channel
    LogCapture log;
    rig.startStreaming();
    rig.deliverSolid("A", kWhite);
    EXPECT_EQ(rig.sampler->dominantColor(), Color::white());
    rig.deliverSolid("A", grey(20));
    EXPECT_EQ(log.count("SAMPLER no channel for screen A"), 1) << "told once";
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), nullptr);
}

TEST(ScreenSampler, SwitchingLiveCaptureOffClearsEveryLineAndRestartsTheStreams) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", kWhite);
    ASSERT_TRUE(rig.channel("A").liveLine().has_value());
    const auto before = rig.capture.lastStream();

    rig.sampler->setLiveCaptureEnabled(false);
    EXPECT_FALSE(rig.channel("A").liveLine().has_value());
    EXPECT_FALSE(rig.sampler->liveLine().has_value());
    rig.loop.runUntilIdle();
    EXPECT_FALSE(before->isRunning());
    EXPECT_TRUE(rig.capture.lastStream()->isRunning());
    EXPECT_NE(rig.capture.lastStream(), before);
}

TEST(ScreenSampler, BlurCaptureOffClearsTheBackdropsAndHoldsTheBlur) {
    Streaming rig;
    rig.sampler->setBlurCaptureEnabled(true);
    rig.loop.runUntilIdle();
    rig.deliverSolid("A", kWhite, 2);
    ASSERT_TRUE(rig.sampler->blurredBackdropImage().has_value());
    rig.sampler->setBlurCaptureEnabled(false);
    EXPECT_FALSE(rig.sampler->blurredBackdropImage().has_value());
    EXPECT_FALSE(rig.channel("A").blurredBackdropImage().has_value());
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.capture.lastStream()->configuration().sourceRect.minY() == 0);
}

TEST(ScreenSampler, LightReflectionsWatchThePointerOnlyWithTheMasterSwitchOn) {
    Streaming rig;
    auto& s = *rig.sampler;
    s.beamColor = Color::rgb(1, 0, 0, 0.5);
    s.setLightReflectionsEnabled(true);
    EXPECT_EQ(rig.pointer.watcherCount(), 1u);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.capture.lastStream()->configuration().sourceRect.height(), 36) << "the taller strip";

    s.setMasterEnabled(false);
    EXPECT_EQ(rig.pointer.watcherCount(), 0u);
    s.setMasterEnabled(true);
    EXPECT_EQ(rig.pointer.watcherCount(), 1u);

    s.setLightReflectionsEnabled(false);
    EXPECT_EQ(rig.pointer.watcherCount(), 0u);
    EXPECT_EQ(s.beamColor(), Color::clear());
}

// ---- freezes ----

TEST(ScreenSampler, TheOverviewFreezesEveryAnalysisUntilItEnds) {
    Streaming rig(twoScreens());
    auto& s = *rig.sampler;
    s.setOverviewActive(true);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(s.isSamplingFrozen());
    // B's analysis is frozen, and knows the overview explains it: its watchdog keeps the freeze however
    // long it lasts.
    rig.deliverSolid("B", kWhite);
    rig.loop.advance(11);
    rig.deliverSolid("B", kWhite);
    EXPECT_TRUE(s.isSamplingFrozen());
    EXPECT_FALSE(rig.channel("B").dominantColor().has_value());

    rig.menus.begin();
    s.setOverviewActive(false);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(s.isSamplingFrozen()) << "the menu still holds it";
    rig.menus.end();
    rig.loop.advance(0.35);
    EXPECT_FALSE(s.isSamplingFrozen()) << "no reason is left holding it";
    rig.deliverSolid("A", kWhite);
    EXPECT_TRUE(rig.channel("A").dominantColor().has_value()) << "A's analysis counts frames again";

    // The overview's end reached A's analysis too: a freeze the menu holds alone is one its watchdog breaks.
    rig.menus.begin();
    rig.loop.runUntilIdle();
    ASSERT_TRUE(s.isSamplingFrozen());
    rig.deliverSolid("A", grey(20));
    rig.loop.advance(11);
    rig.deliverSolid("A", grey(20));
    EXPECT_FALSE(s.isSamplingFrozen());
}

TEST(ScreenSampler, ARepeatedFreezeReasonPublishesNothing) {
    SamplerRig rig;
    auto& s = *rig.sampler;
    int writes = 0;
    auto sub = s.isSamplingFrozen.changes().sink([&](bool) { ++writes; });
    rig.menus.begin();
    // Reopened before the close's lift: the menu's reason is set again.
    rig.menus.end();
    rig.menus.begin();
    s.setOverviewActive(true);
    EXPECT_EQ(writes, 1);
}

TEST(ScreenSampler, ABrokenFreezeEmptiesTheReasons) {
    Streaming rig(twoScreens());
    rig.menus.begin();
    rig.loop.runUntilIdle();
    // A's frames stay frozen for more than 10 s with nothing to explain it: its watchdog breaks the freeze.
    rig.deliverSolid("A", kWhite);
    rig.loop.advance(11);
    rig.deliverSolid("A", kWhite);
    EXPECT_FALSE(rig.sampler->isSamplingFrozen());
    rig.deliverSolid("B", kWhite);
    EXPECT_TRUE(rig.channel("B").dominantColor().has_value()) << "every analysis was unfrozen";
    // The menu's reason went too: the overview coming and going leaves nothing frozen.
    rig.sampler->setOverviewActive(true);
    rig.sampler->setOverviewActive(false);
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.sampler->isSamplingFrozen());
}

TEST(ScreenSampler, ANewContextStartsWithTheCurrentSettings) {
    SamplerRig rig({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)});
    rig.sampler->setSmoothingEnabled(true);
    rig.sampler->setBlurRadius(20);
    rig.sampler->setBlurCaptureEnabled(true);
    rig.menus.begin();
    rig.setScreens(twoScreens());
    const auto b = rig.sampler->channel("B");
    rig.startStreaming();
    const auto stream = rig.streamOf("B");
    ASSERT_NE(stream, nullptr);
    const int width = stream->configuration().width, height = stream->configuration().height;
    // Half black, half white: the blur shows in the backdrop across the edge.
    const CaptureFrame edge =
        makeFrame(width, height, [&](int x, int) { return x < width / 2 ? grey(0) : kWhite; });

    // Frozen: B's frames publish nothing while the menu is open.
    ASSERT_TRUE(stream->deliverNow(edge));
    ASSERT_TRUE(stream->deliverNow(edge));
    rig.loop.runUntilIdle();
    EXPECT_FALSE(b->dominantColor().has_value());
    EXPECT_FALSE(b->blurredBackdropImage().has_value());

    rig.menus.end();
    rig.loop.advance(0.35);
    ASSERT_TRUE(stream->deliverNow(edge));
    ASSERT_TRUE(stream->deliverNow(edge));
    rig.loop.runUntilIdle();
    ASSERT_TRUE(b->dominantColor().has_value());
    ASSERT_TRUE(b->blurredBackdropImage().has_value());
    // Blurred at radius 20: at half size, a standard deviation of 10 pixels.
    const auto blurredRow = [&](double sigma) {
        GaussianBlur blur;
        EXPECT_TRUE(blur.run(edge.row(0), width, height, edge.bytesPerRow, true, sigma));
        return std::vector<std::uint8_t>(blur.result(), blur.result() + blur.resultWidth() * 4);
    };
    const QImage& image = b->blurredBackdropImage()->image;
    const auto* row = image.constScanLine(0);
    const auto near = [&](const std::vector<std::uint8_t>& expected) {
        if (expected.size() != static_cast<std::size_t>(image.width()) * 4) return false;
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (std::abs(int(row[i]) - int(expected[i])) > 1) return false;
        return true;
    };
    EXPECT_TRUE(near(blurredRow(10)));
    EXPECT_FALSE(near(blurredRow(6))) << "not the default radius of 12";

    // Smoothed: a white frame closes 0.51 of the gap from the edge frame's grey.
    const double before = b->dominantColor()->red;
    rig.deliverSolid("B", kWhite);
    EXPECT_NEAR(b->dominantColor()->red, before + (1 - before) * 0.51, 1e-9);
}

}  // namespace
}  // namespace velaro::test
