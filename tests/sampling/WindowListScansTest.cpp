// The foreign-menu test and the covering-window scan: coverage, the filled window, excluded apps, slides.
#include "sampling/WindowListScans.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/FakeDefaultsStore.h"
#include "support/FakeScreens.h"
#include "support/FakeWindowList.h"
#include "support/FakeWorkspace.h"

namespace velaro {
namespace {

using test::FakeScreens;
using test::FakeWindowList;

constexpr std::int32_t kOwnPID = 4242;

class WindowScanTest : public ::testing::Test {
protected:
    WindowScanTest() {
        // One 1440×900 screen with a 25-pt bar, the status bar as thick.
        screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 25)});
        screens.setStatusBarThickness(25);
        workspace.ownPID = kOwnPID;
    }
    WindowScanResult scan(const WindowPositions& previous = {}) { return scans.scanWindows(previous); }
    void excludeForOverlay(const std::string& bundle) {
        defaults.seed(kExcludedOverlayHideKey, PlistValue::array({bundle}));
    }
    void runApp(std::int32_t pid, const std::string& bundle) {
        workspace.running.push_back({pid, bundle, bundle});
    }

    FakeScreens screens;
    FakeWindowList windows;
    test::FakeDefaultsStore defaults;
    test::FakeWorkspace workspace;
    WindowListScans scans{windows, screens, defaults, workspace, kOwnPID};
};

TEST_F(WindowScanTest, CoverageIsMeasuredAgainstTheScreenLessTheStatusBar) {
    // R is 875 pt tall; a window from y 25 to the bottom meets it over 850 pt.
    windows.setWindows({FakeWindowList::window(10, {0, 25, 1440, 875}, 0, "Editor")});
    const auto r = scan();
    EXPECT_NEAR(r.filledCoverage, 850.0 / 875.0, 1e-9);
    EXPECT_GE(r.filledCoverage, 0.9);
    EXPECT_EQ(r.filledPID, 10);
    EXPECT_EQ(r.filledOwnerName, "Editor");
    // Per screen, coverage is of the area below the bar: 1440×875 fully covered.
    EXPECT_DOUBLE_EQ(r.filledCoverageByScreen.at("main"), 1.0);
}

TEST_F(WindowScanTest, FrontMostWinsAmongEqualCoveragesAndOwnWindowsNeverFill) {
    windows.setWindows({
        FakeWindowList::window(kOwnPID, {0, 0, 1440, 900}, 0, "Velaro"),
        FakeWindowList::window(30, {0, 100, 1440, 400}, 0, "Front"),
        FakeWindowList::window(40, {0, 100, 1440, 400}, 0, "Back"),
    });
    const auto r = scan();
    EXPECT_EQ(r.filledPID, 30);
    EXPECT_EQ(r.filledOwnerName, "Front");
    // Our own window is not even considered.
    EXPECT_EQ(r.consideredWindowCount, 2);
}

TEST_F(WindowScanTest, ALargerWindowBehindTakesOverButSmallOnesBehindAreSkipped) {
    windows.setWindows({
        FakeWindowList::window(1, {0, 0, 400, 300}), FakeWindowList::window(2, {0, 0, 1440, 860}),
        FakeWindowList::window(3, {0, 0, 720, 600}),  // behind the big one: neither qualifies nor covers half
    });
    const auto r = scan();
    EXPECT_EQ(r.filledPID, 2);
    // The small window behind did not raise the per-screen map beyond the big one's value.
    EXPECT_NEAR(r.filledCoverageByScreen.at("main"), 835.0 / 875.0, 1e-9);
}

TEST_F(WindowScanTest, CoverageReachesTheEnterAndStayThresholdsExactly) {
    // 0.9 and 0.5 of R (875 pt tall) from the top: the refresh compares these with >=.
    windows.setWindows({FakeWindowList::window(1, {0, 0, 1440, 787.5})});
    EXPECT_DOUBLE_EQ(scan().filledCoverage, 0.9);
    windows.setWindows({FakeWindowList::window(1, {0, 0, 1440, 437.5})});
    EXPECT_DOUBLE_EQ(scan().filledCoverage, 0.5);
    // Entirely below R (the bottom status-bar strip) covers nothing.
    windows.setWindows({FakeWindowList::window(1, {0, 875, 1440, 25})});
    const auto r = scan();
    EXPECT_EQ(r.filledCoverage, 0);
    EXPECT_EQ(r.filledPID, 0);
}

