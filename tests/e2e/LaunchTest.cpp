// The real app's launch: the band first, with only what it needs loaded; what it leaves for later still
// comes (the sound server's library with the visualizer, the icon theme's own status icon).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <optional>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/TrayApp.h"

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
    // The settings the launch migrated are written once the band is up.
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile file(app.settingsPath());
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("strokeRadiusMigrated");
        },
        std::chrono::seconds(10)))
        << "the migrated settings were never written";

    // The visualizer opens the sound server's library when it starts capturing.
    ASSERT_TRUE(app.writeSettings(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false, "vizEnabled": true})"));
    EXPECT_TRUE(waitUntil([&] { return mapsLibrary(app.pid(), "libpulse"); }, std::chrono::seconds(15)))
        << "the visualizer never loaded the sound server's library";
    EXPECT_TRUE(app.running());
}

// The app's small window in the panel: its tray icon.
std::optional<QRect> trayIcon(qint64 pid) {
    for (const QRect& g : visibleWindows({QStringLiteral("--pid"), QString::number(pid)}))
        if (g.top() >= 0 && g.bottom() < TrayApp::panelHeight && g.width() <= TrayApp::panelHeight) return g;
    return std::nullopt;
}

bool showsRed(const QImage& shot, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (closeTo(shot.pixelColor(x, y), QColor(0xff, 0, 0), 16)) return true;
    return false;
}

TEST(LaunchTest, AStatusIconOfTheDesktopsThemeTakesOverFromTheAppsOwnOnceTheBandShows) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    // A theme folder of the user's own with a red square for the "on" icon.
    QTemporaryDir data;
    const QString status = data.filePath(QStringLiteral("icons/hicolor/scalable/status"));
    ASSERT_TRUE(QDir().mkpath(status));
    QFile icon(status + QStringLiteral("/velaro-status-on.svg"));
    ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
    icon.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="18" height="18">)"
               R"(<rect width="18" height="18" fill="#ff0000"/></svg>)");
    icon.close();

    RunningApp app(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false})");
    app.setEnvironment(QStringLiteral("XDG_DATA_HOME"), data.path());
    ASSERT_TRUE(app.start());
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    std::optional<QRect> place;
    ASSERT_TRUE(
        waitUntil([&] { return (place = trayIcon(app.pid())).has_value(); }, std::chrono::seconds(15)))
        << "no icon in the tray";
    const QImage shot = screenshotWhen(
        [&](const QImage& s) { return closeTo(s.pixelColor(inPanel), Qt::black, 4) && showsRed(s, *place); },
        std::chrono::seconds(15));
    EXPECT_TRUE(closeTo(shot.pixelColor(inPanel), Qt::black, 4))
        << "band " << shot.pixelColor(inPanel).name().toStdString();
    EXPECT_TRUE(showsRed(shot, *place)) << "the tray kept the app's own icon";
}

}  // namespace
}  // namespace velaro::e2e
