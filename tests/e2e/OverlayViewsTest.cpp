// The overlay's band and corner windows on the test desktop: painted from the sampled colours, the band
// lies under the panel (whose clock stays readable over the tint), the corner's ear shows its colour only
// outside its arc, and a click at the band's place goes to the panel.
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "overlay/CornerOverlayWindow.h"
#include "overlay/HueDriftClock.h"
#include "overlay/MenuBarOverlayWindow.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"

namespace velaro::e2e {
namespace {

constexpr int kPanelHeight = 28;
constexpr int kCornerRadius = 28;
const QColor kTint(0x78, 0x14, 0x5a);
const QColor kCornerColour(0x14, 0xa0, 0x8c);

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The innermost window under the pointer, as the server picks the window a click goes to: input shapes
// count, so a click-through window is passed over.
xcb_window_t windowUnderPointer() {
    auto* c = qtConnection();
    xcb_window_t window = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (int depth = 0; depth < 16; ++depth) {
        auto* reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, window), nullptr);
        const xcb_window_t child = reply ? reply->child : xcb_window_t{XCB_WINDOW_NONE};
        std::free(reply);
        if (child == XCB_WINDOW_NONE) break;
        window = child;
    }
    return window;
}

// The window's WM_CLASS, its instance and class names joined by a blank; empty when it has none.
std::string wmClass(xcb_window_t window) {
    auto* c = qtConnection();
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
    std::string out;
    if (reply) {
        out.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                   xcb_get_property_value_length(reply));
        for (auto& ch : out)
            if (ch == '\0') ch = ' ';
    }
    std::free(reply);
    return out;
}

// How many pixels of the panel strip do not show the tint: the panel's clock and tray.
int panelPixelsOverTint(const QImage& shot) {
    int count = 0;
    for (int y = 2; y < kPanelHeight - 2; ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (!closeTo(shot.pixelColor(x, y), kTint, 12)) ++count;
    return count;
}

Color fromQt(const QColor& c) {
    return Color::rgb(c.redF(), c.greenF(), c.blueF());
}

class OverlayViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_NE(qtConnection(), nullptr) << "the end-to-end tests run on the xcb platform";
        loop = std::make_unique<QtMainLoop>();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        host = std::make_unique<QtOverlayWindowHost>(*loop, session->session.get());
        settings = std::make_unique<OverlaySettings>(store, *loop);
        settings->style = MenuBarStyle::solid;
        settings->autoSample = true;
        settings->strokeEnabled = false;
        clock = std::make_unique<HueDriftClock>(*settings, *loop);
        dominant = fromQt(kTint);
        leftCorner = fromQt(kCornerColour);
        screen = QGuiApplication::primaryScreen()->geometry();
    }
    void TearDown() override {
        corner.reset();
        band.reset();
        clock.reset();
        settings.reset();
        host.reset();
        session.reset();
        loop.reset();
    }
    std::unique_ptr<TestSession> session;

    OverlayFeed feed() const {
        OverlayFeed f;
        f.sampler.dominantColor = &dominant;
        f.sampler.liveLeftCornerColor = &leftCorner;
        return f;
    }

    // The band over the panel at the main-menu level, and the left menu-bar corner right under it.
    void showOverlay() {
        const double h = screen.height();
        band = std::make_unique<MenuBarOverlayWindow>(
            *host, *loop, *settings, feed(), *clock, Rect(0, h - kPanelHeight, screen.width(), kPanelHeight));
        corner = std::make_unique<CornerOverlayWindow>(
            ScreenCorner::topLeft, *host, *loop, *settings, feed(), *clock,
            Rect(0, h - kPanelHeight - kCornerRadius, kCornerRadius, kCornerRadius),
            OverlayWindowLevel::belowPanel);
        auto batch = host->batch();
        band->window().orderFrontRegardless();
        corner->window().orderFrontRegardless();
    }

    test::FakeDefaultsStore store;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<QtOverlayWindowHost> host;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<HueDriftClock> clock;
    Published<Color> dominant{Color::black()};
    Published<Color> leftCorner{Color::black()};
    std::unique_ptr<MenuBarOverlayWindow> band;
    std::unique_ptr<CornerOverlayWindow> corner;
    QRect screen;
};

TEST_F(OverlayViewsTest, BandAndCornerShowTheirColoursUnderThePanelsClock) {
    showOverlay();
    const QPoint emptyPanel(screen.width() / 3, kPanelHeight / 2);
    const QPoint ear(1, kPanelHeight + 1);
    const QImage shot = screenshotWhen([&](const QImage& image) {
        return closeTo(image.pixelColor(emptyPanel), kTint, 6) &&
               closeTo(image.pixelColor(ear), kCornerColour, 6);
    });
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(closeTo(shot.pixelColor(emptyPanel), kTint, 6)) << "the band does not show its colour";
    EXPECT_TRUE(closeTo(shot.pixelColor(ear), kCornerColour, 6)) << "the ear does not show its colour";
    EXPECT_FALSE(
        closeTo(shot.pixelColor(kCornerRadius - 6, kPanelHeight + kCornerRadius - 6), kCornerColour, 40))
        << "inside the arc the desktop should show";
    EXPECT_GT(panelPixelsOverTint(shot), 30) << "the panel's clock should draw over the tint";

    // A new sampled colour reaches the screen.
    const QColor next(0x20, 0x40, 0xc0);
    dominant = fromQt(next);
    const QImage after =
        screenshotWhen([&](const QImage& image) { return closeTo(image.pixelColor(emptyPanel), next, 6); });
    EXPECT_TRUE(closeTo(after.pixelColor(emptyPanel), next, 6)) << "the band kept its old colour";
}

TEST_F(OverlayViewsTest, AClickOnTheBandGoesToThePanel) {
    showOverlay();
    const QPoint emptyPanel(screen.width() / 3, kPanelHeight / 2);
    ASSERT_FALSE(screenshotWhen([&](const QImage& image) {
                     return closeTo(image.pixelColor(emptyPanel), kTint, 6);
                 }).isNull());
    ASSERT_TRUE(closeTo(screenshot().pixelColor(emptyPanel), kTint, 6)) << "the band never showed";

    const auto clicked = click(emptyPanel.x(), emptyPanel.y());
    ASSERT_EQ(clicked.exitCode, 0) << clicked.describe().toStdString();
    const xcb_window_t target = windowUnderPointer();
    EXPECT_NE(target, xcb_window_t(band->window().windowNumber()));
    EXPECT_NE(wmClass(target).find("tint2"), std::string::npos)
        << "the click went to a window of class \"" << wmClass(target) << "\", not the panel";

    // Over the corner's ear too.
    click(1, kPanelHeight + 1);
    EXPECT_NE(windowUnderPointer(), xcb_window_t(corner->window().windowNumber()));
}

}  // namespace
}  // namespace velaro::e2e
