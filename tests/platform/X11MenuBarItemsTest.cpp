// The status area read from a tray: icons and what the panel draws beside them, each padded as a status
// item's frame is (the last twice as much) and spanning the panel's rows, in top-left global points at
// ratios 1 and 2; where a panel's drawing beside the icons ends in its pixels, up to its task list's buttons;
// and, on a desktop, the service's end while its reading thread hands a reading over.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/OverlayWindowHost.h"
#include "platform/linux/X11MenuBarItems.h"
#include "platform/linux/XdgAppCatalog.h"
#include "support/ForwardingLoop.h"

namespace velaro {
namespace {

constexpr double kPad = X11MenuBarItems::kItemPadding;

TEST(X11MenuBarItems, IconsAndWhatThePanelDrawsBesideThemArePaddedStatusWindows) {
    // The frame that ends the status area keeps twice the padding, on both sides, so that its middle stays.
    const Rect lastIcon{1846 - 2 * kPad, 0, 20 + 4 * kPad, 28};
    struct Case {
        const char* what;
        std::optional<double> contentRight;
        std::optional<Rect> beside;  // the frame of what lies right of the icons
    };
    const Case cases[] = {
        {"a clock drawn up to x 1915", 1915, Rect{1866 - kPad, 0, 1915 - 1866 + 3 * kPad, 28}},
        {"nothing drawn beside the icons", 1866, std::nullopt},
        {"pixels unreadable: up to the panel's end, as a clock would be", std::nullopt,
         Rect{1866 - kPad, 0, 54 + 2 * kPad, 28}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TrayLayout tray{
            {Rect{1846, 4, 20, 20}, Rect{1822, 4, 20, 20}}, Rect{0, 0, 1920, 28}, c.contentRight};
        const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, 1));
        ASSERT_EQ(windows.size(), c.beside ? 3u : 2u);
        for (const auto& w : windows) EXPECT_EQ(w.level, OverlayWindowLevel::panel);
        // Each frame spans the panel's rows, as a status item's frame spans its bar.
        EXPECT_EQ(windows[0].bounds, (c.beside ? Rect{1846 - kPad, 0, 20 + 2 * kPad, 28} : lastIcon));
        EXPECT_EQ(windows[1].bounds, (Rect{1822 - kPad, 0, 20 + 2 * kPad, 28}));
        if (c.beside) {
            EXPECT_EQ(windows[2].bounds, *c.beside);
        }
    }
}

TEST(X11MenuBarItems, AClockRightUpAgainstTheIconsLeftIsOneMoreItemAtRatiosOneAndTwo) {
    // A tray at the panel's right end with the clock before it (drawn from x 1845), nothing after it.
    for (const double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        TrayLayout tray{{Rect{1896, 4, 20, 20}}, Rect{0, 0, 1920, 28}, 1916.0};
        tray.contentLeft = 1845;
        const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, ratio));
        ASSERT_EQ(windows.size(), 2u);
        EXPECT_EQ(windows[1].bounds,
                  (Rect{1845 / ratio - kPad, 0, (1896 - 1845) / ratio + kPad, 28 / ratio}));
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
    EXPECT_EQ(windows[0].bounds, (Rect{1846 - kPad, 0, 20 + 2 * kPad, 28}));
    EXPECT_EQ(windows[1].bounds, (Rect{1866 - kPad, 0, 1915 - 1866 + 3 * kPad, 28}));
}

