// The real app in the pill shape on the test desktop, at one and at two pixels a point: on the panel's row
// the band is cut to a short capsule around the tray and the clock, not drawn across the screen. The panel
// keeps its size in pixels at every scale the app draws at, so at two pixels a point its 28 px are 14 points.
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "e2e/E2eSupport.h"
#include "e2e/TrayApp.h"

namespace velaro::e2e {
namespace {

const QColor kWindow(0xc8, 0x3c, 0x28);

// Solid style in the colour sampled below the panel, the pill shape with its default look, the tour done.
QByteArray pillSettings() {
    const QByteArray pill = QByteArray(R"({"shapeMode": "Pill"})").toBase64();
    return R"({"onboardingStep": 4, "menuBarStyle": "solid", "autoSampleColor": true, "cornerSettings": {"$data": ")" +
           pill + R"("}})";
}

// One row of a monitor's panel: the columns tinted by the band, and the clock's last white glyph column.
struct PanelRow {
    int first = -1, last = -1, tinted = 0;
    int lastGlyph = -1;
};

PanelRow readRow(const QImage& shot, const QRect& monitor, int row, int panel) {
    PanelRow r;
    for (int x = monitor.left(); x <= monitor.right(); ++x) {
        if (!closeTo(shot.pixelColor(x, row), kWindow, 40)) continue;
        if (r.first < 0) r.first = x;
        r.last = x;
        ++r.tinted;
    }
    for (int x = monitor.right(); x > monitor.center().x() && r.lastGlyph < 0; --x)
        for (int y = monitor.top(); y < monitor.top() + panel; ++y) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200) {
                r.lastGlyph = x;
                break;
            }
        }
    return r;
}

// The most rows of the panel the band tints in any one column from x0 to x1: the capsule's height.
int tintedRows(const QImage& shot, int x0, int x1, int top, int panel) {
    int most = 0;
    for (int x = x0; x <= x1; ++x) {
        int rows = 0;
        for (int y = top; y < top + panel; ++y) rows += closeTo(shot.pixelColor(x, y), kWindow, 40) ? 1 : 0;
        most = std::max(most, rows);
    }
    return most;
}

// The capsule wraps the tray (from its first icon) and the clock (past its last glyph), and is short.
bool wrapsTray(const PanelRow& r, const QRect& monitor, const QRect& icon) {
    return r.first >= 0 && r.first <= icon.left() && r.lastGlyph > icon.right() && r.last > r.lastGlyph &&
           r.last - r.first < monitor.width() / 4 && r.tinted > (r.last - r.first) / 3;
}

class PillShapeDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        panel = panelHeight();
        ASSERT_GT(panel, 0);
    }

    // Runs the app at `ratio` pixels a point over a maximised window on the tray's monitor and checks the
    // capsule on the panel's middle row; `shotName` keeps the last screenshot in the build directory.
    void checkPillAt(int ratio, const QString& shotName) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        TrayApp app;
        app.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio));
        QString why;
        ASSERT_TRUE(app.launch(pillSettings(), &why)) << why.toStdString();
        const QRect icon = app.icon();
        QScreen* trayScreen = QGuiApplication::screenAt(icon.center());
        ASSERT_TRUE(trayScreen) << "the tray icon lies on no monitor";
        const QRect monitor = trayScreen->geometry();

        SolidWindow window(kWindow);
        window.widget().windowHandle()->setScreen(trayScreen);
        window.widget().setGeometry(monitor);
        window.widget().showMaximized();

        const int row = monitor.top() + panel / 2;
        const QImage shot = screenshotWhen(
            [&](const QImage& s) {
                // The reveal rises from the band's bottom: wait for the whole capsule, not only its middle.
                const PanelRow r = readRow(s, monitor, row, panel);
                return wrapsTray(r, monitor, icon) &&
                       tintedRows(s, r.first, r.last, monitor.top(), panel) >= panel / 3;
            },
            std::chrono::seconds(20));
        shot.save(buildDir() + QLatin1Char('/') + shotName);
        const PanelRow r = readRow(shot, monitor, row, panel);
        ASSERT_GE(r.first, 0) << "no band on the panel's row; see " << shotName.toStdString();
        EXPECT_LT(r.last - r.first, monitor.width() / 4) << "the band spans x " << r.first << " to " << r.last
                                                         << ", not a capsule; see " << shotName.toStdString();
        EXPECT_LE(r.first, icon.left()) << "the capsule starts right of the tray's icon at x " << icon.left();
        EXPECT_GT(r.lastGlyph, icon.right()) << "the clock right of the tray was not found";
        EXPECT_GT(r.last, r.lastGlyph) << "the capsule ends before the clock's last glyph";
        EXPECT_GT(r.tinted, (r.last - r.first) / 3) << "the capsule is mostly bare";
        // A good part of the panel's height at both ratios, not a line through the icons.
        EXPECT_GE(tintedRows(shot, r.first, r.last, monitor.top(), panel), panel / 3)
            << "the capsule is too thin beside the tray; see " << shotName.toStdString();
        EXPECT_FALSE(closeTo(shot.pixelColor(monitor.left() + monitor.width() / 3, row), kWindow, 40))
            << "the rest of the panel stays bare";
    }

    int panel = 0;
};

TEST_F(PillShapeDesktopTest, AtOneAndTwoPixelsAPointTheCapsuleWrapsTheTrayAndClock) {
    checkPillAt(1, QStringLiteral("e2e-pill-ratio1.png"));
    checkPillAt(2, QStringLiteral("e2e-pill-ratio2.png"));
}

TEST_F(PillShapeDesktopTest, OnTwoMonitorsTheCapsuleWrapsTheTrayOnItsMonitorAtOneAndTwoPixelsAPoint) {
    if (QGuiApplication::screens().size() < 2)
        GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    checkPillAt(1, QStringLiteral("e2e-pill-two-monitors-ratio1.png"));
    checkPillAt(2, QStringLiteral("e2e-pill-two-monitors-ratio2.png"));
}

}  // namespace
}  // namespace velaro::e2e
