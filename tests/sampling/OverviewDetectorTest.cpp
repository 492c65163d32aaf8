// The overview detector: what counts as an overview, when it is reported closed or given up on, shell
// restarts, client demand, and the per-desktop choice of the shell.
#include "sampling/OverviewDetector.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/FakeDesktopOverview.h"
#include "support/FakeScreens.h"
#include "support/FakeWindowList.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::FakeScreens;
using test::FakeWindowList;

constexpr std::int32_t kShellPID = 300;
constexpr std::int32_t kAppPID = 500;
const OverviewShell kShell{"org.example.Shell", "example-shell"};

class OverviewDetectorTest : public ::testing::Test {
protected:
    OverviewDetectorTest() {
        screens.setScreens({FakeScreens::make("main", {0, 0, 1000, 800}, 24)});
        workspace.running.push_back({kShellPID, kShell.appId, std::string("Shell")});
        workspace.running.push_back({kAppPID, std::string("org.example.Editor"), std::string("Editor")});
        // At rest the shell shows its panel; an editor window is open.
        rest = {shellWindow(1, {0, 0, 1000, 24}), appWindow(2)};
        windows.setWindows(rest);
    }

    static WindowInfo shellWindow(std::int64_t number, Rect bounds, std::int32_t pid = kShellPID) {
        return FakeWindowList::window(pid, bounds, WindowLevel::popUpMenu, "Example-Shell", number);
    }
    static WindowInfo fullScreenShellWindow(std::int64_t number, std::int32_t pid = kShellPID) {
        return shellWindow(number, {0, 0, 1000, 800}, pid);
    }
    static WindowInfo appWindow(std::int64_t number) {
        return FakeWindowList::window(kAppPID, {100, 100, 600, 500}, WindowLevel::normal, "Editor", number);
    }
    void show(std::vector<WindowInfo> extra) {
        auto list = rest;
        list.insert(list.end(), extra.begin(), extra.end());
        windows.setWindows(list);
    }
    void showOverview() { show({fullScreenShellWindow(10), fullScreenShellWindow(11)}); }

    test::VirtualLoop loop;
    // The probe is a repeating timer on the loop, and the detector's only one that waits while nothing
    // changes.
    bool probing() const { return loop.pendingTimers() > 0; }
    FakeScreens screens;
    FakeWindowList windows;
    test::FakeWorkspace workspace;
    std::vector<WindowInfo> rest;
    OverviewDetector detector{windows, screens, workspace, loop, kShell};
};

TEST_F(OverviewDetectorTest, TwoLargeNewShellWindowsAreAnOverviewAtTheNextProbe) {
    detector.acquire("overlay");
    std::vector<bool> seen;
    auto sub = detector.isOverviewActive.changes().sink([&](bool v) { seen.push_back(v); });
    showOverview();
    loop.advance(0.14);
    EXPECT_FALSE(detector.isOverviewActive());
    loop.advance(0.01);
    EXPECT_TRUE(detector.isOverviewActive());
    loop.advance(1.0);
    EXPECT_EQ(seen, std::vector<bool>{true});  // later probes with the same windows publish nothing
}

