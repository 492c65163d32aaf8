// The status area read from a tray: icons and what the panel draws beside them, each padded as a status
// item's frame is, in top-left global points; and where a panel's drawing ends in its pixels.
#include <gtest/gtest.h>

#include <vector>

#include "platform/OverlayWindowHost.h"
#include "platform/linux/X11MenuBarItems.h"

namespace velaro {
namespace {

constexpr double kPad = X11MenuBarItems::kItemPadding;

TEST(X11MenuBarItems, IconsAndWhatThePanelDrawsBesideThemArePaddedStatusWindows) {
    struct Case {
        const char* what;
        std::optional<double> contentRight;
        std::optional<Rect> beside;  // the frame of what lies right of the icons
    };
    const Case cases[] = {
        {"a clock drawn up to x 1915", 1915, Rect{1866, 4, 1915 - 1866 + kPad, 20}},
        {"nothing drawn beside the icons", 1866, std::nullopt},
        {"pixels unreadable: up to the panel's end, as a clock would be", std::nullopt, Rect{1866, 4, 54, 20}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TrayLayout tray{{Rect{1846, 4, 20, 20}, Rect{1822, 4, 20, 20}}, Rect{0, 0, 1920, 28}, c.contentRight};
        const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1));
        ASSERT_EQ(windows.size(), c.beside ? 3u : 2u);
        for (const auto& w : windows) EXPECT_EQ(w.level, OverlayWindowLevel::panel);
        EXPECT_EQ(windows[0].bounds, (Rect{1846 - kPad, 4, 20 + 2 * kPad, 20}));
        EXPECT_EQ(windows[1].bounds, (Rect{1822 - kPad, 4, 20 + 2 * kPad, 20}));
        if (c.beside) {
            EXPECT_EQ(windows[2].bounds, *c.beside);
        }
    }
}

TEST(X11MenuBarItems, AWideGapAfterTheTrayHoldsNoGuessedClock) {
    const TrayLayout tray{{Rect{900, 4, 20, 20}}, Rect{0, 0, 1920, 28}, std::nullopt};
    EXPECT_EQ(statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1)).size(), 1u);
    EXPECT_EQ(statusWindowsOfTray(TrayLayout{{}, Rect{0, 0, 1920, 28}, 1900.0},
                                  x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1))
                  .size(),
              0u)
        << "no icons: no status area to place anything by";
}

TEST(X11MenuBarItems, RootPixelsBecomePointsFromThePrimarysTopLeft) {
    // A primary monitor that starts 1280 px into the root, at two pixels a point.
    const TrayLayout tray{{Rect{1280 + 3692, 8, 40, 40}}, Rect{1280, 0, 3840, 56}, 1280.0 + 3830};
    const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{1280, 0, 3840, 2160}, 2));
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].bounds, (Rect{1846 - kPad, 4, 20 + 2 * kPad, 20}));
    EXPECT_EQ(windows[1].bounds, (Rect{1866, 4, 1915 - 1866 + kPad, 20}));
}

// A panel strip of `width` × 6 in `background`, with `drawn` pixels set.
std::vector<std::uint32_t> strip(int width, std::uint32_t background,
                                 const std::vector<std::pair<int, int>>& drawn, std::uint32_t ink) {
    std::vector<std::uint32_t> pixels(std::size_t(width) * 6, background);
    for (const auto& [x, y] : drawn) pixels[std::size_t(y) * width + x] = ink;
    return pixels;
}

TEST(X11MenuBarItems, ThePanelsDrawingEndsAtItsLastColumnThatDiffersFromTheRowsBackground) {
    struct Case {
        const char* what;
        std::uint32_t background, ink;
        std::vector<std::pair<int, int>> drawn;
        int end;
    };
    const Case cases[] = {
        {"white glyphs on a transparent panel", 0x00000000, 0xffffffff, {{3, 2}, {17, 4}, {9, 1}}, 18},
        {"a faint anti-aliased edge is not drawing", 0xff202020, 0xff303030, {{25, 2}}, 0},
        {"nothing drawn", 0xff3a6ea5, 0xff3a6ea5, {}, 0},
        {"drawn up to the last column", 0xff000000, 0xffc0c0c0, {{0, 0}, {29, 5}}, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto pixels = strip(30, c.background, c.drawn, c.ink);
        EXPECT_EQ(drawnColumnsEnd(pixels.data(), 30, 6, 30), c.end);
    }
    // A background that changes from row to row (a vertical gradient) is still background.
    std::vector<std::uint32_t> gradient(30 * 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 30; ++x) gradient[y * 30 + x] = 0xff000000u | std::uint32_t(y * 40) << 8;
    gradient[3 * 30 + 12] = 0xffffffff;
    EXPECT_EQ(drawnColumnsEnd(gradient.data(), 30, 6, 30), 13);
}

}  // namespace
}  // namespace velaro
