// The pill spans: the left pill from the front app's menu items, the right from the status windows filtered
// on level, height and top offset (in device pixels, at ratios 1 and 2), the clamps at the screen's edges and
// at a camera housing; and the pill the status area of each panel layout gives.
#include <gtest/gtest.h>

#include "overlay/MenuShapeGeometry.h"
#include "platform/OverlayWindowHost.h"
#include "platform/linux/X11MenuBarItems.h"
#include "support/FakeMenuBarItems.h"
#include "support/FakeScreens.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

constexpr double kPrimaryHeight = 1080;
const ScreenInfo kPrimary = FakeScreens::make("A", Rect{0, 0, 1920, 1080}, 24);
const ScreenInfo kRight = FakeScreens::make("B", Rect{1920, 0, 1280, 1080}, 24);

MenuBarItemWindow status(double x, double y, double w, double h, int level = OverlayWindowLevel::panel) {
    return {level, Rect{x, y, w, h}};
}

CornerSettings pills(double padding = 2, double rightOffset = 0) {
    CornerSettings c;
    c.shapeMode = ShapeMode::pill;
    c.pillHPadding = padding;
    c.pillRightHOffset = rightOffset;
    return c;
}

TEST(MenuShapeGeometry, StatusWindowsAreFilteredOnLevelHeightAndTopOffset) {
    auto right = [&](MenuBarItemWindow w) {
        return pillGeometryForScreen(kPrimary, std::nullopt, {w}, kPrimaryHeight, pills(0), std::nullopt)
            .right;
    };
    EXPECT_FALSE(right(status(1800, 2, 30, 17)));
    EXPECT_FALSE(right(status(1800, 2, 30, 41)));
    EXPECT_EQ(right(status(1800, 2, 30, 18)), (PillSpan{1800, 1830}));
    EXPECT_EQ(right(status(1800, 2, 30, 40)), (PillSpan{1800, 1830}));
    EXPECT_FALSE(right(status(1800, 5, 30, 20))) << "5 pt below the screen's top";
    EXPECT_TRUE(right(status(1800, 4, 30, 20))) << "exactly 4 pt below counts";
    EXPECT_FALSE(right(status(1800, -1, 30, 20))) << "above the screen's top";
    EXPECT_FALSE(right(status(1800, 2, 30, 20, OverlayWindowLevel::belowPanel)));
    EXPECT_FALSE(right(MenuBarItemWindow{std::nullopt, Rect{1800, 2, 30, 20}}));
    EXPECT_FALSE(right(MenuBarItemWindow{OverlayWindowLevel::panel, std::nullopt}));
    EXPECT_FALSE(right(status(1920, 2, 30, 20))) << "starts on the next screen";
}

// A screen `width` × 1080 points at `ratio` device pixels a point under a top panel `panelPixels` tall, as
// the desktop sizes panels: in device pixels, whatever scale the app draws at.
ScreenInfo screenAt(double ratio, double panelPixels, const char* id = "A", double x = 0,
                    double width = 1920) {
    ScreenInfo s = FakeScreens::make(id, Rect{x, 0, width, 1080}, panelPixels / ratio);
    s.backingScale = ratio;
    return s;
}

std::optional<PillSpan> rightPillOf(const ScreenInfo& screen, const MenuBarItemWindow& w) {
    return pillGeometryForScreen(screen, std::nullopt, {w}, kPrimaryHeight, pills(0), std::nullopt).right;
}

TEST(MenuShapeGeometry, ThePanelsItemsAreKeptAtRatiosOneAndTwoForPanelsFrom24To64Pixels) {
    for (const double ratio : {1.0, 2.0}) {
        for (const double panel : {24.0, 28.0, 40.0, 48.0, 64.0}) {
            SCOPED_TRACE(testing::Message() << ratio << " pixels a point, a " << panel << "-px panel");
            const ScreenInfo screen = screenAt(ratio, panel);
            // A status item's frame spans the panel from its top (a 28-px panel at ratio 2: 14 pt).
            EXPECT_EQ(rightPillOf(screen, status(1800, 0, 30, panel / ratio)), (PillSpan{1800, 1830}));
        }
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        // An icon's own frame where the panel is not known: 20 px tall, 4 px below the top.
        EXPECT_EQ(rightPillOf(screenAt(ratio, 28), status(1800, 4 / ratio, 30, 20 / ratio)),
                  (PillSpan{1800, 1830}));
    }
}

