// The real app's visualizer in the test desktop: sound played into the desktop's sink shows bars along the
// top of the screen under the panel, clicks pass through them, silence takes them away (and rebuilds
// nothing), sound brings them back at once, also after the only output was unplugged, and the master switch
// removes the window.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <functional>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/SoundOutputs.h"
#include "e2e/VizDesktop.h"

namespace velaro::e2e {
namespace {

const QColor kAppColour(0x2c, 0xa0, 0x4a);

// Noise played into the default output for as long as the object lives.
struct NoisePlayer : QProcess {
    NoisePlayer() {
        if (startPlayingIntoTheSink(*this)) write(noise(12));
    }
    ~NoisePlayer() override {
        kill();
        waitForFinished(3000);
    }
};

TEST(VizAppTest, SoundShowsBarsUnderThePanelThatClicksPassAndSilenceAndTheMasterSwitchRemove) {
    VELARO_REQUIRE_DESKTOP();
    PressCountingWindow below(kAppColour);
    below.setGeometry(400, 40, 600, 300);
    below.show();
    ASSERT_TRUE(waitUntil([&] { return below.windowHandle() && below.windowHandle()->isExposed(); }));

    RunningApp app(R"({"onboardingStep": 4, "masterEnabled": true, "vizEnabled": true})");
    ASSERT_TRUE(app.start(true));
    ASSERT_TRUE(waitUntil(vizWindowExists, std::chrono::seconds(15))) << "the app made no visualizer window";
    const QImage before = settledStrip();
    ASSERT_FALSE(before.isNull()) << "the top of the screen never settled";

    // The bars come at the first quarter-second tick that hears the sound; the bounds below leave a loaded
    // sanitizer build room, the latency itself is the frame-step benchmark's business.
    const auto barsWithin = [&](std::chrono::milliseconds within) {
        const auto bars = [&](const QImage& shot) { return changedPixels(shot, before) > 200; };
        return bars(stripWhen(bars, within));
    };
    auto player = std::make_unique<NoisePlayer>();
    ASSERT_TRUE(barsWithin(std::chrono::seconds(5))) << "no bars within 5 s of the sound";

    const auto clicked = click(700, 45);
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return below.presses > 0; })) << "the click stopped at the visualizer";

    player.reset();
    const auto silence = std::chrono::steady_clock::now();
    const auto quietWithin = [&](std::chrono::milliseconds within) {
        const auto quiet = [&](const QImage& shot) { return changedPixels(shot, before) < 20; };
        return quiet(stripWhen(quiet, within));
    };
    EXPECT_TRUE(quietWithin(std::chrono::seconds(8))) << "bars stay 8 s after the sound stopped";

    // After 15 s of silence (an idle output, not a broken capture) the bars come back at once.
    waitUntil([&] { return std::chrono::steady_clock::now() - silence > std::chrono::seconds(15); },
              std::chrono::seconds(16));
    player = std::make_unique<NoisePlayer>();
    EXPECT_TRUE(barsWithin(std::chrono::milliseconds(1500))) << "no bars within 1.5 s after the silence";
    player.reset();
    // The only output unplugged for 3 s and plugged back in: the bars come on the next sound.
    ASSERT_TRUE(quietWithin(std::chrono::seconds(8)));
    {
        OutputUnplugged unplugged;
        ASSERT_TRUE(unplugged.unloaded());
        waitUntil([] { return false; }, std::chrono::seconds(3));
    }
    player = std::make_unique<NoisePlayer>();
    EXPECT_TRUE(barsWithin(std::chrono::seconds(5))) << "no bars within 5 s after the output came back";
    player.reset();
    const QByteArray said = app.errorOutput();
    EXPECT_FALSE(said.contains("rebuild") || said.contains("set-up failed")) << said.toStdString();

    ASSERT_TRUE(app.writeSettings(R"({"onboardingStep": 4, "masterEnabled": false, "vizEnabled": true})"));
    EXPECT_TRUE(waitUntil([] { return !vizWindowExists(); }, std::chrono::seconds(10)))
        << "the master switch left the window";
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velaro::e2e