TEST_F(OverviewDetectorTest, OneLargeOrSeveralSmallNewWindowsAreNotAnOverview) {
    detector.acquire("overlay");
    show({fullScreenShellWindow(10)});
    loop.advance(0.3);
    EXPECT_FALSE(detector.isOverviewActive());
    // Exactly half the screen counts as large; just under does not.
    show({shellWindow(10, {0, 0, 1000, 399}), shellWindow(11, {0, 400, 1000, 399}),
          fullScreenShellWindow(12)});
    loop.advance(0.3);
    EXPECT_FALSE(detector.isOverviewActive());
    show({shellWindow(10, {0, 0, 1000, 400}), shellWindow(11, {0, 400, 1000, 400})});
    loop.advance(0.15);
    EXPECT_TRUE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, WindowsOfOtherAppsOrAtNormalLevelDoNotCount) {
    detector.acquire("overlay");
    auto normalShell = fullScreenShellWindow(10);
    normalShell.layer = WindowLevel::normal;
    auto unnumbered = fullScreenShellWindow(11);
    unnumbered.number.reset();
    show({normalShell, unnumbered,
          FakeWindowList::window(kAppPID, {0, 0, 1000, 800}, WindowLevel::popUpMenu, "Editor", 12)});
    loop.advance(0.3);
    EXPECT_FALSE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, ClosesAtTheFirstProbeHalfASecondAfterTheDifferenceEmptied) {
    detector.acquire("overlay");
    showOverview();
    loop.advance(0.15);  // t = 0.15: active
    ASSERT_TRUE(detector.isOverviewActive());
    loop.advance(0.1);
    windows.setWindows(rest);  // gone at t = 0.25; the probe at 0.30 sees it empty
    loop.advance(0.5);         // t = 0.75: 0.45 s empty
    EXPECT_TRUE(detector.isOverviewActive());
    loop.advance(0.15);  // t = 0.90: 0.6 s empty
    EXPECT_FALSE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, AnOverviewReturningBeforeTheCloseKeepsItActive) {
    detector.acquire("overlay");
    showOverview();
    loop.advance(0.15);
    windows.setWindows(rest);
    loop.advance(0.3);
    showOverview();
    loop.advance(0.6);
    EXPECT_TRUE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, WindowsThatStayUpAreGivenUpOnAfterFiveMinutesAndJoinTheBaseline) {
    detector.acquire("overlay");
    showOverview();
    loop.advance(0.15);
    ASSERT_TRUE(detector.isOverviewActive());
    loop.advance(299.7);
    EXPECT_TRUE(detector.isOverviewActive());
    loop.advance(0.45);
    EXPECT_FALSE(detector.isOverviewActive());
    // The same windows are now the normal state, even once the count changes again.
    show({fullScreenShellWindow(10), fullScreenShellWindow(11), appWindow(3)});
    loop.advance(1.0);
    EXPECT_FALSE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, ARestartedShellRetakesTheBaselineAndReportsInactive) {
    detector.acquire("overlay");
    showOverview();
    loop.advance(0.15);
    ASSERT_TRUE(detector.isOverviewActive());
    workspace.running[0].pid = kShellPID + 1;
    rest = {shellWindow(1, {0, 0, 1000, 24}, kShellPID + 1), appWindow(2)};
    windows.setWindows({rest[0], rest[1], fullScreenShellWindow(20, kShellPID + 1),
                        fullScreenShellWindow(21, kShellPID + 1)});
    loop.advance(0.15);
    EXPECT_FALSE(detector.isOverviewActive());
    loop.advance(1.0);
    EXPECT_FALSE(detector.isOverviewActive());  // its present windows are the new baseline
    windows.setWindows({rest[0], rest[1], fullScreenShellWindow(20, kShellPID + 1),
                        fullScreenShellWindow(21, kShellPID + 1), fullScreenShellWindow(22, kShellPID + 1),
                        fullScreenShellWindow(23, kShellPID + 1)});
    loop.advance(0.15);
    EXPECT_TRUE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, DemandTagsStartAndStopTheProbe) {
    EXPECT_FALSE(probing());
    detector.acquire("overlay");
    detector.acquire("music");
    EXPECT_TRUE(probing());
    detector.release("unknown");
    detector.release("music");
    EXPECT_TRUE(probing());
    const int reads = windows.snapshots;
    loop.advance(0.15);
    EXPECT_EQ(windows.snapshots, reads + 1);  // one list read per probe while nothing changes

    showOverview();
    loop.advance(0.15);
    ASSERT_TRUE(detector.isOverviewActive());
    detector.release("overlay");
    EXPECT_FALSE(probing());
    EXPECT_FALSE(detector.isOverviewActive());
    EXPECT_EQ(loop.pendingTimers(), 0u);

    // A new acquire takes the present windows as the baseline.
    detector.acquire("overlay");
    loop.advance(0.5);
    EXPECT_FALSE(detector.isOverviewActive());
}

// Each probe answers from what the previous one found while the list's generation and the shell's process
// stay, so an idle desktop costs no list copy; every change is still seen at the next probe, with the same
// timing as a probe that reads every time.
TEST_F(OverviewDetectorTest, ProbesReadTheListOnlyAfterItOrTheShellChangedAndStillSeeEveryChange) {
    struct Step {
        const char* what;
        std::function<void()> change;
        double advance;
        int reads;  // list snapshots taken over the step
        bool active;
    };
    const auto restartShell = [&] {
        workspace.running[0].pid = kShellPID + 1;  // the list itself stays as it is
    };
    const Step steps[] = {
        {"the first probe reads the list", [] {}, 0.15, 1, false},
        {"nothing changes: no read", [] {}, 1.5, 0, false},
        {"an overview appears: the probe reads it and the large windows", [&] { showOverview(); }, 0.15, 2,
         true},
        {"it stays: no read, still active", [] {}, 3.0, 0, true},
        {"it goes: one read, still active within the half second", [&] { windows.setWindows(rest); }, 0.45, 1,
         true},
        {"closed at the first probe half a second after the first empty one", [] {}, 0.3, 0, false},
        {"a list that changes without new windows is read, still no overview", [&] { show({appWindow(3)}); },
         0.15, 1, false},
        {"a restarted shell is read anew with an unchanged list", restartShell, 0.15, 1, false},
        {"and then answered from again", [] {}, 1.5, 0, false},
    };
    detector.acquire("overlay");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const int before = windows.snapshots;
        loop.advance(step.advance);
        EXPECT_EQ(windows.snapshots - before, step.reads);
        EXPECT_EQ(detector.isOverviewActive(), step.active);
    }
    // A fresh acquire takes a new baseline, and its first probe reads the list again.
    detector.release("overlay");
    detector.acquire("overlay");
    const int before = windows.snapshots;
    loop.advance(0.15);
    EXPECT_EQ(windows.snapshots - before, 1);
}