TEST(MenuShapeGeometry, WindowsAtThePanelsLevelThatAreNotItsItemsAreLeftOutAtRatiosOneAndTwo) {
    struct Case {
        const char* what;
        double panel, top, height;  // device pixels
        bool kept;
    };
    const Case cases[] = {
        {"17 px tall", 28, 2, 17, false},
        {"exactly 18 px tall", 28, 2, 18, true},
        {"exactly 40 px tall", 28, 2, 40, true},
        {"41 px tall over a 28-px panel", 28, 2, 41, false},
        {"as tall as a 64-px panel", 64, 0, 64, true},
        {"taller than a 64-px panel", 64, 0, 65, false},
        {"a tall window hanging from the top", 28, 0, 300, false},
        {"exactly 4 px below the top", 28, 4, 20, true},
        {"5 px below the top", 28, 5, 20, false},
        {"above the top", 28, -2, 20, false},
    };
    for (const double ratio : {1.0, 2.0}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << ratio << " pixels a point: " << c.what);
            const auto right =
                rightPillOf(screenAt(ratio, c.panel), status(1800, c.top / ratio, 30, c.height / ratio));
            EXPECT_EQ(right.has_value(), c.kept);
        }
    }
}

TEST(MenuShapeGeometry, RightPillUnitesTheItemsWithPaddingAndOffsetWithinTheScreen) {
    const auto g =
        pillGeometryForScreen(kPrimary, std::nullopt, {status(1700, 2, 20, 20), status(1850, 4, 60, 22)},
                              kPrimaryHeight, pills(4, -10), std::nullopt);
    EXPECT_EQ(g.right, (PillSpan{1686, 1904}));
    const auto wide = pillGeometryForScreen(kPrimary, std::nullopt, {status(1890, 2, 30, 20)}, kPrimaryHeight,
                                            pills(8, 0), std::nullopt);
    EXPECT_EQ(wide.right, (PillSpan{1882, 1920})) << "never past the screen's width";

    auto together = pills(4);
    together.pillSeparateSides = false;
    EXPECT_FALSE(pillGeometryForScreen(kPrimary, std::nullopt, {status(1700, 2, 20, 20)}, kPrimaryHeight,
                                       together, std::nullopt)
                     .right);
}

// The status windows of a tray at a panel's left end as the panel's items are read, the icon 2 px from the
// left edge of the screen at `screenX` and the clock's last glyph at 90 px: the icon's frame padded by 10 pt
// on both sides, the clock's from the icon's right edge to 10 pt past its last glyph, and, as it ends the
// status area, 10 pt more on both sides.
std::vector<MenuBarItemWindow> trayFirst(double ratio, double panel, double screenX = 0) {
    const double icon = panel <= 28 ? 20 : 40, iconX = 2, clockEnd = 90;
    return {status(screenX + iconX / ratio - 10, 0, icon / ratio + 20, panel / ratio),
            status(screenX + (iconX + icon) / ratio - 10, 0, (clockEnd - iconX - icon) / ratio + 30,
                   panel / ratio)};
}

TEST(MenuShapeGeometry, ATrayAtThePanelsLeftEndIsInItsPillWhichStaysOnTheScreen) {
    for (const double ratio : {1.0, 2.0}) {
        for (const double panel : {24.0, 28.0, 56.0}) {
            SCOPED_TRACE(testing::Message() << ratio << " pixels a point, a " << panel << "-px panel");
            const auto right =
                pillGeometryForScreen(screenAt(ratio, panel), std::nullopt, trayFirst(ratio, panel),
                                      kPrimaryHeight, pills(2, -10), std::nullopt)
                    .right;
            ASSERT_TRUE(right);
            // The icon's padded frame starts left of the screen, the icon itself on it: the pill takes it in,
            // starting at the screen's edge with the rest of the padding, its rounded end in sight.
            EXPECT_DOUBLE_EQ(right->minX, 0);
            EXPECT_DOUBLE_EQ(right->maxX, 90 / ratio + 12) << "12 pt past the clock's last glyph";
        }
    }
    // An icon at the left end of the second screen's panel: its padding reaches onto the first screen, but
    // the item, and so its pill, is on the second.
    const ScreenInfo a = screenAt(2, 56, "A"), b = screenAt(2, 56, "B", 1920);
    const auto windows = trayFirst(2, 56, 1920);
    EXPECT_FALSE(
        pillGeometryForScreen(a, std::nullopt, windows, kPrimaryHeight, pills(2, -10), std::nullopt).right);
    EXPECT_EQ(
        pillGeometryForScreen(b, std::nullopt, windows, kPrimaryHeight, pills(2, -10), std::nullopt).right,
        (PillSpan{0, 57}));
}

