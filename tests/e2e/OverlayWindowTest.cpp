// Overlay windows on the test desktop: a main-menu-level window lies under the panel's clock and tray but
// over other windows, stays there when another window is raised, lets clicks through and never takes focus.
#include <xcb/damage.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "e2e/X11StackProbe.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "support/OverlayQtWindow.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;
const QColor kTint(0x78, 0x14, 0x5a);
const QColor kAppColour(0x2c, 0xa0, 0x4a);

// An ordinary application window of one colour that counts the presses it gets.
class AppWindow : public QWidget {
public:
    AppWindow() { setWindowFlags(Qt::FramelessWindowHint); }
    int presses = 0;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kAppColour); }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// How many pixels of the panel strip do not show the tint: the panel's clock and tray icons.
// Counted over the columns of one monitor, from `left`, `width` wide.
int panelPixelsOverTint(const QImage& shot, int left, int width) {
    int count = 0;
    for (int y = 2; y < kPanelHeight - 2; ++y)
        for (int x = left; x < std::min(left + width, shot.width()); ++x)
            if (!closeTo(shot.pixelColor(x, y), kTint, 12)) ++count;
    return count;
}

// Whether the X server saw a window's pixels change, as a compositor would: a damage report of our own on
// the window, read on a connection of our own.
class DamageWatch {
public:
    explicit DamageWatch(xcb_window_t window) : c_(xcb_connect(nullptr, nullptr)) {
        const auto* ext = xcb_get_extension_data(c_, &xcb_damage_id);
        if (!ext || !ext->present) return;
        firstEvent_ = ext->first_event;
        std::free(xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
        damage_ = xcb_generate_id(c_);
        xcb_damage_create(c_, damage_, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        changed();
    }
    ~DamageWatch() {
        if (damage_) xcb_damage_destroy(c_, damage_);
        xcb_disconnect(c_);
    }
    bool usable() const { return damage_ != 0; }
    // Whether the window's pixels changed since the last call.
    bool changed() {
        // A round trip: every report the server made before it has arrived.
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        bool any = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            any = any || (event->response_type & 0x7f) == firstEvent_ + XCB_DAMAGE_NOTIFY;
            std::free(event);
        }
        // Reports come again only once what was reported is taken away.
        if (any) xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
        return any;
    }

private:
    xcb_connection_t* c_;
    std::uint8_t firstEvent_ = 0;
    xcb_damage_damage_t damage_ = 0;
};

class OverlayWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_NE(qtConnection(), nullptr) << "the end-to-end tests run on the xcb platform";
        loop = std::make_unique<QtMainLoop>();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        host = std::make_unique<QtOverlayWindowHost>(*loop, session->session.get());
        screen = QGuiApplication::primaryScreen()->geometry();

        app.setGeometry(200, 120, 500, 300);
        app.show();
        ASSERT_TRUE(waitUntil([&] { return app.isVisible() && app.windowHandle()->isExposed(); }));
        app.windowHandle()->requestActivate();
        ASSERT_TRUE(waitUntil([&] { return app.isActiveWindow(); })) << "the app window never got focus";
    }
    void TearDown() override {
        band.reset();
        host.reset();
        session.reset();
        loop.reset();
    }
    std::unique_ptr<TestSession> session;

    // A tint band across the whole top of the screen, 150 pt deep, reaching over the app window.
    void showBand(int level) {
        const Rect frame(0, screen.height() - 150, screen.width(), 150);
        band = host->makeWindow({"overlay-band", frame, level, 1.0, [](QPainter& p, Size s) {
                                     p.fillRect(QRectF(0, 0, s.width, s.height), kTint);
                                 }});
        band->orderFrontRegardless();
    }

    // Clicks pass through the band: the server holds an empty input region for its window.
    bool bandTakesNoInput() const {
        xcb_connection_t* c = qtConnection();
        const auto window = xcb_window_t(band->windowNumber());
        auto* reply =
            xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_INPUT), nullptr);
        const bool empty = reply && reply->rectangles_len == 0;
        std::free(reply);
        return empty;
    }

    bool bandLiesRightUnderThePanel() const {
        return liesRightUnderAPanel(xcb_window_t(band->windowNumber()));
    }

    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<QtOverlayWindowHost> host;
    std::unique_ptr<OverlayWindow> band;
    QRect screen;
    AppWindow app;
};

