// The real app against what real desktops tell: a shell on the session bus opening its overview withdraws
// the band and freezes sampling until it closes; the X server's screen saver (and the DPMS power saving it
// stands for) stops capture until it is reset; in the pill shape the capsule reaches past the panel's clock.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/StandInShell.h"
#include "e2e/TrayApp.h"

namespace velaro::e2e {
namespace {

const QColor kFirst(0xc8, 0x3c, 0x28);
const QColor kSecond(0x28, 0x50, 0xc8);

class DesktopIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        panel = panelHeight();
        ASSERT_GT(panel, 0);
        inPanel = QPoint(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    }
    // Waits for the band at the probe point to show `colour`.
    bool bandShows(QColor colour, std::chrono::milliseconds within = std::chrono::seconds(15)) {
        const QImage shot = screenshotWhen(
            [&](const QImage& s) { return closeTo(s.pixelColor(inPanel), colour, 10); }, within);
        return closeTo(shot.pixelColor(inPanel), colour, 10);
    }
    bool logSays(RunningApp& app, const char* text) {
        return waitUntil([&] { return app.errorOutput().contains(text); });
    }

    int panel = 0;
    QPoint inPanel;
};

TEST_F(DesktopIntegrationTest, AShellOnTheBusOpeningItsOverviewWithdrawsTheBandAndFreezesSamplingUntilItCloses) {
    const QColor bare = screenshot().pixelColor(inPanel);
    RunningApp app(R"({"onboardingStep": 4})");
    ASSERT_TRUE(app.start(true));
    SolidWindow window(kFirst);
    ASSERT_TRUE(bandShows(kFirst)) << "the band never took the window's colour";
    EXPECT_TRUE(logSays(app, "the overview is not detected"))
        << "openbox has no overview: said once\n" << app.errorOutput().toStdString();

    // The shell appears after the app, as after a restart of it.
    StandInShell shell;
    ASSERT_TRUE(shell.appear()) << "no session bus, or org.gnome.Shell is taken";
    ASSERT_TRUE(logSays(app, "following GNOME Shell's overview")) << app.errorOutput().toStdString();

    shell.setOverviewActive(true);
    EXPECT_TRUE(bandShows(bare, std::chrono::seconds(5))) << "the band stayed over the overview";
    window.paint(kSecond);
    // Frozen: nothing of the new colour reaches the screen while the overview shows.
    bool leaked = false;
    screenshotWhen(
        [&](const QImage& s) {
            leaked = leaked || closeTo(s.pixelColor(inPanel), kSecond, 24);
            return false;
        },
        std::chrono::milliseconds(1500));
    EXPECT_FALSE(leaked);

    shell.setOverviewActive(false);
    EXPECT_TRUE(bandShows(kSecond)) << "sampling did not resume when the overview closed";
    EXPECT_EQ(app.errorOutput().count("the overview is not detected"), 1);
}

// Leaves the screen saver as it found it, whatever the test did.
struct SaverReset {
    ~SaverReset() { run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")}); }
};

TEST_F(DesktopIntegrationTest, TheScreenSaverStopsCaptureAndItsResetStartsItAgain) {
    RunningApp app(R"({"onboardingStep": 4})");
    ASSERT_TRUE(app.start());
    SolidWindow window(kFirst);
    ASSERT_TRUE(bandShows(kFirst)) << "the band never took the window's colour";

    SaverReset reset;
    ASSERT_EQ(run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("activate")}).exitCode, 0);
    // Give the app time to hear of it, then change what lies under the panel: asleep, nothing is captured.
    waitUntil([] { return false; }, std::chrono::milliseconds(500));
    window.paint(kSecond);
    bool captured = false;
    screenshotWhen(
        [&](const QImage& s) {
            captured = captured || closeTo(s.pixelColor(inPanel), kSecond, 24);
            return false;
        },
        std::chrono::seconds(2));
    EXPECT_FALSE(captured) << "capture went on while the displays slept";

    ASSERT_EQ(run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")}).exitCode, 0);
    EXPECT_TRUE(bandShows(kSecond)) << "capture did not start again when the displays woke";
}

// The last column of the panel's right half in which something is drawn over `bare` (the clock's last glyph).
int lastDrawnColumn(const QImage& shot, int panel, QColor bare) {
    for (int x = shot.width() - 1; x > shot.width() / 2; --x)
        for (int y = 0; y < panel; ++y)
            if (!closeTo(shot.pixelColor(x, y), bare, 60)) return x;
    return -1;
}

TEST_F(DesktopIntegrationTest, InThePillShapeTheCapsuleReachesPastThePanelsLastGlyph) {
    // The panel's clock shows minutes: a minute turning between the bare shot and the capsule's can move the
    // last glyph's edge onto the column checked. The bare panel is read again once the app has gone; when its
    // last glyph moved, the run is repeated (it takes seconds, so the minute cannot turn again).
    const int mid = panel / 2;
    for (int attempt = 0;; ++attempt) {
        const QImage before = screenshot();
        const QColor bare = before.pixelColor(inPanel);
        const int glyph = lastDrawnColumn(before, panel, bare);
        ASSERT_GT(glyph, 0) << "the panel's clock was not found";
        QImage shot;
        {
            const QByteArray pill = QByteArray(R"({"shapeMode": "Pill"})").toBase64();
            RunningApp app(R"({"onboardingStep": 4, "cornerSettings": {"$data": ")" + pill + R"("}})");
            ASSERT_TRUE(app.start());
            // The pills are measured when the front app changes: let the app's tray icon dock first.
            ASSERT_TRUE(waitUntil(
                [&] {
                    for (const QRect& g :
                         visibleWindows({QStringLiteral("--pid"), QString::number(app.pid())}))
                        if (g.top() >= 0 && g.bottom() < panel && g.width() <= panel) return true;
                    return false;
                },
                std::chrono::seconds(10)))
                << "the app's tray icon never docked";
            SolidWindow window(kFirst);
            shot = screenshotWhen(
                [&](const QImage& s) { return closeTo(s.pixelColor(glyph + 1, mid), kFirst, 40); },
                std::chrono::seconds(15));
        }
        const QImage after = screenshotWhen([&](const QImage& s) {
            return lastDrawnColumn(s, panel, bare) > 0 && closeTo(s.pixelColor(inPanel), bare);
        });
        if (lastDrawnColumn(after, panel, bare) != glyph && attempt == 0) continue;
        shot.save(buildDir() + QStringLiteral("/e2e-pill-capsule.png"));
        EXPECT_TRUE(closeTo(shot.pixelColor(glyph + 1, mid), kFirst, 40))
            << "right of the last glyph (x " << glyph + 1
            << "): " << shot.pixelColor(glyph + 1, mid).name().toStdString() << "; see e2e-pill-capsule.png";
        EXPECT_FALSE(closeTo(shot.pixelColor(inPanel), kFirst, 40)) << "the rest of the panel stays bare";
        return;
    }
}

}  // namespace
}  // namespace velaro::e2e
