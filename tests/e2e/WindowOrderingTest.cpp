// Corners placed below the active window on the test desktop: a bottom corner shows on the empty desktop,
// hides under the part of the active window that overlaps it, and follows the active window when another
// window is raised.
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <chrono>
#include <memory>

#include "DesktopSampler.h"
#include "E2eSupport.h"
#include "ForeignWindow.h"
#include "overlay/WindowOrdering.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "settings/OverlaySettings.h"

namespace velaro::e2e {
namespace {

constexpr int kRadius = 80;
const QColor kCornerColour(0xff, 0x00, 0xff);
const QColor kFirstColour(0x3c, 0xb4, 0x50);
const QColor kSecondColour(0xe0, 0xa0, 0x20);

// A window of another process in one colour at a place of the user's.
ForeignWindow::Options placed(QColor colour, QRect place) {
    ForeignWindow::Options options;
    options.rgb = colour.rgb() & 0xffffff;
    options.place = place;
    return options;
}

class WindowOrderingTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(desktop.start());
        x = x11::Connection::open();
        ASSERT_TRUE(x);
        height = QGuiApplication::primaryScreen()->geometry().height();
        host = std::make_unique<QtOverlayWindowHost>(*desktop.loop, desktop.session.session.get());
        settings = std::make_unique<OverlaySettings>(store, *desktop.loop);
        settings->cornerBottomLeftZ = BottomCornerZ::belowActive;
        auto corners = settings->corners();
        corners.bottomRadius = kRadius;
        settings->corners = corners;

        const Rect screen = desktop.screens->screens().front().frame;
        corner = host->makeWindow({"overlay-corner", Rect{screen.minX(), screen.minY(), kRadius, kRadius},
                                   OverlayWindowLevel::normal, 1.0, [](QPainter& painter, Size size) {
                                       painter.fillRect(QRectF(0, 0, size.width, size.height), kCornerColour);
                                   }});
        ordering = std::make_unique<WindowOrdering>(
            *settings, *desktop.sampler,
            WindowOrderingServices{*desktop.loop, *desktop.workspace, desktop.windows.get(),
                                   [this] { host->reassertStack(); }},
            [this] {
                return std::vector<PlacedCorner>{{ScreenCorner::bottomLeft, corner.get()}};
            },
            [] { return false; });
        ordering->scheduleBelowActiveRepair();
    }
    void TearDown() override {
        ordering.reset();
        corner.reset();
        host.reset();
        settings.reset();
        desktop.sampler.reset();
        waitUntil([] { return false; }, std::chrono::milliseconds(200));
    }

    // The root's child holding `window`.
    std::uint32_t topLevel(std::uint32_t window) {
        for (int depth = 0; window && depth < 16; ++depth) {
            auto* tree = xcb_query_tree_reply(x->get(), xcb_query_tree(x->get(), window), nullptr);
            if (!tree) return 0;
            const auto parent = tree->parent;
            std::free(tree);
            if (parent == x->root()) return window;
            window = parent;
        }
        return 0;
    }
    // Positions in the root's stack, bottom first; -1 when absent.
    std::vector<std::ptrdiff_t> stackIndices(const std::vector<std::uint32_t>& windows) {
        std::vector<std::ptrdiff_t> out(windows.size(), -1);
        auto* tree = xcb_query_tree_reply(x->get(), xcb_query_tree(x->get(), x->root()), nullptr);
        if (!tree) return out;
        const auto* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
            for (std::size_t k = 0; k < windows.size(); ++k)
                if (children[i] == windows[k]) out[k] = i;
        std::free(tree);
        return out;
    }
    void activate(std::uint32_t window) {
        const auto result = run("xdotool", {"windowactivate", QString::number(window)});
        ASSERT_TRUE(result.finished && result.exitCode == 0) << result.describe().toStdString();
    }
    bool activeIs(std::uint32_t window) {
        auto* reply = xcb_get_property_reply(
            x->get(),
            x11::askProperty(x->get(), x->root(), x->atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1),
            nullptr);
        const auto active = x11::values32(reply);
        std::free(reply);
        return !active.empty() && active.front() == window;
    }
    // Asks again now and then: the window manager may not manage a new window yet when first asked.
    bool activateAndWait(std::uint32_t window) {
        return askUntil([&] { activate(window); }, [&] { return activeIs(window); });
    }
    std::uint32_t cornerID() const { return static_cast<std::uint32_t>(corner->windowNumber()); }

    DesktopSampler desktop;
    test::FakeDefaultsStore store;
    std::unique_ptr<x11::Connection> x;
    int height = 0;
    std::unique_ptr<QtOverlayWindowHost> host;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<OverlayWindow> corner;
    std::unique_ptr<WindowOrdering> ordering;
};

