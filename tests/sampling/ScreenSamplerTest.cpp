// The sampler's published values: what each frame result writes to the screen's channel and to the primary
// copies, what is dropped, the ink rule, the beam, the clearing operations and the freezes.
#include <gtest/gtest.h>

#include "sampling/FrameOutputTestFrames.h"
#include "sampling/ScreenSamplerTestRig.h"

namespace velaro::test {
namespace {

Color grey(double v) {
    return Color::rgb(v, v, v);
}

BackdropImage backdrop(int w) {
    return BackdropImage{QImage(w, 4, QImage::Format_RGB32), Size{double(w), 4}};
}

// A streaming rig with a channel for every screen, as the overlay makes them.
struct Streaming : SamplerRig {
    explicit Streaming(std::vector<ScreenInfo> list = {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)})
        : SamplerRig(std::move(list)) {
        for (const auto& s : screens.screens()) sampler->channel(s.id);
        startStreaming();
    }
    ScreenSampler::ScreenChannel& channel(const std::string& id) { return *sampler->channel(id); }
    // The first screen's analysis hands the sampler a result of one colour.
    void publish(const Color& color) {
        context("A").frameOutput->onUpdate(color, std::vector<Color>(64, color));
        loop.runUntilIdle();
    }
    FrameOutput& output(const std::string& id) { return *context(id).frameOutput; }
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
    for (double l : {0.5, 0.65, 0.5, 0.35, 0.5}) {
        rig.publish(grey(l));
        seen.push_back(s.strokeInkIsDark());
    }
    EXPECT_EQ(seen, (std::vector<bool>{false, true, true, false, false}));
    // The thresholds are the single-precision ones: 0.6 itself (as a double) lies below 0.6f.
    rig.publish(grey(0.6));
    EXPECT_FALSE(s.strokeInkIsDark());
}

TEST(ScreenSampler, AnEqualDominantColourIsStillWrittenAndPulsed) {
    Streaming rig;
    auto& s = *rig.sampler;
    int writes = 0;
    auto sub = s.dominantColor.changes().sink([&](const Color&) { ++writes; });
    const auto pulses = s.colorPulse();
    rig.publish(Color::black());
    rig.publish(Color::black());
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
    // The stream is still live while the reconcile has not run: results are on their way.
    auto& out = rig.output("A");
    const int generation = rig.context("A").lineConfigGeneration;
    out.onUpdate(Color::white(), std::vector<Color>(64, Color::white()));
    out.onLine(LiveLine{QImage(10, 1, QImage::Format_RGBA8888_Premultiplied), 10}, generation);
    out.onBackdrop(backdrop(8));
    out.onEdgeColors(Color::white(), Color::white());
    rig.loop.runUntilIdle();

    EXPECT_EQ(rig.sampler->dominantColor(), Color::black());
    EXPECT_FALSE(rig.channel("A").dominantColor().has_value());
    EXPECT_FALSE(rig.channel("A").zoneColors().has_value());
    EXPECT_FALSE(rig.channel("A").liveLine().has_value());
    EXPECT_FALSE(rig.sampler->liveLine().has_value());
    ASSERT_TRUE(rig.channel("A").blurredBackdropImage().has_value());
    EXPECT_EQ(rig.channel("A").blurredBackdropImage()->image.width(), 8);
    EXPECT_TRUE(rig.sampler->blurredBackdropImage().has_value());
    EXPECT_EQ(rig.sampler->liveLeftCornerColor(), Color::white());
}

TEST(ScreenSampler, ALineOfAnOlderConfigurationIsDropped) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();
    const int generation = rig.context("A").lineConfigGeneration;
    rig.output("A").onLine(LiveLine{QImage(10, 1, QImage::Format_RGBA8888_Premultiplied), 10},
                           generation - 1);
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.sampler->liveLine().has_value());
    rig.output("A").onLine(LiveLine{QImage(12, 1, QImage::Format_RGBA8888_Premultiplied), 12}, generation);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.sampler->liveLine().has_value());
    EXPECT_DOUBLE_EQ(rig.sampler->liveLine()->pointWidth, 12);
    EXPECT_TRUE(rig.channel("A").liveLine().has_value());
}