TEST_F(WindowScanTest, ReferenceRectangleSitsAtTheMainScreensRealTopLeft) {
    // Primary 1920×1080 at the origin; the main screen (holding the active window) sits to its right and
    // 180 pt lower at the top. Its window fills it below the bar.
    screens.setScreens({FakeScreens::make("primary", {0, 0, 1920, 1080}, 28),
                        FakeScreens::make("side", {1920, 0, 1440, 900}, 25)},
                       1);
    windows.setWindows({
        FakeWindowList::window(1, {0, 28, 1920, 1052}, 0, "OnPrimary"),
        FakeWindowList::window(2, {1920, 180 + 25, 1440, 875}, 0, "OnSide"),
    });
    const auto r = scan();
    EXPECT_EQ(r.filledPID, 2);
    EXPECT_NEAR(r.filledCoverage, 850.0 / 875.0, 1e-9);
    EXPECT_DOUBLE_EQ(r.filledCoverageByScreen.at("primary"), 1.0);
    EXPECT_DOUBLE_EQ(r.filledCoverageByScreen.at("side"), 1.0);
}

TEST_F(WindowScanTest, WithoutAMainScreenTheScanIsEmpty) {
    screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 25)}, -1);
    windows.setWindows({FakeWindowList::window(1, {0, 0, 1440, 900})});
    EXPECT_EQ(scan({{1, 0.0}}), WindowScanResult{});
}

TEST_F(WindowScanTest, EmptyOrUnreadableEntriesGiveTheEmptyValues) {
    auto r = scan({{5, 10.0}});
    EXPECT_EQ(r.consideredWindowCount, 0);
    EXPECT_TRUE(r.hadPreviousPositions);
    EXPECT_EQ(r.filledPID, 0);

    WindowInfo noPID = FakeWindowList::window(1, {0, 0, 1440, 900});
    noPID.ownerPID.reset();
    WindowInfo noLayer = FakeWindowList::window(2, {0, 0, 1440, 900});
    noLayer.layer.reset();
    WindowInfo noBounds = FakeWindowList::window(3, {0, 0, 1440, 900});
    noBounds.bounds.reset();
    WindowInfo noName = FakeWindowList::window(4, {0, 0, 1440, 900}, 0, "");
    windows.setWindows({noPID, noLayer, noBounds, noName});
    r = scan();
    EXPECT_EQ(r.consideredWindowCount, 1);
    EXPECT_EQ(r.filledPID, 4) << "a missing owner name is not an ignored owner";
}

TEST_F(WindowScanTest, OverlayHideAppCoversItsScreensButNeverFills) {
    screens.setScreens({FakeScreens::make("primary", {0, 0, 1440, 900}, 25),
                        FakeScreens::make("second", {1440, 0, 1000, 800}, 20)});
    excludeForOverlay("com.hide");
    runApp(7, "com.hide");
    runApp(8, "com.other");
    // 60 % of the second screen below its bar (780 pt tall → 468 pt), nothing of the main screen.
    windows.setWindows({
        FakeWindowList::window(7, {1440, 100 + 20, 1000, 468}),
        FakeWindowList::window(8, {0, 0, 720, 450}),
    });
    const auto r = scan();
    EXPECT_NEAR(r.overlayHideCoverageByScreen.at("second"), 0.6, 1e-9);
    EXPECT_EQ(r.overlayHideCoverage, 0) << "it does not touch the main screen";
    EXPECT_EQ(r.filledCoverageByScreen.count("second"), 0u);
    EXPECT_EQ(r.filledPID, 8);
    EXPECT_TRUE(r.captureStopCoverageByScreen.empty());
    EXPECT_EQ(r.consideredWindowCount, -1) << "slide bookkeeping only runs with one screen";
}

