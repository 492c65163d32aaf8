// The status area read from a tray: icons and the clock area beside them, in top-left global points.
#include <gtest/gtest.h>

#include "platform/OverlayWindowHost.h"
#include "platform/linux/X11MenuBarItems.h"

namespace velaro {
namespace {

TEST(X11MenuBarItems, IconsAndTheClockAtThePanelsEndAreStatusWindows) {
    const TrayLayout tray{{Rect{1846, 4, 20, 20}, Rect{1822, 4, 20, 20}}, Rect{0, 0, 1920, 28}};
    const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1));
    ASSERT_EQ(windows.size(), 3u);
    for (const auto& w : windows) EXPECT_EQ(w.level, OverlayWindowLevel::status);
    EXPECT_EQ(windows[0].bounds, (Rect{1846, 4, 20, 20}));
    EXPECT_EQ(windows[2].bounds, (Rect{1866, 4, 54, 20})) << "from the last icon to the panel's end";
}

TEST(X11MenuBarItems, AWideGapAfterTheTrayHoldsNoClock) {
    const TrayLayout tray{{Rect{900, 4, 20, 20}}, Rect{0, 0, 1920, 28}};
    EXPECT_EQ(statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1)).size(), 1u);
    EXPECT_EQ(
        statusWindowsOfTray(TrayLayout{{}, Rect{0, 0, 1920, 28}}, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1))
            .size(),
        0u)
        << "no icons: nothing to place a clock by";
}

TEST(X11MenuBarItems, RootPixelsBecomePointsFromThePrimarysTopLeft) {
    // A primary monitor that starts 1280 px into the root, at two pixels a point.
    const TrayLayout tray{{Rect{1280 + 3692, 8, 40, 40}}, Rect{1280, 0, 3840, 56}};
    const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{1280, 0, 3840, 2160}, 2));
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].bounds, (Rect{1846, 4, 20, 20}));
    EXPECT_EQ(windows[1].bounds, (Rect{1866, 4, 54, 20}));
}

}  // namespace
}  // namespace velaro