TEST_F(WindowOrderingTest, BottomCornerShowsOnTheDesktopHidesUnderTheActiveWindowAndFollowsIt) {
    // The corner alone, then where a window overlaps it, then a spot the window leaves free.
    const QPoint cornerOnly(10, height - 10);
    const QPoint overlap(60, height - 60);

    QImage shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(overlap), kCornerColour, 8); },
        std::chrono::seconds(5));
    EXPECT_TRUE(closeTo(shot.pixelColor(cornerOnly), kCornerColour, 8))
        << "corner not shown on the empty desktop";
    EXPECT_TRUE(closeTo(shot.pixelColor(overlap), kCornerColour, 8));

    // A window whose bottom-left part lies over the corner's upper right.
    ForeignWindow first(placed(kFirstColour, QRect(40, height - 300, 400, 260)));
    ASSERT_NE(first.window(), 0u);
    ASSERT_TRUE(activateAndWait(first.window()));
    shot = screenshotWhen(
        [&](const QImage& image) {
            return closeTo(image.pixelColor(overlap), kFirstColour, 8) &&
                   closeTo(image.pixelColor(cornerOnly), kCornerColour, 8);
        },
        std::chrono::seconds(5));
    EXPECT_TRUE(closeTo(shot.pixelColor(overlap), kFirstColour, 8))
        << "the active window does not cover the corner";
    EXPECT_TRUE(closeTo(shot.pixelColor(cornerOnly), kCornerColour, 8))
        << "the corner is hidden where it is alone";
    ASSERT_TRUE(waitUntil([&] { return corner->orderedBelowForeign() == WindowNumber{first.window()}; }));

    // A second window away from the corner takes the corner with it: it now lies over the first window.
    ForeignWindow second(placed(kSecondColour, QRect(700, 200, 400, 300)));
    ASSERT_NE(second.window(), 0u);
    ASSERT_TRUE(activateAndWait(second.window()));
    ASSERT_TRUE(waitUntil([&] { return corner->orderedBelowForeign() == WindowNumber{second.window()}; }));
    const std::uint32_t firstFrame = topLevel(first.window()), secondFrame = topLevel(second.window());
    ASSERT_TRUE(waitUntil([&] {
        const auto i = stackIndices({firstFrame, cornerID(), secondFrame});
        return i[0] < i[1] && i[1] < i[2];
    }));

    // Raising the first window again: the corner must be back under it, above the second. How soon (a tenth
    // of a second after the activation, at the latest at the next check 0.15 s on) is the schedule that
    // WindowOrderingMonitorTest proves on the virtual clock: here, on a desktop shared with other work, a
    // wall clock would time the machine as much as the ordering.
    activate(first.window());
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto i = stackIndices({secondFrame, cornerID(), firstFrame});
            return i[0] >= 0 && i[0] < i[1] && i[1] < i[2];
        },
        std::chrono::seconds(3)))
        << "the corner never went back under the raised window";
    shot = screenshotWhen(
        [&](const QImage& image) { return closeTo(image.pixelColor(overlap), kFirstColour, 8); },
        std::chrono::seconds(3));
    EXPECT_TRUE(closeTo(shot.pixelColor(overlap), kFirstColour, 8));
    EXPECT_TRUE(closeTo(shot.pixelColor(cornerOnly), kCornerColour, 8));
}

// The band stays over other apps' windows through activations and raises, yet never over another app's
// override-redirect window (a menu or tooltip), which belongs above.
TEST_F(WindowOrderingTest, BandStaysAboveRaisedWindowsButBelowOtherAppsMenus) {
    const Rect screen = desktop.screens->screens().front().frame;
    auto band = host->makeWindow({"overlay-bar",
                                  Rect{screen.minX(), screen.maxY() - 40, 300, 40},
                                  OverlayWindowLevel::belowPanel,
                                  1.0,
                                  {}});
    band->orderFrontRegardless();
    const auto bandID = static_cast<std::uint32_t>(band->windowNumber());

    ForeignWindow app(placed(kFirstColour, QRect(0, 0, 500, 400)));
    ASSERT_NE(app.window(), 0u);
    ASSERT_TRUE(activateAndWait(app.window()));
    const std::uint32_t appFrame = topLevel(app.window());
    auto bandAboveApp = [&] {
        const auto i = stackIndices({appFrame, bandID});
        return i[0] >= 0 && i[0] < i[1];
    };
    EXPECT_TRUE(waitUntil(bandAboveApp, std::chrono::seconds(2)));

    // A raise without activation is seen through the window's ConfigureNotify.
    const std::uint32_t top[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(x->get(), appFrame, XCB_CONFIG_WINDOW_STACK_MODE, top);
    xcb_flush(x->get());
    EXPECT_TRUE(waitUntil(bandAboveApp, std::chrono::seconds(2)));

    const xcb_window_t menu = xcb_generate_id(x->get());
    const std::uint32_t overrideRedirect[] = {1};
    xcb_create_window(x->get(), XCB_COPY_FROM_PARENT, menu, x->root(), 10, 10, 120, 160, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      overrideRedirect);
    xcb_map_window(x->get(), menu);
    xcb_configure_window(x->get(), menu, XCB_CONFIG_WINDOW_STACK_MODE, top);
    xcb_flush(x->get());
    ASSERT_TRUE(activateAndWait(app.window()));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    const auto i = stackIndices({appFrame, bandID, menu});
    EXPECT_LT(i[0], i[1]);
    EXPECT_LT(i[1], i[2]) << "the band was raised over another app's menu";
    xcb_destroy_window(x->get(), menu);
    xcb_flush(x->get());
}

}  // namespace
}  // namespace velaro::e2e