// A panel's tray read as the app reads it, and the pill its status windows give at the default settings: the
// capsule keeps a status item's room (10 pt) on both sides of what it wraps unless the screen's edge comes
// first, on whichever of two 1920-px monitors holds the tray, at ratios 1 and 2.
TEST(MenuShapeGeometry, AtTheDefaultSettingsTheCapsuleKeepsRoomOnBothSidesOfTheTrayAndClock) {
    struct Layout {
        const char* what;
        double icon;                  // a 20-px icon's left edge on its monitor, in device pixels
        std::optional<double> clock;  // where a clock drawn before the icon starts
        double drawnTo;               // where the drawing after the icon ends (the icon's end: none)
    };
    const Layout layouts[] = {{"tray first, the clock after it", 10, std::nullopt, 80},
                              {"the tray before the clock at the panel's end", 1846, std::nullopt, 1915},
                              {"tray last, 10 px from the edge, the clock before it", 1890, 1830, 1910}};
    CornerSettings defaults;
    defaults.shapeMode = ShapeMode::pill;
    for (const double ratio : {1.0, 2.0}) {
        const double width = 1920 / ratio, room = X11MenuBarItems::kItemPadding;
        const ScreenInfo screens[] = {screenAt(ratio, 28, "A", 0, width),
                                      screenAt(ratio, 28, "B", width, width)};
        for (const auto& l : layouts) {
            for (const int on : {0, 1}) {
                SCOPED_TRACE(testing::Message() << l.what << ", on monitor " << on << ", ratio " << ratio);
                const double x = on * 1920;
                TrayLayout tray{{Rect{x + l.icon, 4, 20, 20}}, Rect{x, 0, 1920, 28}, x + l.drawnTo};
                if (l.clock) tray.contentLeft = x + *l.clock;
                const auto windows =
                    statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, ratio));
                auto pillOn = [&](int screen) {
                    return pillGeometryForScreen(screens[screen], std::nullopt, windows, kPrimaryHeight,
                                                 defaults, std::nullopt)
                        .right;
                };
                EXPECT_FALSE(pillOn(1 - on)) << "a pill on the other monitor";
                const auto pill = pillOn(on);
                ASSERT_TRUE(pill);
                const double from = l.clock.value_or(l.icon) / ratio, to = l.drawnTo / ratio;
                EXPECT_GE(from - pill->minX, std::min(room, from)) << "starts at " << pill->minX;
                EXPECT_GE(pill->maxX - to, std::min(room, width - to)) << "ends at " << pill->maxX;
            }
        }
    }
}

TEST(MenuShapeGeometry, StatusWindowsOfASecondScreenAreMeasuredFromItsEdge) {
    // The right screen is 1280 wide; its top sits at the same height as the primary's.
    const auto g =
        pillGeometryForScreen(kRight, std::nullopt, {status(1920 + 1200, 2, 40, 20), status(1800, 2, 30, 20)},
                              kPrimaryHeight, pills(0), std::nullopt);
    EXPECT_EQ(g.right, (PillSpan{1200, 1240}));
}