TEST(X11MenuBarItems, EveryFrameSpansThePanelWhateverItsHeightAndTheRatio) {
    for (const double ratio : {1.0, 2.0}) {
        for (const double panel : {24.0, 28.0, 64.0}) {
            SCOPED_TRACE(testing::Message() << ratio << " pixels a point, a " << panel << "-px panel");
            // A 20-px icon centred in the panel, its clock drawn 60 px on.
            const double top = (panel - 20) / 2;
            const TrayLayout tray{{Rect{3000, top, 20, 20}}, Rect{0, 0, 3840, panel}, 3080.0};
            const auto windows = statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 3840, 2160}, ratio));
            ASSERT_EQ(windows.size(), 2u);
            for (const auto& w : windows) {
                ASSERT_TRUE(w.bounds);
                EXPECT_DOUBLE_EQ(w.bounds->y(), 0);
                EXPECT_DOUBLE_EQ(w.bounds->height(), panel / ratio);
            }
            EXPECT_DOUBLE_EQ(windows[0].bounds->minX(), 3000 / ratio - kPad);
            EXPECT_DOUBLE_EQ(windows[1].bounds->maxX(), 3080 / ratio + 2 * kPad);
        }
    }
    // Without the panel's rectangle the icon's own rows stand.
    const TrayLayout bare{{Rect{3000, 8, 40, 40}}, std::nullopt, std::nullopt};
    const auto windows = statusWindowsOfTray(bare, x11::ScreenSpace(Rect{0, 0, 3840, 2160}, 2));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].bounds, (Rect{1500 - 2 * kPad, 4, 20 + 4 * kPad, 20}));
}

