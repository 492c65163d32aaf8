// The audio engine over a fake capture on the virtual loop: set-up and its failures, blocks reaching the
// bands, rebuilds on output changes and on silence, a rebuild that fails, and stopping.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "music/MusicVisualizerAudioEngine.h"
#include "support/FakeAudioCapture.h"
#include "support/LogCapture.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

struct EngineRig {
    LogCapture log;
    VirtualLoop loop;
    FakeAudioCapture* capture = nullptr;
    std::shared_ptr<FakeAudioCapture::Record> record = std::make_shared<FakeAudioCapture::Record>();
    std::unique_ptr<MusicVisualizerAudioEngine> engine;
    int failures = 0;

    EngineRig() {
        auto fake = std::make_unique<FakeAudioCapture>(record);
        capture = fake.get();
        engine = std::make_unique<MusicVisualizerAudioEngine>(loop, std::move(fake));
        engine->setOnFailure([this] { ++failures; });
    }

    // 20 ms blocks of a stereo sine (or silence at amplitude 0) while time moves on.
    void play(double seconds, double hz, double amplitude) {
        const int frames = 960;
        std::vector<float> block(2 * frames);
        for (int tick = 0; tick < std::lround(seconds * 50); ++tick) {
            for (int n = 0; n < frames; ++n)
                block[2 * n] = block[2 * n + 1] = static_cast<float>(
                    amplitude * std::sin(2 * std::numbers::pi * hz * (tick * frames + n) / 48000));
            AudioBlock b;
            b.bufferCount = 1;
            b.buffers[0] = {block.data(), block.size() * sizeof(float)};
            capture->deliver(b);
            loop.advance(0.02);
        }
    }
};

TEST(MusicVisualizerAudioEngine, StartsOnceAndHandsCapturedBlocksToTheBands) {
    EngineRig rig;
    rig.engine->start();
    rig.engine->start();
    EXPECT_TRUE(rig.engine->isRunning());
    EXPECT_EQ(rig.record->opens, 1) << "a second start sets nothing up";
    EXPECT_TRUE(rig.capture->delivering());
    EXPECT_TRUE(rig.capture->listening());

    rig.play(0.3, 1000, 0.5);
    const VizBands bands = rig.engine->latestBands();
    EXPECT_EQ(std::max_element(bands.begin(), bands.end()) - bands.begin(), 34) << "1 kHz is band 34";

    rig.engine->stop();
    EXPECT_FALSE(rig.engine->isRunning());
    EXPECT_EQ(rig.record->closes, 1);
    EXPECT_FALSE(rig.capture->delivering());
    EXPECT_FALSE(rig.capture->listening());
    rig.engine->stop();
    EXPECT_EQ(rig.record->closes, 1);

    // Started again, it sets up anew.
    rig.engine->start();
    EXPECT_TRUE(rig.engine->isRunning());
    EXPECT_EQ(rig.record->opens, 2);
}