TEST(MenuShapeGeometry, LeftPillIsClampedAtZeroAndAtTheNotch) {
    const MenuExtent menu{3, 400, kPrimary};
    auto c = pills(6);
    EXPECT_EQ(pillGeometryForScreen(kPrimary, menu, {}, kPrimaryHeight, c, std::nullopt).left,
              (PillSpan{0, 406}));
    c.pillLeftHOffset = 10;
    EXPECT_EQ(pillGeometryForScreen(kPrimary, menu, {}, kPrimaryHeight, c, std::nullopt).left,
              (PillSpan{7, 416}));
    EXPECT_EQ(pillGeometryForScreen(kPrimary, menu, {}, kPrimaryHeight, c, NotchSpan{300, 500}).left,
              (PillSpan{7, 300}));
    EXPECT_FALSE(pillGeometryForScreen(kPrimary, menu, {}, kPrimaryHeight, c, NotchSpan{5, 500}).left)
        << "an extent wholly beyond the notch's left edge gives no pill";
}

TEST(MenuShapeGeometry, StatusItemUnderTheNotchIsIgnoredAndThePillStartsAtItsRightEdge) {
    const NotchSpan notch{800, 1000};
    const auto g =
        pillGeometryForScreen(kPrimary, std::nullopt, {status(880, 2, 30, 20), status(990, 2, 100, 20)},
                              kPrimaryHeight, pills(20), notch);
    EXPECT_EQ(g.right, (PillSpan{1000, 1110}));
}

TEST(MenuShapeGeometry, MenuItemsOfTwoPointsOrLessDoNotCount) {
    const std::vector<ScreenInfo> screens{kPrimary, kRight};
    EXPECT_FALSE(
        menuExtentFromItems({Rect{10, 0, 2, 20}, Rect{20, 0, 30, 2}, std::nullopt}, screens, kPrimaryHeight));
    const auto extent = menuExtentFromItems({Rect{10, 0, 2, 20}, Rect{40, 0, 50, 22}, Rect{100, 0, 60, 22}},
                                            screens, kPrimaryHeight);
    ASSERT_TRUE(extent);
    EXPECT_DOUBLE_EQ(extent->minX, 40);
    EXPECT_DOUBLE_EQ(extent->maxX, 160);
    EXPECT_EQ(extent->screen.id, "A");

    const auto onRight = menuExtentFromItems({Rect{1940, 0, 50, 22}}, screens, kPrimaryHeight);
    ASSERT_TRUE(onRight);
    EXPECT_EQ(onRight->screen.id, "B");
    EXPECT_DOUBLE_EQ(onRight->minX, 20) << "measured from that screen's left edge";
    EXPECT_EQ(menuExtentFromItems({Rect{9000, 0, 50, 22}}, screens, kPrimaryHeight)->screen.id, "A")
        << "off every screen: the first";
}