TEST_F(OverlayWindowTest, MainMenuLevelLiesUnderThePanelItemsAndOverOtherWindows) {
    EXPECT_TRUE(host->supportsTranslucency()) << "the test desktop runs a compositor";
    showBand(OverlayWindowLevel::belowPanel);
    EXPECT_TRUE(waitUntil([&] { return bandTakesNoInput(); })) << "the test desktop lets clicks through";

    const QPoint overApp(450, 140);
    const QImage shot = screenshotWhen([&](const QImage& image) {
        return closeTo(image.pixelColor(overApp), kTint, 6) && closeTo(image.pixelColor(5, 100), kTint, 6);
    });
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(closeTo(shot.pixelColor(overApp), kTint, 6)) << "the app window shows through the band";
    EXPECT_TRUE(closeTo(shot.pixelColor(450, 300), kAppColour, 6)) << "the app window below the band is gone";
    EXPECT_GT(panelPixelsOverTint(shot, screen.x(), screen.width()), 30)
        << "the panel's clock and tray should draw over the tint";

    EXPECT_TRUE(bandLiesRightUnderThePanel()) << "the window right above the band is not the panel";

    // The same band at the status level covers the panel too: the difference is the level, not the paint.
    band->setLevel(OverlayWindowLevel::panel);
    const QImage covered = screenshotWhen(
        [&](const QImage& image) { return panelPixelsOverTint(image, screen.x(), screen.width()) == 0; });
    EXPECT_EQ(panelPixelsOverTint(covered, screen.x(), screen.width()), 0)
        << "a status-level window lies above the panel";
}

TEST_F(OverlayWindowTest, ClicksPassThroughToTheWindowBelowWhichStaysBelow) {
    showBand(OverlayWindowLevel::belowPanel);
    const QPoint overApp(450, 140);
    ASSERT_FALSE(screenshotWhen([&](const QImage& image) {
                     return closeTo(image.pixelColor(overApp), kTint, 6);
                 }).isNull());
    ASSERT_TRUE(closeTo(screenshot().pixelColor(overApp), kTint, 6));

    const auto clicked = click(overApp.x(), overApp.y());
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    ASSERT_TRUE(waitUntil([&] { return app.presses > 0; })) << "the click did not reach the app window";

    // A window that opens now goes to the top of the window manager's stack; the band stays over it.
    AppWindow other;
    other.setGeometry(600, 100, 300, 200);
    other.show();
    ASSERT_TRUE(waitUntil([&] { return other.windowHandle()->isExposed(); }));
    EXPECT_TRUE(waitUntil([&] { return bandLiesRightUnderThePanel(); }))
        << "a new window stayed over the band";
    const QPoint overOther(650, 140);
    const QImage after =
        screenshotWhen([&](const QImage& image) { return closeTo(image.pixelColor(overOther), kTint, 6); });
    EXPECT_TRUE(closeTo(after.pixelColor(overOther), kTint, 6)) << "the new window covers the band";
}

// A panel that restarts is another window in another frame; the window manager restarting puts the same
// panel in a new frame: the band goes right under the panel each time.
TEST_F(OverlayWindowTest, TheBandFollowsThePanelIntoItsNewFrame) {
    showBand(OverlayWindowLevel::belowPanel);
    ASSERT_TRUE(waitUntil([&] { return bandLiesRightUnderThePanel(); }));
    for (const auto& [program, argument] :
         {std::pair{sourceDir() + "/scripts/desktop-session", "restart-panel"},
          std::pair{QStringLiteral("openbox"), "--restart"}}) {
        const auto stack = mappedStack();
        const auto frame = *(std::find(stack.begin(), stack.end(), xcb_window_t(band->windowNumber())) + 1);
        const auto renewed = run(program, {QString::fromLatin1(argument)}, std::chrono::seconds(60));
        ASSERT_EQ(renewed.exitCode, 0) << renewed.describe().toStdString();
        ASSERT_TRUE(waitUntil([&] {
            const auto now = mappedStack();
            return std::find(now.begin(), now.end(), frame) == now.end();
        })) << "the panel's frame stayed: " << argument;
        ASSERT_TRUE(waitUntil([&] { return bandLiesRightUnderThePanel(); }))
            << "the band lost the panel: " << argument;
        // The window manager may have put the panel over the band wherever that lay: the band's own reading
        // of the stack must find it there too.
        host->reassertStack();
        EXPECT_TRUE(waitUntil([&] { return bandLiesRightUnderThePanel(); }))
            << "the band lost the panel: " << argument;
    }
}

