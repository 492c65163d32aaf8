// The status area the X11 service reads from a panel of the test's own making on the test desktop: a change
// is told when the panel draws something else beside its icon (a clock growing) and when the panel goes and
// another comes in its place (a panel reloading), with no window of the old panel left to watch.
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11MenuBarItems.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::e2e {
namespace {

constexpr int kIconRight = 30;

// A dock of its own connection, 400 × 28 px, black, with a 20-px icon window (carrying the XEmbed info) at
// x 10 and, once it shows, a white bar of a chosen width drawn 10 px right of the icon: a panel's tray and
// clock. The window manager places it.
class TestDock {
public:
    explicit TestDock(x11::Connection& x) : c_(x.get()) {
        const xcb_screen_t& s = x.screen();
        const std::uint32_t black = s.black_pixel;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, dock_, x.root(), 0, 600, 400, 28, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s.root_visual, XCB_CW_BACK_PIXEL, &black);
        const xcb_atom_t dockType = x.atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, dock_, x.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &dockType);
        const std::uint32_t grey = 0x808080;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, icon_, dock_, 10, 4, 20, 20, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s.root_visual, XCB_CW_BACK_PIXEL, &grey);
        const std::uint32_t xembed[] = {0, 1};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, icon_, x.atom("_XEMBED_INFO"), x.atom("_XEMBED_INFO"),
                            32, 2, xembed);
        const std::uint32_t white = s.white_pixel;
        xcb_create_gc(c_, ink_, dock_, XCB_GC_FOREGROUND, &white);
        xcb_map_window(c_, icon_);
        xcb_map_window(c_, dock_);
        xcb_flush(c_);
    }
    ~TestDock() {
        xcb_free_gc(c_, ink_);
        xcb_destroy_window(c_, dock_);
        xcb_flush(c_);
    }
    void drawClock(int width) {
        xcb_clear_area(c_, 0, dock_, 0, 0, 0, 0);
        const xcb_rectangle_t bar{kIconRight + 10, 8, std::uint16_t(width), 12};
        xcb_poly_fill_rectangle(c_, dock_, ink_, 1, &bar);
        xcb_flush(c_);
    }
    xcb_window_t window() const { return dock_; }

private:
    xcb_connection_t* c_;
    xcb_window_t dock_ = xcb_generate_id(c_), icon_ = xcb_generate_id(c_);
    xcb_gcontext_t ink_ = xcb_generate_id(c_);
};

class StatusAreaDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        x = x11::Connection::open();
        ASSERT_TRUE(x);
        items = std::make_unique<X11MenuBarItems>(**session, loop);
        told = items->statusAreaChanged().sink([this](int) { ++changes; });
    }

    // The tray of `dock` as the service reads it now.
    std::optional<TrayLayout> trayOf(const TestDock& dock) {
        for (auto& tray : items->readTrays())
            if (tray.window == dock.window()) return tray;
        return std::nullopt;
    }
    // Whether the dock's tray is read with its drawing ending `right` px into the dock, and a change was told
    // since `before`.
    bool toldOf(int before, const TestDock& dock, double right) {
        const auto tray = trayOf(dock);
        return changes > before && tray && tray->panel && tray->contentRight == tray->panel->x() + right;
    }

    QtMainLoop loop;
    std::unique_ptr<TestSession> session;
    std::unique_ptr<x11::Connection> x;
    std::unique_ptr<X11MenuBarItems> items;
    Subscription told;
    int changes = 0;
};

TEST_F(StatusAreaDesktopTest, AClockGrowingBesideTheIconsAndAPanelMadeAnewAreToldOf) {
    auto dock = std::make_unique<TestDock>(*x);
    ASSERT_TRUE(waitUntil([&] { return toldOf(-1, *dock, kIconRight); }))
        << "the test's panel was never read";
    // The first drawings may be read by the looks the new panel brings: only a clock told of each time it
    // grows was seen drawing.
    int before = 0;
    for (const int width : {30, 45, 60, 75}) {
        before = changes;
        dock->drawClock(width);
        ASSERT_TRUE(waitUntil([&] { return toldOf(before, *dock, kIconRight + 10 + width); }))
            << "the clock grew to " << width << " px and nobody was told";
    }

    // The panel reloads: its windows go, and a new panel docks its icon a moment later.
    before = changes;
    dock.reset();
    ASSERT_TRUE(waitUntil([&] { return changes > before; })) << "the panel went and nobody was told";
    before = changes;
    dock = std::make_unique<TestDock>(*x);
    EXPECT_TRUE(waitUntil([&] { return toldOf(before, *dock, kIconRight); }))
        << "the new panel's tray was never told of";
}

}  // namespace
}  // namespace velaro::e2e
