// The real app's launch: the band first, with only what it needs loaded; what it leaves for later still
// comes (the sound server's library with the visualizer).
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"

namespace velaro::e2e {
namespace {

// The shared libraries the process has mapped whose file names hold `part`.
bool mapsLibrary(qint64 pid, const char* part) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly)) return false;
    return maps.readAll().contains(part);
}

TEST(LaunchTest, TheBandShowsWithoutTheSoundOrSettingsLibrariesWhichLoadWhenTheVisualizerStarts) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    RunningApp app(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false})");
    ASSERT_TRUE(app.start());
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    const QImage shot =
        screenshotWhen([&](const QImage& s) { return closeTo(s.pixelColor(inPanel), Qt::black, 4); },
                       std::chrono::seconds(15));
    ASSERT_TRUE(closeTo(shot.pixelColor(inPanel), Qt::black, 4))
        << "band " << shot.pixelColor(inPanel).name().toStdString();
    // Up and painted, with neither the sound server's nor GSettings' library (nor what they pull in).
    for (const char* library : {"libpulse", "libsndfile", "libgio-2.0"})
        EXPECT_FALSE(mapsLibrary(app.pid(), library)) << library << " is loaded";

    // The visualizer opens the sound server's library when it starts capturing.
    ASSERT_TRUE(app.writeSettings(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false, "vizEnabled": true})"));
    EXPECT_TRUE(waitUntil([&] { return mapsLibrary(app.pid(), "libpulse"); }, std::chrono::seconds(15)))
        << "the visualizer never loaded the sound server's library";
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velaro::e2e