// With two monitors each has its own panel; a band goes under the panel of the monitor it lies on.
TEST_F(OverlayWindowTest, EachMonitorsBandLiesUnderItsOwnPanel) {
    const auto screens = QGuiApplication::screens();
    if (screens.size() < 2) GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    const QScreen* second = screens[0] == QGuiApplication::primaryScreen() ? screens[1] : screens[0];
    const QRect g = second->geometry();
    // Global points: x as on screen, y up from the primary's bottom edge.
    const Rect frame(g.x(), screen.height() - g.y() - 60, g.width(), 60);
    auto secondBand =
        host->makeWindow({"overlay-band-2", frame, OverlayWindowLevel::belowPanel, 1.0,
                          [](QPainter& p, Size s) { p.fillRect(QRectF(0, 0, s.width, s.height), kTint); }});
    showBand(OverlayWindowLevel::belowPanel);
    secondBand->orderFrontRegardless();
    EXPECT_EQ(test::qtWindowOf(*secondBand)->geometry(), QRect(g.x(), g.y(), g.width(), 60));
    EXPECT_TRUE(waitUntil([&] {
        return bandLiesRightUnderThePanel() && liesRightUnderAPanel(xcb_window_t(secondBand->windowNumber()));
    })) << "a band is not right under a panel";
    const auto stack = mappedStack();
    auto above = [&](const OverlayWindow& w) {
        return *(std::find(stack.begin(), stack.end(), xcb_window_t(w.windowNumber())) + 1);
    };
    EXPECT_NE(above(*band), above(*secondBand)) << "both bands went under the same panel";
    const QImage shot = screenshotWhen([&](const QImage& image) {
        return image.width() >= g.right() && closeTo(image.pixelColor(g.x() + 20, g.y() + 45), kTint, 6);
    });
    EXPECT_GT(panelPixelsOverTint(shot, g.x(), g.width()), 0)
        << "the second panel's items should draw over its band";
}

// A corner at the normal level follows the active window: right below it, over the windows behind.
TEST_F(OverlayWindowTest, NormalLevelFollowsTheActiveWindow) {
    auto corner = host->makeWindow(
        {"overlay-corner", Rect(150, screen.height() - 450, 600, 200), OverlayWindowLevel::normal, 1.0,
         [](QPainter& p, Size s) { p.fillRect(QRectF(0, 0, s.width, s.height), kTint); }});
    corner->orderFrontRegardless();
    const auto number = xcb_window_t(corner->windowNumber());
    auto rightBelow = [&](QWidget& window) {
        const auto stack = mappedStack();
        const auto at = std::find(stack.begin(), stack.end(), number);
        return at != stack.end() && at + 1 != stack.end() && *(at + 1) == topLevel(window.winId());
    };
    EXPECT_TRUE(waitUntil([&] { return rightBelow(app); }))
        << "the corner is not right below the active window";

    AppWindow other;
    other.setGeometry(100, 380, 300, 200);
    other.show();
    ASSERT_TRUE(waitUntil([&] { return other.windowHandle()->isExposed(); }));
    other.windowHandle()->requestActivate();
    ASSERT_TRUE(waitUntil([&] { return other.isActiveWindow(); }));
    EXPECT_TRUE(waitUntil([&] { return rightBelow(other); })) << "the corner did not follow the activation";
}

// The compositor blends a window's alpha: half a tint over the desktop shows half of each.
// Content changing many times within one display refresh is painted at most twice in it (the first change
// at once, the rest together just before the next flush), and the screen ends on the last content.
TEST_F(OverlayWindowTest, ABurstOfChangesPaintsAFewTimesAndEndsOnTheLastContent) {
    int paints = 0;
    QColor colour = Qt::red;
    const Rect frame(0, screen.height() - 150, screen.width(), 150);
    band = host->makeWindow(
        {"overlay-band", frame, OverlayWindowLevel::belowPanel, 1.0, [&](QPainter& p, Size s) {
             ++paints;
             p.fillRect(QRectF(0, 0, s.width, s.height), colour);
         }});
    band->orderFrontRegardless();
    const QPoint probe(450, 140);
    ASSERT_FALSE(screenshotWhen([&](const QImage& image) {
                     return closeTo(image.pixelColor(probe), Qt::red, 6);
                 }).isNull());
    paints = 0;
    constexpr int kChanges = 30;
    for (int i = 0; i < kChanges; ++i) {
        colour = i + 1 == kChanges ? QColor(Qt::blue) : QColor::fromHsv(i * 10, 255, 255);
        band->setNeedsDisplay();
        band->displayIfNeeded();
    }
    EXPECT_LE(paints, 2) << "changes within one refresh are painted together";
    const QImage last =
        screenshotWhen([&](const QImage& image) { return closeTo(image.pixelColor(probe), Qt::blue, 6); });
    ASSERT_FALSE(last.isNull()) << "the last content never reached the screen";
    EXPECT_LE(paints, 3);
}