TEST_F(WindowScanTest, ExcludedAppAtFullCoverageLetsTheWindowBehindCompeteAsStrong) {
    excludeForOverlay("com.hide");
    defaults.seed(kExcludedCaptureStopKey, PlistValue::array({"com.hide"}));
    runApp(7, "com.hide");
    runApp(8, "com.app");
    windows.setWindows({
        FakeWindowList::window(7, {0, 0, 1440, 900}),
        FakeWindowList::window(8, {0, 0, 1440, 900}),
    });
    const auto r = scan();
    EXPECT_DOUBLE_EQ(r.overlayHideCoverage, 1.0);
    EXPECT_DOUBLE_EQ(r.captureStopCoverageByScreen.at("main"), 1.0);
    EXPECT_EQ(r.filledPID, 8);
    EXPECT_DOUBLE_EQ(r.filledCoverage, 1.0);

    // An excluded app whose process cannot be resolved is not excluded.
    workspace.running.clear();
    EXPECT_EQ(scan().filledPID, 7);
}

TEST_F(WindowScanTest, HangingWindowsAndSlideMoves) {
    auto w = [](std::int64_t number, double x) {
        return FakeWindowList::window(1, {x, 100, 400, 300}, 0, "A", number);
    };
    // 8 pt past the right edge is not hanging; 8.5 pt is; so is 9 pt past the left edge.
    windows.setWindows({w(1, 1440 - 400 + 8), w(2, 1440 - 400 + 8.5), w(3, -9)});
    auto r = scan();
    EXPECT_EQ(r.offscreenWindowCount, 2);
    EXPECT_EQ(r.maxSlideMoves, 0);
    EXPECT_FALSE(r.hadPreviousPositions);
    EXPECT_EQ(r.windowPositions, (WindowPositions{{1, 1048}, {2, 1048.5}, {3, -9}}));

    // Moves of exactly 40 pt count; 39 does not.
    r = scan({{2, 1048.5 - 40}, {3, -9 + 40}, {1, 1048 - 39}});
    EXPECT_EQ(r.maxSlideMoves, 1);
    r = scan({{2, 1048.5 + 40}, {3, -9 + 40}});
    EXPECT_EQ(r.maxSlideMoves, 2) << "two left moves";

    // A window without a number is not recorded and cannot move.
    WindowInfo unnumbered = w(0, -50);
    windows.setWindows({unnumbered});
    r = scan({{0, 0}});
    EXPECT_EQ(r.offscreenWindowCount, 1);
    EXPECT_EQ(r.maxSlideMoves, 0);
    EXPECT_TRUE(r.windowPositions.empty());
}

TEST_F(WindowScanTest, OnlyTheFirstForeignMenuIsDescribedAndMenusDoNotFill) {
    windows.setWindows({
        FakeWindowList::window(5, {10.7, 24, 200.9, 300}, WindowLevel::popUpMenu, "Menu"),
        FakeWindowList::window(6, {500, 20, 300, 300}, WindowLevel::popUpMenu, "Other"),
        FakeWindowList::window(7, {0, 0, 1440, 900}),
    });
    const auto r = scan();
    EXPECT_TRUE(r.foreignMenuSeen);
    EXPECT_EQ(r.foreignMenuDescription, "layer=101 200\u00d7300 @ (10,24)");
    EXPECT_EQ(r.filledPID, 7);
    EXPECT_EQ(r.consideredWindowCount, 1);
    EXPECT_TRUE(scans.isForeignMenuOpen());
}

