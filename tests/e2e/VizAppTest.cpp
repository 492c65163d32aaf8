// The real app's visualizer in the test desktop: sound played into the desktop's sink shows bars along the
// top of the screen under the panel, clicks pass through them, silence takes them away and the master switch
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
#include "e2e/VizDesktop.h"

namespace velaro::e2e {
namespace {

const QColor kAppColour(0x2c, 0xa0, 0x4a);

TEST(VizAppTest, SoundShowsBarsUnderThePanelThatClicksPassAndSilenceAndTheMasterSwitchRemove) {
    VELARO_REQUIRE_DESKTOP();
    PressCountingWindow below(kAppColour);
    below.setGeometry(400, 40, 600, 300);
    below.show();
    ASSERT_TRUE(waitUntil([&] { return below.windowHandle() && below.windowHandle()->isExposed(); }));

    RunningApp app(R"({"onboardingStep": 4, "masterEnabled": true, "vizEnabled": true})");
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitUntil(vizWindowExists, std::chrono::seconds(15))) << "the app made no visualizer window";
    const QImage before = settledStrip();
    ASSERT_FALSE(before.isNull()) << "the top of the screen never settled";

    QProcess player;
    ASSERT_TRUE(startPlayingIntoTheSink(player));
    // The bars come at the first quarter-second tick that hears the sound; the bounds below leave a loaded
    // sanitizer build room, the latency itself is the frame-step benchmark's business.
    player.write(noise(12));
    const QImage playing = stripWhen([&](const QImage& shot) { return changedPixels(shot, before) > 200; },
                                     std::chrono::seconds(5));
    ASSERT_GT(changedPixels(playing, before), 200) << "no bars within 5 s of the sound";

    const auto clicked = click(700, 45);
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return below.presses > 0; })) << "the click stopped at the visualizer";

    player.closeWriteChannel();
    player.kill();
    player.waitForFinished(3000);
    const QImage quiet = stripWhen([&](const QImage& shot) { return changedPixels(shot, before) < 20; },
                                   std::chrono::seconds(8));
    EXPECT_LT(changedPixels(quiet, before), 20) << "bars stay 8 s after the sound stopped";

    ASSERT_TRUE(app.writeSettings(R"({"onboardingStep": 4, "masterEnabled": false, "vizEnabled": true})"));
    EXPECT_TRUE(waitUntil([] { return !vizWindowExists(); }, std::chrono::seconds(10)))
        << "the master switch left the window";
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velaro::e2e