TEST(MusicVisualizerAudioEngine, EachFailedSetUpStepSaysWhichAndLeavesNothingOpen) {
    struct Case {
        std::optional<AudioCapture::Failure> failure;
        AudioFormat format;
        const char* message;
    };
    const Case cases[] = {
        {AudioCapture::Failure{"tap-create", 6}, {48000, 2, true}, "step=tap-create status=6"},
        {AudioCapture::Failure{"aggregate-create", 5}, {48000, 2, true}, "step=aggregate-create status=5"},
        {AudioCapture::Failure{"device-start", 8}, {48000, 2, true}, "step=device-start status=8"},
        {std::nullopt, {0, 2, true}, "step=format-read status=n/a (sample rate out of range)"},
        {std::nullopt, {500000, 2, true}, "step=format-read status=n/a (sample rate out of range)"},
        {std::nullopt, {48000, 0, true}, "step=format-read status=n/a (no channels)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EngineRig rig;
        rig.capture->failure = c.failure;
        rig.capture->format = c.format;
        rig.engine->start();
        EXPECT_FALSE(rig.engine->isRunning());
        EXPECT_EQ(rig.log.lines,
                  std::vector<std::string>{std::string("VIZ-AUDIO capture set-up failed: ") + c.message});
        EXPECT_FALSE(rig.capture->isOpen());
        EXPECT_FALSE(rig.capture->delivering());
        EXPECT_FALSE(rig.capture->listening());
        EXPECT_EQ(rig.failures, 0) << "a failed start is answered by isRunning, not the failure callback";
        // Nothing runs on: no timer stays behind.
        rig.loop.advance(5);
        EXPECT_EQ(rig.loop.pendingTimers(), 0u);
    }
}

TEST(MusicVisualizerAudioEngine, ABurstOfOutputChangesRebuildsOnceAfterTheLast) {
    EngineRig rig;
    rig.engine->start();
    for (int i = 0; i < 3; ++i) {
        rig.capture->changeOutput();
        rig.loop.advance(0.2);
    }
    EXPECT_EQ(rig.record->opens, 1) << "still within the debounce of the last change";
    rig.loop.advance(0.31);
    EXPECT_EQ(rig.record->opens, 2);
    EXPECT_EQ(rig.record->closes, 1);
    EXPECT_TRUE(rig.engine->isRunning());
    EXPECT_TRUE(rig.capture->delivering());
    rig.loop.advance(2);
    EXPECT_EQ(rig.record->opens, 2);

    // The new capture feeds the bands again.
    rig.play(0.3, 1000, 0.5);
    const VizBands bands = rig.engine->latestBands();
    EXPECT_EQ(std::max_element(bands.begin(), bands.end()) - bands.begin(), 34);

    // A change pending when the engine stops does nothing.
    rig.capture->changeOutput();
    rig.engine->stop();
    rig.loop.advance(1);
    EXPECT_EQ(rig.record->opens, 2);
}

TEST(MusicVisualizerAudioEngine, SilenceWithLiveCallbacksRebuildsTheCaptureOnlyWhileTheOutputPlays) {
    EngineRig rig;
    rig.engine->start();
    rig.play(1, 440, 0.3);
    rig.play(7, 440, 0.0);
    EXPECT_EQ(rig.record->opens, 2);
    EXPECT_TRUE(rig.engine->isRunning());

    // The capture says its output plays nothing: its zeros are no reason to rebuild, however long.
    rig.capture->setOutputPlaying(false);
    rig.play(20, 440, 0.0);
    EXPECT_EQ(rig.record->opens, 2);
    rig.capture->setOutputPlaying(true);
    rig.play(7, 440, 0.0);
    EXPECT_EQ(rig.record->opens, 3) << "the rebuilt capture still tells the analysis";
}

TEST(MusicVisualizerAudioEngine, ARebuildThatFailsStopsTheEngineAndSaysSo) {
    EngineRig rig;
    rig.engine->start();
    rig.capture->failure = AudioCapture::Failure{"tap-create", 6};
    rig.capture->changeOutput();
    rig.loop.advance(0.5);
    EXPECT_FALSE(rig.engine->isRunning());
    EXPECT_EQ(rig.failures, 1);
    EXPECT_EQ(rig.log.count("VIZ-AUDIO capture set-up failed: step=tap-create status=6"), 1);
    EXPECT_FALSE(rig.capture->listening());
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.loop.pendingTimers(), 0u) << "the analysis timer stopped";

    // Dropping it from its own failure report is safe on a later turn.
    rig.engine.reset();
    rig.loop.advance(1);
}

TEST(MusicVisualizerAudioEngine, DestroyedWhileRunningItClosesTheCaptureFirst) {
    EngineRig rig;
    rig.engine->start();
    rig.play(0.2, 1000, 0.5);
    rig.capture->changeOutput();
    rig.engine.reset();
    EXPECT_EQ(rig.record->closes, 1);
    rig.loop.advance(2);
    EXPECT_EQ(rig.record->opens, 1) << "no rebuild after the engine went";
}

}  // namespace
}  // namespace velaro::test