// The panels of the test desktop as they draw, in device pixels on a 1920-px panel: the tray's 20-px icon,
// the clock, and the task list's buttons (where the panel gives them on the windows) with their icon and
// title.
TEST(MenuShapeGeometry, OnEveryPanelLayoutThePillWrapsTheTrayAndTheClockBesideItOnlyAtRatiosOneAndTwo) {
    using Runs = std::vector<std::pair<int, int>>;
    struct Layout {
        const char*
            items;  // the panel's items in its own letters: S tray, C clock, T task list, F free space
        double icon;
        Runs drawn;                 // besides the icon
        std::vector<Rect> buttons;  // task buttons the panel gives the windows it lists
        std::pair<int, int> wraps;  // the icon and what belongs with it
        Runs bare;                  // drawing the pill never reaches
    };
    const Rect panel{0, 0, 1920, 28};
    const std::vector<Rect> tasks{Rect{36, 0, 914, 28}, Rect{950, 0, 910, 28}};
    const std::vector<Rect> tasksAfterClock{Rect{90, 0, 900, 28}, Rect{990, 0, 900, 28}};
    const Layout layouts[] = {
        {"SFC", 10, {{1875, 1910}}, {}, {10, 30}, {{1875, 1910}}},
        {"STC",
         10,
         {{37, 63}, {64, 100}, {951, 977}, {978, 1040}, {1875, 1910}},
         tasks,
         {10, 30},
         {{64, 100}}},
        {"SCT",
         10,
         {{44, 79}, {91, 117}, {118, 150}, {991, 1017}, {1018, 1080}},
         tasksAfterClock,
         {10, 79},
         {{118, 150}}},
        // A panel that does not name its buttons: the clock and a task list that runs on from it are one
        // drawing wider than a clock, and only the tray is wrapped.
        {"SCT, the buttons not named",
         10,
         {{44, 79}, {91, 117}, {118, 210}, {991, 1017}, {1018, 1080}},
         {},
         {10, 30},
         {{118, 210}}},
        {"SC", 10, {{44, 79}}, {}, {10, 79}, {}},
        {"CS", 59, {{11, 45}}, {}, {11, 79}, {}},
        {"FSC", 1846, {{1880, 1915}}, {}, {1846, 1915}, {}},
        {"FCS", 1894, {{1850, 1885}}, {}, {1850, 1914}, {}},
    };
    CornerSettings defaults;
    defaults.shapeMode = ShapeMode::pill;
    for (const double ratio : {1.0, 2.0}) {
        for (const auto& l : layouts) {
            SCOPED_TRACE(testing::Message() << l.items << " at ratio " << ratio);
            std::vector<bool> drawn(1920, false);
            for (auto [from, to] : l.drawn)
                for (int x = from; x < to; ++x) drawn[std::size_t(x)] = true;
            const DrawnColumnsReader drawnAt = [&](double from, double to) {
                return std::optional(std::vector<bool>(drawn.begin() + int(from), drawn.begin() + int(to)));
            };
            TrayLayout tray{{Rect{l.icon, 4, 20, 20}}, panel, std::nullopt};
            const auto buttons = taskButtonsShown(l.buttons, panel, tray.icons, drawn);
            measureBeside(tray, buttons, drawnAt);
            const auto pill = pillGeometryForScreen(
                                  screenAt(ratio, 28, "A", 0, 1920 / ratio), std::nullopt,
                                  statusWindowsOfTray(tray, x11::ScreenSpace(Rect{0, 0, 1920, 1080}, ratio)),
                                  kPrimaryHeight, defaults, std::nullopt)
                                  .right;
            ASSERT_TRUE(pill);
            const double from = l.wraps.first / ratio, to = l.wraps.second / ratio;
            // The room around what the pill wraps, up to the screen's edge and the task list's first button.
            double before = from, after = 1920 / ratio - to;
            for (const auto& b : buttons)
                if (b.minX() >= l.wraps.second) after = std::min(after, b.minX() / ratio - to);
            const double room = X11MenuBarItems::kItemPadding;
            EXPECT_GE(from - pill->minX, std::min(room, before)) << "starts at " << pill->minX;
            EXPECT_GE(pill->maxX - to, std::min(room, after)) << "ends at " << pill->maxX;
            EXPECT_LE(pill->maxX - to, after) << "ends at " << pill->maxX << ", over a task button";
            for (auto [bareFrom, bareTo] : l.bare)
                EXPECT_TRUE(pill->maxX <= bareFrom / ratio || pill->minX >= bareTo / ratio)
                    << "reaches x " << bareFrom << " to " << bareTo << ": " << pill->minX << " to "
                    << pill->maxX;
        }
    }
}

class MenuShapeGeometryComputeTest : public ::testing::Test {
protected:
    std::vector<ScreenInfo> screens{kPrimary, kRight};
    FakeMenuBarItems items;
    VirtualLoop loop;
    CornerSettings corners = pills(2, 0);
    std::vector<PillGeometryByScreen> published;
    MenuShapeGeometry geometry{[this] { return screens; }, items, loop, [this] { return corners; },
                               [this](PillGeometryByScreen map) { published.push_back(std::move(map)); }};

    // The status items read now changed: the service tells, and the pills are measured again.
    void statusItems(std::vector<MenuBarItemWindow> windows) {
        items.windows = std::move(windows);
        items.statusArea.send(0);
    }
    std::optional<PillSpan> rightPill() const { return published.back().at("A").right; }
};

TEST_F(MenuShapeGeometryComputeTest, EveryScreenSharesTheLeftSpanAndGetsItsOwnRight) {
    items.menuItems = std::vector<std::optional<Rect>>{Rect{10, 0, 100, 22}};
    items.windows = {status(1800, 2, 30, 20)};
    geometry.computePillGeometries();
    ASSERT_EQ(published.size(), 1u);
    const auto& map = published.front();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at("A").left, (PillSpan{8, 112}));
    EXPECT_EQ(map.at("B").left, (PillSpan{8, 112}));
    EXPECT_EQ(map.at("A").right, (PillSpan{1798, 1832}));
    EXPECT_FALSE(map.at("B").right);
}

