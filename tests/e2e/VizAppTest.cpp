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

namespace velaro::e2e {
namespace {

const QColor kAppColour(0x2c, 0xa0, 0x4a);

// Loud noise, 16-bit stereo at 48 kHz, for `seconds`: every band of the analysis gets some of it.
QByteArray noise(double seconds) {
    const int frames = int(48000 * seconds);
    QByteArray data(frames * 4, Qt::Uninitialized);
    auto* samples = reinterpret_cast<std::int16_t*>(data.data());
    std::uint32_t state = 12345;
    for (int i = 0; i < frames * 2; ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = std::int16_t(int(state >> 16) - 32768) / 3;
    }
    return data;
}

// The top 60 rows of the screen as the compositor shows them, read straight from the X server (a full
// screenshot through a file takes too long to time the bars with).
QImage topStrip() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, 0, 0, screen->geometry().width(), 60)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Pixels of the strip that differ clearly from the same pixels of `before`, left of the panel's clock and
// tray (the clock changes on its own).
int changedPixels(const QImage& shot, const QImage& before) {
    if (shot.size() != before.size() || shot.isNull()) return -1;
    int changed = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        for (int x = 0; x < shot.width() * 3 / 4; x += 2)
            if (!closeTo(QColor(a[x]), QColor(b[x]), 40)) ++changed;
    }
    return changed;
}

// Reads the strip until `accept` holds for one (returned) or `timeout` passes (the last one is returned).
QImage stripWhen(const std::function<bool(const QImage&)>& accept, std::chrono::milliseconds timeout) {
    QImage last;
    waitUntil(
        [&] {
            last = topStrip();
            return accept(last);
        },
        timeout);
    return last;
}

// Noise played into the default output for as long as the object lives.
struct NoisePlayer : QProcess {
    NoisePlayer() {
        start(QStringLiteral("pacat"),
              {QStringLiteral("--playback"), QStringLiteral("--device=@DEFAULT_SINK@"),
               QStringLiteral("--format=s16le"), QStringLiteral("--rate=48000"),
               QStringLiteral("--channels=2")});
        if (waitForStarted(5000)) write(noise(12));
    }
    ~NoisePlayer() override {
        kill();
        waitForFinished(3000);
    }
};

bool vizWindowExists() {
    const auto found = run(QStringLiteral("xdotool"),
                           {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^viz-bar$")});
    return found.exitCode == 0 && !found.out.trimmed().isEmpty();
}

TEST(VizAppTest, SoundShowsBarsUnderThePanelThatClicksPassAndSilenceAndTheMasterSwitchRemove) {
    VELARO_REQUIRE_DESKTOP();
    PressCountingWindow below(kAppColour);
    below.setGeometry(400, 40, 600, 300);
    below.show();
    ASSERT_TRUE(waitUntil([&] { return below.windowHandle() && below.windowHandle()->isExposed(); }));

    RunningApp app(R"({"onboardingStep": 4, "masterEnabled": true, "vizEnabled": true})");
    ASSERT_TRUE(app.start(true));
    ASSERT_TRUE(waitUntil(vizWindowExists, std::chrono::seconds(15))) << "the app made no visualizer window";
    // The app's band over the panel settles first: the strip must look the same in two shots in a row.
    QImage before = topStrip();
    const QImage settled = stripWhen(
        [&](const QImage& shot) {
            const bool same = changedPixels(shot, before) == 0;
            before = shot;
            return same;
        },
        std::chrono::seconds(10));
    ASSERT_FALSE(before.isNull());
    ASSERT_EQ(changedPixels(settled, before), 0) << "the top of the screen never settled";

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