// The sampler scans every 0.5 s: while nothing the scan reads changed, the list is not walked again, and
// every answer is the one a scan from scratch gives.
TEST_F(WindowScanTest, TheListIsWalkedAgainOnlyWhenWhatTheScanReadsChanged) {
    // A window of app 7 over the screen and one of app 8 hanging `hang` pt off its left side.
    auto setList = [&](double hang) {
        windows.setWindows({FakeWindowList::window(7, {0, 0, 1440, 900}, 0, "A", 1),
                            FakeWindowList::window(8, {-hang, 0, 1440, 900}, 0, "A", 2)});
    };
    auto oneScreen = [&] { screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 25)}); };
    auto twoScreens = [&] {
        screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 25),
                            FakeScreens::make("second", {1440, 0, 1000, 800}, 20)});
    };
    runApp(7, "com.seven");
    // `reads`: how often the screens (and with them the excluded apps) were read again; `walks`: the list.
    struct Step {
        const char* what;
        std::function<void()> change;
        WindowPositions previous;
        int reads, walks;
    };
    const std::vector<Step> steps = {
        {"first scan", [&] { setList(600); }, {}, 1, 1},
        {"nothing changed", [] {}, {}, 0, 0},
        {"the previous positions differ (a slide)", [] {}, {{2, -500}}, 0, 0},
        {"and again without them", [] {}, {}, 0, 0},
        {"the same list set again", [&] { setList(600); }, {}, 1, 1},
        {"the window hangs further", [&] { setList(700); }, {{2, -600}}, 1, 1},
        {"a thicker status bar", [&] { screens.setStatusBarThickness(30); }, {}, 1, 1},
        {"the same status bar set again", [&] { screens.setStatusBarThickness(30); }, {}, 1, 0},
        {"another screen", twoScreens, {}, 1, 1},
        {"back to one", oneScreen, {}, 1, 1},
        {"the same screen set again", oneScreen, {}, 1, 0},
        {"a setting the scan does not read", [&] { defaults.set("other", 1); }, {}, 1, 0},
        {"its app excluded", [&] { excludeForOverlay("com.seven"); }, {}, 1, 1},
        {"excluded, nothing changed", [] {}, {}, 0, 0},
        {"the owner's app is no longer known", [&] { workspace.running.clear(); }, {}, 0, 1},
        {"the owner's app is known again", [&] { runApp(7, "com.seven"); }, {}, 0, 1},
        {"excluded no more, by another program", [&] { defaults.changeOutside(kExcludedOverlayHideKey, nullptr); },
         {}, 1, 1},
    };
    for (const auto& step : steps) {
        step.change();
        const int snapshotsBefore = windows.snapshots, readsBefore = screens.reads;
        const auto r = scan(step.previous);
        EXPECT_EQ(screens.reads - readsBefore, step.reads) << step.what;
        EXPECT_EQ(windows.snapshots - snapshotsBefore, step.walks) << step.what;
        WindowListScans fresh{windows, screens, defaults, workspace, kOwnPID};
        EXPECT_EQ(r, fresh.scanWindows(step.previous)) << step.what;
    }
}

// Positions are shared between copies: a copy compares equal, and equal lists made apart do too.
TEST(WindowPositionsTest, CopiesShareTheListAndCompareByContent) {
    const WindowPositions made{{3, 30}, {1, 10}, {3, 31}};
    const WindowPositions copy = made;
    EXPECT_EQ(copy, made);
    EXPECT_EQ(made, (WindowPositions{{1, 10}, {3, 31}}));
    EXPECT_NE(made, (WindowPositions{{1, 10}, {3, 30}}));
    EXPECT_EQ(WindowPositions{}, WindowPositions(std::vector<WindowPositions::Entry>{}));
    EXPECT_NE(WindowPositions{}, made);
    EXPECT_EQ(copy.find(3), 31);
    EXPECT_EQ(copy.find(2), std::nullopt);
    EXPECT_EQ(WindowPositions{}.find(1), std::nullopt);
}

