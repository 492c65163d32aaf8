// The real app's visualizer colours on the test desktop: in the "artwork" mode the bars take the colour of
// the playing track's cover, and mono bars over the dark desktop, which publishes no light or dark
// preference, are light.
#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <cstdlib>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/TestPlayer.h"
#include "e2e/VizDesktop.h"

namespace velaro::e2e {
namespace {

using namespace std::chrono_literals;

enum class Ink { green, white };

// Whether the strip (left of the panel's clock and tray) shows bars of `ink` over `before`: more than 300
// pixels moved clearly toward it, and fewer than 20 otherwise. Bars move each pixel toward their ink where
// they cover it partly and add the ink's light (their glow): toward green only green rises; toward white over
// the desktop's blue (58, 110, 165) every channel rises, red the most and blue the least.
bool showsBarsOf(Ink ink, const QImage& shot, const QImage& before) {
    if (shot.size() != before.size() || shot.isNull()) return false;
    int toward = 0, off = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width() * 3 / 4; x += 2) {
            const QColor now = shot.pixelColor(x, y), was = before.pixelColor(x, y);
            const int r = now.red() - was.red(), g = now.green() - was.green(), b = now.blue() - was.blue();
            if (std::max({std::abs(r), std::abs(g), std::abs(b)}) <= 30) continue;
            const bool along =
                ink == Ink::green ? r <= 12 && b <= 12 : b >= -12 && r + 12 >= g && g + 12 >= b;
            ++(along ? toward : off);
        }
    return toward > 300 && off < 20;
}

TEST(VizColourDesktopTest, ArtworkBarsTakeTheCoversGreenAndMonoBarsAreLightOnTheDarkDesktop) {
    VELARO_REQUIRE_DESKTOP();
    TestPlayer player(QStringLiteral("velarocover"), QStringLiteral("#00ff00"));
    ASSERT_TRUE(player.ready());
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/1 200 Song")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));

    const QByteArray settings = R"({"onboardingStep": 4, "masterEnabled": true, "vizEnabled": true,
        "vizStyle": "bars", "vizColorMode": "%1"})";
    RunningApp app(QString::fromUtf8(settings).arg(QStringLiteral("artwork")).toUtf8());
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitUntil(vizWindowExists, 15s)) << "the app made no visualizer window";
    const QImage before = settledStrip();
    ASSERT_FALSE(before.isNull()) << "the top of the screen never settled";

    QProcess sound;
    ASSERT_TRUE(startPlayingIntoTheSink(sound));
    sound.write(noise(25));

    // The cover is fetched while the bars come: they may show the picked colour first, then cross over.
    const auto barsOf = [&](Ink ink) {
        return [&, ink](const QImage& shot) { return showsBarsOf(ink, shot, before); };
    };
    EXPECT_TRUE(barsOf(Ink::green)(stripWhen(barsOf(Ink::green), 12s)))
        << "no green bars from the green cover";
    ASSERT_TRUE(app.writeSettings(QString::fromUtf8(settings).arg(QStringLiteral("mono")).toUtf8()));
    EXPECT_TRUE(barsOf(Ink::white)(stripWhen(barsOf(Ink::white), 8s)))
        << "mono bars are not light on the dark desktop";

    sound.closeWriteChannel();
    sound.kill();
    sound.waitForFinished(3000);
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velaro::e2e