TEST_F(OverviewDetectorTest, ADetectorDestroyedWhileProbingLeavesNoTimer) {
    {
        OverviewDetector d{windows, screens, workspace, loop, kShell};
        d.acquire("overlay");
        EXPECT_EQ(loop.pendingTimers(), 1u);
    }
    EXPECT_EQ(loop.pendingTimers(), 0u);
    loop.advance(1.0);
}

TEST_F(OverviewDetectorTest, AnUnknownShellProcessIsRecognisedByItsWindowsOwnerName) {
    workspace.running.erase(workspace.running.begin());
    detector.acquire("overlay");
    auto a = fullScreenShellWindow(10);
    auto b = fullScreenShellWindow(11);
    a.ownerPID.reset();
    b.ownerPID = 777;  // a process nobody knows as the shell, but its windows carry the shell's name
    show({a, b});
    loop.advance(0.15);
    EXPECT_TRUE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, WithoutAMainScreenEveryNewShellWindowIsLarge) {
    screens.setScreens({}, -1);
    detector.acquire("overlay");
    show({shellWindow(10, {0, 0, 10, 10}), shellWindow(11, {0, 0, 10, 10})});
    loop.advance(0.15);
    EXPECT_TRUE(detector.isOverviewActive());
}

TEST_F(OverviewDetectorTest, ADesktopWithoutAShellNeverReportsAnOverview) {
    OverviewDetector plain{windows, screens, workspace, loop, std::nullopt};
    const int reads = windows.snapshots;
    plain.acquire("overlay");
    showOverview();
    loop.advance(1.0);
    EXPECT_FALSE(plain.isOverviewActive());
    // Nothing to find there, so nothing is probed: no timer wakes the app and the list is never read.
    EXPECT_FALSE(probing());
    EXPECT_EQ(windows.snapshots, reads);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(OverviewDetectorTest, APublishedDesktopStateIsFollowedWithoutProbingAndTheWindowsTakeOverWhenItGoes) {
    test::FakeDesktopOverview desktop;
    OverviewDetector followed{windows, screens, workspace, loop, kShell, &desktop};
    std::vector<bool> seen;
    auto sub = followed.isOverviewActive.changes().sink([&](bool v) { seen.push_back(v); });

    desktop.state = false;
    followed.acquire("overlay");
    EXPECT_FALSE(probing()) << "the desktop's word needs no probe";
    desktop.state = true;
    EXPECT_TRUE(followed.isOverviewActive()) << "at once, on the desktop's signal";
    showOverview();  // windows do not matter while the desktop publishes
    desktop.state = false;
    loop.advance(1.0);
    EXPECT_FALSE(followed.isOverviewActive());

    // The shell leaves the bus mid-overview: not active, and the window probe takes over.
    desktop.state = true;
    windows.setWindows(rest);
    desktop.state = std::nullopt;
    EXPECT_FALSE(followed.isOverviewActive());
    EXPECT_TRUE(probing());
    showOverview();
    loop.advance(0.15);
    EXPECT_TRUE(followed.isOverviewActive());

    // It comes back: its state replaces the probe's verdict.
    desktop.state = false;
    EXPECT_FALSE(followed.isOverviewActive());
    EXPECT_FALSE(probing());

    // Changes while nobody asks are not reported; the next acquire reads the current state.
    followed.release("overlay");
    desktop.state = true;
    EXPECT_FALSE(followed.isOverviewActive());
    followed.acquire("overlay");
    EXPECT_TRUE(followed.isOverviewActive());
    // Starting a source states its verdict, as the first acquire does.
    EXPECT_EQ(seen, (std::vector<bool>{false, true, false, true, false, false, true, false, true}));
}

TEST_F(OverviewDetectorTest, WithoutAPublishedStateOrAShellNothingIsReported) {
    test::FakeDesktopOverview silent;
    OverviewDetector plain{windows, screens, workspace, loop, std::nullopt, &silent};
    plain.acquire("overlay");
    EXPECT_FALSE(probing());
    showOverview();
    loop.advance(1.0);
    EXPECT_FALSE(plain.isOverviewActive());
    // A shell that appears on the bus later is followed from then on.
    silent.state = true;
    EXPECT_TRUE(plain.isOverviewActive());
}

TEST(OverviewShellTest, OnlyDesktopsWhoseOverviewIsAWindowHaveAShell) {
    struct Case {
        const char* desktops;
        std::optional<std::string> owner;
    };
    const Case cases[] = {
        {"XFCE", "xfdashboard"}, {"ubuntu:xfce", "xfdashboard"}, {"GNOME", std::nullopt},
        {"KDE", std::nullopt},   {"openbox", std::nullopt},      {"", std::nullopt},
        {"::", std::nullopt},    {"XFCEX", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desktops);
        const auto shell = overviewShellForDesktop(c.desktops);
        EXPECT_EQ(shell ? std::optional<std::string>(shell->ownerName) : std::nullopt, c.owner);
        if (shell) {
            EXPECT_EQ(shell->largeWindows, 1u) << "xfdashboard shows one window per monitor";
        }
    }
}

}  // namespace
}  // namespace velaro