TEST(X11MenuBarItems, TheGuessedClocksWidestAreaIsDevicePixelsAtEveryRatio) {
    // The panel draws its clock at its own size: a gap of 200 px is wider than a clock at ratio 2 too.
    for (const double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        const x11::ScreenSpace space(Rect{0, 0, 3840, 2160}, ratio);
        const TrayLayout narrow{{Rect{3720 - 20, 4, 20, 20}}, Rect{0, 0, 3840, 28}, std::nullopt};
        const auto clock = statusWindowsOfTray(narrow, space);
        ASSERT_EQ(clock.size(), 2u) << "a 120-px gap holds the clock";
        EXPECT_EQ(clock[1].bounds, (Rect{3720 / ratio - kPad, 0, 120 / ratio + 2 * kPad, 28 / ratio}));
        const TrayLayout wide{{Rect{3640 - 20, 4, 20, 20}}, Rect{0, 0, 3840, 28}, std::nullopt};
        EXPECT_EQ(statusWindowsOfTray(wide, space).size(), 1u) << "a 200-px gap holds other things";
    }
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

TEST(X11MenuBarItems, TheDrawingBeforeTheIconsStartsWhereNoWideGapBreaksItsRun) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> drawn;
        int start;
    };
    // 60 columns ending at the icons' left edge; runs break at 8 undrawn columns.
    const Case cases[] = {
        {"a clock's glyphs 5 columns before the icons",
         {{30, 2}, {33, 3}, {38, 1}, {44, 5}, {50, 0}, {54, 2}},
         30},
        {"nothing drawn", {}, -1},
        {"drawing only beyond the gap", {{20, 2}, {51, 3}}, -1},
        {"a gap as wide as the break ends the run",
         {{10, 2}, {19, 2}, {26, 2}, {33, 2}, {40, 2}, {47, 2}, {52, 4}},
         19},
        {"a run up to the first column",
         {{0, 0}, {7, 1}, {14, 2}, {21, 3}, {28, 4}, {35, 0}, {42, 1}, {49, 2}, {56, 3}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto pixels = strip(60, 0x00000000, c.drawn, 0xffffffff);
        EXPECT_EQ(drawnRunStart(pixels.data(), 60, 6, 60, 8), c.start);
    }
}

// Columns drawn in the given runs [from, to).
std::vector<bool> columns(int width, const std::vector<std::pair<int, int>>& runs) {
    std::vector<bool> drawn(std::size_t(width), false);
    for (const auto& [from, to] : runs)
        for (int x = from; x < to; ++x) drawn[std::size_t(x)] = true;
    return drawn;
}

TEST(X11MenuBarItems, OnlyDrawingRightBesideTheIconsAndNoWiderThanAClockBelongsWithThem) {
    // A strip of 144 columns read outward from the icons' edge; runs break at 24 undrawn columns.
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> drawn;
        bool open;  // the panel goes on past the strip
        int extent;
    };
    const Case cases[] = {
        {"a clock 14 columns on", {{14, 49}}, true, 49},
        {"free space, then drawing", {{30, 60}}, true, 0},
        {"drawing on to the strip's end: a task list", {{14, 80}, {84, 140}}, true, 0},
        {"the same up to the panel's end or a task button", {{14, 80}, {84, 140}}, false, 140},
        {"a clock, then past a wide gap a task list", {{14, 49}, {90, 144}}, true, 49},
        {"nothing", {}, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(besideExtent(columns(144, c.drawn), 24, c.open), c.extent);
    }
}

TEST(X11MenuBarItems, TaskButtonsCountOnlyWhereThePanelShowsThemNow) {
    const Rect panel{0, 0, 1920, 28};
    const std::vector<Rect> icons{Rect{10, 4, 20, 20}};
    // A task list with two buttons, each with its icon and title drawn.
    const auto drawn = columns(1920, {{12, 28}, {44, 79}, {91, 170}, {991, 1080}});
    const std::vector<Rect> shown{Rect{90, 0, 900, 28}, Rect{990, 0, 900, 28}};
    EXPECT_EQ(taskButtonsShown(shown, panel, icons, drawn), shown);
    // Places left on the windows from before the panel reloaded without its task list, over its clock alone
    // (44 to 79): one over nothing, one starting in the middle of the clock, one before it.
    const auto clockOnly = columns(1920, {{12, 28}, {44, 79}});
    EXPECT_TRUE(
        taskButtonsShown({Rect{56, 0, 929, 28}, Rect{985, 0, 929, 28}}, panel, icons, clockOnly).empty());
    EXPECT_TRUE(taskButtonsShown({Rect{56, 0, 1858, 28}}, panel, icons, clockOnly).empty());
    EXPECT_TRUE(taskButtonsShown({Rect{36, 0, 1878, 28}}, panel, icons, clockOnly).empty());
    // Buttons under the icons, on another monitor's panel, or below the panel are not this panel's.
    EXPECT_EQ(taskButtonsShown({shown[0], Rect{0, 0, 40, 28}, Rect{2000, 0, 900, 28}, Rect{90, 600, 900, 28}},
                               panel, icons, drawn),
              (std::vector<Rect>{shown[0]}));

    EXPECT_DOUBLE_EQ(besideLimit(panel, 30, true, shown), 90) << "the nearest button right of the icons";
    EXPECT_DOUBLE_EQ(besideLimit(panel, 30, true, {}), 1920) << "the panel's end";
    EXPECT_DOUBLE_EQ(besideLimit(panel, 1000, false, shown), 990) << "the nearest button left of them";
    EXPECT_DOUBLE_EQ(besideLimit(panel, 10, false, shown), 0);
}

// Keeps what other threads post instead of running it, and says that something came through a flag that
// orders nothing: waiting on it, the test learns of a hand-over without taking part in it.
class HeldPosts final : public test::ForwardingLoop {
public:
    using ForwardingLoop::ForwardingLoop;
    void post(std::function<void()> block) override {
        {
            std::lock_guard lock(mutex_);
            held_.push_back(std::move(block));
        }
        posted_.store(true, std::memory_order_relaxed);
    }
    bool waitForPost() const {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!posted_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        return posted_.load(std::memory_order_relaxed);
    }
    void runHeld() {
        std::vector<std::function<void()>> blocks;
        {
            std::lock_guard lock(mutex_);
            blocks.swap(held_);
        }
        for (auto& block : blocks) block();
        posted_ = false;
    }

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> held_;
    std::atomic<bool> posted_{false};
};

// On a desktop: the reading thread hands each reading over guarded by the service's lifetime, copying its
// token as it posts. The service ends while nothing has ordered that copy before its end, as at the app's
// exit; a ThreadSanitizer build reports a race unless the end stops the thread before the lifetime ends.
TEST(X11MenuBarItemsServer, TheServiceEndsAfterItsReadingThreadWhateverItHandedOver) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    XdgAppCatalog catalog({"/nonexistent"});
    const auto session = X11Session::open(
        {}, [] { return 1.0; }, catalog);
    ASSERT_TRUE(session);
    test::VirtualLoop virtualLoop;
    HeldPosts loop(virtualLoop);
    for (int round = 0; round < 3; ++round) {
        {
            X11MenuBarItems items(*session, loop);
            ASSERT_TRUE(loop.waitForPost()) << "the first reading was never handed over";
        }
        // What was handed over finds the service gone and does nothing.
        loop.runHeld();
    }
}

}  // namespace
}  // namespace velaro