TEST(ScreenSampler, ACornerResultWithOnlyTheRightImageLeavesTheLeftAlone) {
    Streaming rig;
    rig.sampler->setBlurCaptureEnabled(true);
    rig.loop.runUntilIdle();
    rig.output("A").onCornerBackdrops(backdrop(3), backdrop(4));
    rig.output("A").onCornerBackdrops(std::nullopt, backdrop(5));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.sampler->blurredTopLeftCorner()->image.width(), 3);
    EXPECT_EQ(rig.sampler->blurredTopRightCorner()->image.width(), 5);
    EXPECT_EQ(rig.channel("A").blurredTopLeftCorner()->image.width(), 3);

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

    const Color red = Color::rgb(1, 0, 0, 0.8);
    rig.output("A").onBeam(red, 0.0);
    rig.output("A").onBeam(red, 0.0005);  // a move of exactly 0.0005
    rig.loop.runUntilIdle();
    EXPECT_EQ(colourWrites, 1);
    EXPECT_EQ(xWrites, 1);
    EXPECT_EQ(s.beamVividColor(), ScreenSampler::vividBeamColor(red));

    rig.output("A").onBeam(Color::clear(), 0.9);
    rig.output("A").onBeam(Color::clear(), 0.9);
    rig.loop.runUntilIdle();
    EXPECT_EQ(colourWrites, 2) << "cleared once";
    EXPECT_DOUBLE_EQ(s.beamNormalizedX(), 0.0);
}

TEST(ScreenSampler, ResultsOfAStoppedOrRetiredContextAreDropped) {
    Streaming rig;
    auto& out = rig.output("A");
    rig.sampler->setCaptureDemand(false);  // every stream stops
    ASSERT_FALSE(rig.sampler->hasActiveStream());
    out.onUpdate(Color::white(), std::vector<Color>(64, Color::white()));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.sampler->dominantColor(), Color::black());
    EXPECT_FALSE(rig.channel("A").dominantColor().has_value());
}

TEST(ScreenSampler, AResultForAScreenWithoutAChannelStillReachesThePrimaryCopies) {
    SamplerRig rig;  // nothing asked for a channel
    rig.startStreaming();
    rig.context("A").frameOutput->onUpdate(Color::white(), std::vector<Color>(64, Color::white()));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.sampler->dominantColor(), Color::white());
    EXPECT_TRUE(rig.context("A").channelMissingLogged);
    EXPECT_EQ(rig.sampler->liveContextScreenValue(), nullptr);
}

TEST(ScreenSampler, SwitchingLiveCaptureOffClearsEveryLineAndRestartsTheStreams) {
    Streaming rig;
    rig.sampler->setLiveCaptureEnabled(true);
    rig.loop.runUntilIdle();
    rig.output("A").onLine(LiveLine{QImage(10, 1, QImage::Format_RGBA8888_Premultiplied), 10},
                           rig.context("A").lineConfigGeneration);
    rig.loop.runUntilIdle();
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
    rig.output("A").onBackdrop(backdrop(8));
    rig.loop.runUntilIdle();
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
    Streaming rig({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
                   FakeScreens::make("B", Rect{1512, 0, 800, 600}, 24, 2)});
    auto& s = *rig.sampler;
    s.setOverviewActive(true);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(s.isSamplingFrozen());
    EXPECT_TRUE(rig.output("B").isExternallyFrozen());
    EXPECT_TRUE(rig.output("B").overviewActive());

    rig.menus.begin();
    s.setOverviewActive(false);
    rig.loop.runUntilIdle();
    EXPECT_TRUE(s.isSamplingFrozen()) << "the menu still holds it";
    EXPECT_FALSE(rig.output("A").overviewActive());
    rig.menus.end();
    rig.loop.advance(0.35);
    EXPECT_FALSE(s.isSamplingFrozen()) << "no reason is left holding it";
    EXPECT_FALSE(rig.output("A").isExternallyFrozen());
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
    Streaming rig;
    rig.menus.begin();
    rig.loop.runUntilIdle();
    rig.output("A").onForceUnfreeze();
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.sampler->isSamplingFrozen());
    EXPECT_FALSE(rig.output("A").isExternallyFrozen());
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
    rig.menus.begin();
    rig.setScreens({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1),
                    FakeScreens::make("B", Rect{1512, 0, 800, 600}, 24, 2)});
    rig.startStreaming();
    auto& b = *rig.context("B").frameOutput;
    EXPECT_TRUE(b.smoothingEnabled());
    EXPECT_DOUBLE_EQ(b.blurRadius(), 20);
    EXPECT_TRUE(b.isExternallyFrozen());
}

}  // namespace
}  // namespace velaro::test