// Translucent windows put their pixels through shared memory of their own, or through Qt's backing store
// where that is not used. Either way the screen shows what was painted, only in the area the content
// names, after a change and again after the window was taken off and shown anew (an expose), and nothing
// is painted or put while nothing changes.
TEST_F(OverlayWindowTest, PaintedPixelsReachTheScreenThroughEitherUploadPath) {
    const QColor desktop(0x3a, 0x6e, 0xa5);
    // Stripes 8 points wide in hues from `hue`, so a misplaced or stale rectangle shows.
    auto stripe = [](int x, int hue) { return QColor::fromHsv((hue + x / 8 * 17) % 360, 200, 230); };
    const int left = 1100, top = 500;
    struct Path {
        const char* name;
        bool own, repeat;
    };
    for (const auto& [name, own, repeat] : {Path{"own, rows copied down by the server", true, true},
                                            Path{"own shared memory", true, false},
                                            Path{"Qt's backing store", false, false}}) {
        SCOPED_TRACE(name);
        host->setOwnUploadAllowed(own);
        int width = 400, height = 200;
        int hue = 0, paints = 0;
        auto w = host->makeWindow({"upload", Rect(left, screen.height() - top - height, width, height),
                                   OverlayWindowLevel::belowPanel, 1.0, [&](QPainter& p, Size s) {
                                       ++paints;
                                       for (int x = 0; x < s.width; x += 8)
                                           p.fillRect(QRectF(x, 0, 8, s.height / 2), stripe(x, hue));
                                   }});
        // Only the top half is ever painted, and only that half is painted anew: the bottom half stays clear.
        // The stripes cover it with opaque paint, so the window need not clear it before each paint, and
        // every row of it is the first: told so, the own path puts one row and the server copies it down.
        const auto topHalf = [](Size s) { return std::vector<Rect>{Rect(0, 0, s.width, s.height / 2)}; };
        w->setPaintedArea(topHalf);
        w->setOpaqueArea(topHalf);
        if (repeat) w->setRepeatedArea(topHalf);
        auto shows = [&](const QImage& image, std::optional<int> shownHue) {
            for (int x = 4; x < width; x += 8 * 7) {
                const QColor expected = shownHue ? stripe(x, *shownHue) : desktop;
                for (const int y : {0, 1, 2, 10, height / 4, height / 2 - 1})
                    if (!closeTo(image.pixelColor(left + x, top + y), expected, 6)) return false;
                if (!closeTo(image.pixelColor(left + x, top + height / 2 + 1), desktop, 6) ||
                    !closeTo(image.pixelColor(left + x, top + height - 2), desktop, 6))
                    return false;
            }
            return true;
        };
        auto waitToShow = [&](std::optional<int> shownHue) {
            return shows(screenshotWhen([&](const QImage& image) { return shows(image, shownHue); }), shownHue);
        };
        ASSERT_TRUE(waitToShow(std::nullopt)) << "the desktop should be bare where the window goes";

        w->orderFrontRegardless();
        EXPECT_TRUE(waitToShow(hue)) << "the first picture";
        hue = 120;
        w->setNeedsDisplay();
        EXPECT_TRUE(waitToShow(hue)) << "a changed picture";
        DamageWatch damage(xcb_window_t(w->windowNumber()));
        ASSERT_TRUE(damage.usable()) << "the test desktop has the X damage extension";

        const int paintsBefore = paints;
        waitUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(paints, paintsBefore) << "painted with nothing changed";
        EXPECT_FALSE(damage.changed()) << "put with nothing changed";
        // Painted again the same: on the own path no pixel differs from what the window shows, so nothing is
        // put; Qt's backing store puts what was painted whatever it holds (which tells the paths apart).
        w->setNeedsDisplay();
        EXPECT_TRUE(waitUntil([&] { return paints > paintsBefore; }));
        waitUntil([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_EQ(damage.changed(), !own) << "a picture the window already shows";

        w->orderOut();
        EXPECT_TRUE(waitToShow(std::nullopt)) << "taken off the screen";
        hue = 240;
        w->orderFrontRegardless();
        EXPECT_TRUE(waitToShow(hue)) << "shown anew";

        // Larger: the pixels are kept at the new size (new buffers on the own path).
        width = 520;
        height = 260;
        hue = 300;
        w->setFrame(Rect(left, screen.height() - top - height, width, height), false);
        EXPECT_TRUE(waitToShow(hue)) << "resized";
    }
}

TEST_F(OverlayWindowTest, AlphaIsBlendedByTheCompositor) {
    const QColor desktop(0x3a, 0x6e, 0xa5);
    const QPoint probe(1200, 700);
    const Rect frame(1100, screen.height() - 800, 200, 200);
    auto w =
        host->makeWindow({"overlay-half", frame, OverlayWindowLevel::belowPanel, 0.5,
                          [](QPainter& p, Size s) { p.fillRect(QRectF(0, 0, s.width, s.height), kTint); }});
    const QImage before = screenshot();
    ASSERT_TRUE(closeTo(before.pixelColor(probe), desktop, 6)) << "the probe should see the bare desktop";
    w->orderFrontRegardless();
    const QColor half((kTint.red() + desktop.red()) / 2, (kTint.green() + desktop.green()) / 2,
                      (kTint.blue() + desktop.blue()) / 2);
    const QImage shot =
        screenshotWhen([&](const QImage& image) { return closeTo(image.pixelColor(probe), half, 6); });
    EXPECT_TRUE(closeTo(shot.pixelColor(probe), half, 6))
        << "got " << shot.pixelColor(probe).name().toStdString() << " for " << half.name().toStdString();
    w->setAlphaValue(0);
    const QImage gone =
        screenshotWhen([&](const QImage& image) { return closeTo(image.pixelColor(probe), desktop, 6); });
    EXPECT_TRUE(closeTo(gone.pixelColor(probe), desktop, 6)) << "alpha 0 should leave the desktop bare";
}

TEST_F(OverlayWindowTest, OverlayWindowsNeverTakeTheFocus) {
    showBand(OverlayWindowLevel::belowPanel);
    ASSERT_TRUE(waitUntil([&] { return test::qtWindowOf(*band)->isExposed(); }));
    auto* c = qtConnection();
    auto focus = [&] {
        auto* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const xcb_window_t window = reply ? reply->focus : 0;
        std::free(reply);
        return window;
    };
    const auto overlay = xcb_window_t(band->windowNumber());
    EXPECT_NE(focus(), overlay);
    click(450, 140);
    waitUntil([&] { return app.presses > 0; });
    EXPECT_NE(focus(), overlay);
    const auto active = cardinalProperty("_NET_ACTIVE_WINDOW");
    if (!active.empty()) {
        EXPECT_NE(active.front(), overlay);
    }
    EXPECT_TRUE(app.isActiveWindow()) << "the app lost the focus";
    EXPECT_FALSE(test::qtWindowOf(*band)->isActive());
}

TEST_F(OverlayWindowTest, CornerShapesAreCutAndFadesReachTheScreen) {
    // A 40 pt ear at the bottom-left of the screen, as the rounded corners paint it.
    const Rect frame(0, 0, 40, 40);
    auto ear = host->makeWindow(
        {"overlay-corner", frame, OverlayWindowLevel::belowPanel, 0.0, [](QPainter& p, Size s) {
             QPainterPath path;
             path.moveTo(0, s.height);
             path.lineTo(0, 0);
             path.arcTo(QRectF(0, -s.height, 2 * s.width, 2 * s.height), 180, 90);
             path.closeSubpath();
             p.fillPath(path, Qt::black);
         }});
    ear->orderFrontRegardless();
    host->animate({0.3, TimingCurve::easeOut}, {{ear.get(), 1.0, {}}});
    ASSERT_TRUE(waitUntil([&] { return ear->alphaValue() == 1.0; })) << "the fade never ended";
    const int bottom = screen.height() - 1;
    const QImage shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(1, bottom - 1), Qt::black, 6); });
    EXPECT_TRUE(closeTo(shot.pixelColor(1, bottom - 1), Qt::black, 6)) << "the ear's corner is painted";
    EXPECT_FALSE(closeTo(shot.pixelColor(38, bottom - 38), Qt::black, 6))
        << "outside the arc shows the desktop";
}

}  // namespace
}  // namespace velaro::e2e