TEST_F(MenuShapeGeometryComputeTest, WithoutMenusTheRightPillIsStillMeasured) {
    items.windows = {status(1800, 2, 30, 20)};
    geometry.computePillGeometries();
    EXPECT_FALSE(published.back().at("A").left);
    EXPECT_TRUE(published.back().at("A").right);

    items.menuItems = std::vector<std::optional<Rect>>{std::nullopt, std::nullopt};
    geometry.computePillGeometries();
    EXPECT_FALSE(published.back().at("A").left) << "a menu bar whose items all fail";
}

TEST_F(MenuShapeGeometryComputeTest, AtTwoPixelsAPointTheTrayOfEachPanelGetsItsPill) {
    // Two 28-px panels side by side at ratio 2 (14 pt), the tray and clock at the right end of the second.
    screens = {screenAt(2, 28, "A"), screenAt(2, 28, "B", 1920)};
    items.windows = {status(1920 + 1700, 0, 30, 14), status(1920 + 1730, 0, 30, 14),
                     status(1920 + 1760, 0, 60, 14), status(1920 + 10, 0, 30, 200)};
    geometry.computePillGeometries();
    const auto& map = published.back();
    EXPECT_EQ(map.at("B").right, (PillSpan{1698, 1822}));
    EXPECT_FALSE(map.at("A").right);
}

TEST_F(MenuShapeGeometryComputeTest, NoScreensPublishAnEmptyMap) {
    screens.clear();
    items.windows = {status(1800, 2, 30, 20)};
    geometry.computePillGeometries();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_TRUE(published.front().empty());
}

TEST_F(MenuShapeGeometryComputeTest, AStatusAreaThatChangesIsMeasuredAgain) {
    geometry.computePillGeometries();
    EXPECT_FALSE(published.back().at("A").right) << "no icon docked yet";
    items.windows = {status(1800, 2, 30, 20)};
    items.statusArea.send(0);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back().at("A").right, (PillSpan{1798, 1832}));
}

// A panel that reloads or restarts lets go of its tray, then of itself, and takes the icons again in a new
// tray: the pill stays where it was meanwhile (none would show the whole band), however long the panel
// itself is away, and follows the tray once it is back. A tray that does not come back within the time
// from its panel showing leaves the screen as a panel without a tray does; a pill the settings no longer ask
// for goes at once.
TEST_F(MenuShapeGeometryComputeTest, APillWhoseTrayIsGoneStaysUntilTheTrayIsBackOrHadTimeToComeBack) {
    const double wait = MenuShapeGeometry::kStatusItemsReturnTime;
    const ScreenInfo withPanel = screenAt(1, 24), withoutPanel = screenAt(1, 0);
    statusItems({status(1800, 2, 30, 20)});
    statusItems({});
    loop.advance(wait * 0.9);
    screens = {withoutPanel};
    geometry.computePillGeometries();
    loop.advance(wait * 3);
    screens = {withPanel};
    geometry.computePillGeometries();
    loop.advance(wait * 0.9);
    EXPECT_EQ(rightPill(), (PillSpan{1798, 1832})) << "the time counts from the new panel showing";
    statusItems({status(10, 2, 30, 20)});
    EXPECT_EQ(rightPill(), (PillSpan{8, 42})) << "the tray back, at the panel's left end";

    statusItems({});
    loop.advance(wait * 0.9);
    geometry.computePillGeometries();
    EXPECT_EQ(rightPill(), (PillSpan{8, 42})) << "the time counts from the tray's going, not the last look";
    loop.advance(wait * 0.2);
    EXPECT_FALSE(rightPill()) << "the tray gone for good";
    EXPECT_EQ(loop.pendingTimers(), 0u);

    statusItems({status(1800, 2, 30, 20)});
    corners.pillSeparateSides = false;
    geometry.computePillGeometries();
    EXPECT_FALSE(rightPill()) << "the sides drawn as one";
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

}  // namespace
}  // namespace velaro::test