TEST(ForeignMenuTest, MenusMustHangFromTheBarAndStayWithinTheCaps) {
    auto menu = [](int layer, Rect bounds, double alpha = 1.0) {
        WindowInfo w = FakeWindowList::window(9, bounds, layer);
        w.alpha = alpha;
        return w;
    };
    auto isMenu = [](const WindowInfo& w) { return isForeignMenuWindow(w, 1, 24, 900, 1440); };
    // Pop-up menus: the top edge at most 6 pt below a 24-pt bar.
    EXPECT_TRUE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 200, 300})));
    EXPECT_TRUE(isMenu(menu(WindowLevel::popUpMenu, {0, 30, 200, 300})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::popUpMenu, {0, 30.5, 200, 300})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::popUpMenu, {0, 31, 200, 300})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 50, 300})));
    // A pop-up menu is also above the status level, so only one past both caps is left out.
    EXPECT_TRUE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 1300, 300})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 1300, 460})));
    // Panels above the status level: at most half the screen tall.
    EXPECT_TRUE(isMenu(menu(WindowLevel::status + 1, {0, 30, 300, 400})));
    EXPECT_TRUE(isMenu(menu(WindowLevel::status + 1, {0, 30, 300, 450})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::status + 1, {0, 30, 300, 460})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::screenSaver + 1, {0, 30, 300, 400})));
    // Between dock and status.
    EXPECT_TRUE(isMenu(menu(WindowLevel::dock + 1, {0, 0, 300, 60})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::dock, {0, 0, 300, 60})));
    // The panel itself (status level, 28 pt tall) and normal windows are no menus.
    EXPECT_FALSE(isMenu(menu(WindowLevel::status, {0, 0, 1440, 28})));
    EXPECT_FALSE(isMenu(menu(WindowLevel::normal, {0, 0, 600, 600})));
    // Transparent windows, our own windows and unreadable ones never count.
    EXPECT_FALSE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 200, 300}, 0.01)));
    EXPECT_TRUE(isMenu(menu(WindowLevel::popUpMenu, {0, 24, 200, 300}, 0.02)));
    EXPECT_FALSE(isForeignMenuWindow(menu(WindowLevel::popUpMenu, {0, 24, 200, 300}), 9, 24, 900, 1440));
    WindowInfo noAlpha = menu(WindowLevel::popUpMenu, {0, 24, 200, 300});
    noAlpha.alpha.reset();
    EXPECT_FALSE(isMenu(noAlpha));
    // Without a screen there are no caps.
    EXPECT_TRUE(isForeignMenuWindow(menu(WindowLevel::popUpMenu, {0, 24, 5000, 300}), 1, 24, 0, 0));
}

TEST(ForeignMenuTest, WithoutAMainScreenTheStatusBarThicknessIsTheBar) {
    FakeScreens screens;
    screens.setScreens({}, -1);
    screens.setStatusBarThickness(30);
    FakeWindowList windows;
    test::FakeDefaultsStore defaults;
    test::FakeWorkspace workspace;
    WindowListScans scans(windows, screens, defaults, workspace, 1);
    windows.setWindows({FakeWindowList::window(2, {0, 36, 4000, 300}, WindowLevel::popUpMenu)});
    EXPECT_TRUE(scans.isForeignMenuOpen());
    windows.setWindows({FakeWindowList::window(2, {0, 37, 4000, 300}, WindowLevel::popUpMenu)});
    EXPECT_FALSE(scans.isForeignMenuOpen());
}

}  // namespace
}  // namespace velaro

namespace velaro {
namespace {

// The frame queues ask a few times a second; the list is read again only when the answer may differ.
TEST(ForeignMenuTest, TheListIsReadAgainOnlyAfterItOrTheMainScreenChanged) {
    FakeScreens screens;
    screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 24)});
    FakeWindowList windows;
    test::FakeDefaultsStore defaults;
    test::FakeWorkspace workspace;
    WindowListScans scans(windows, screens, defaults, workspace, 1);
    const auto menuAt = [](double y) {
        return std::vector{FakeWindowList::window(2, {0, y, 200, 300}, WindowLevel::popUpMenu)};
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        bool open;
        int reads;  // list reads the question costs
    };
    const std::vector<Step> steps = {
        {"first question", [&] { windows.setWindows(menuAt(24)); }, true, 1},
        {"nothing changed", [] {}, true, 0},
        {"the menu moved down", [&] { windows.setWindows(menuAt(40)); }, false, 1},
        {"asked again", [] {}, false, 0},
        {"a taller bar reaches it",
         [&] { screens.setScreens({FakeScreens::make("main", {0, 0, 1440, 900}, 40)}); }, true, 1},
        {"the same list set again", [&] { windows.setWindows(menuAt(40)); }, true, 1},
    };
    for (const auto& step : steps) {
        step.change();
        const int before = windows.snapshots;
        EXPECT_EQ(scans.isForeignMenuOpen(), step.open) << step.what;
        EXPECT_EQ(windows.snapshots - before, step.reads) << step.what;
    }
}

}  // namespace
}  // namespace velaro
