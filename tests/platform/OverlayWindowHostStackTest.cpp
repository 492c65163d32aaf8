// Where overlay windows go in the X11 stack: panels per monitor, the active window, the desktop window,
// and when a stack that others have touched needs repair.
#include <gtest/gtest.h>

#include "platform/OverlayWindowHost.h"
#include "platform/linux/X11OverlayStack.h"

namespace velaro::x11 {
namespace {

// Two monitors side by side, each with a 28 px top panel; a desktop window, two app windows, a tooltip.
StackEnvironment twoMonitors() {
    StackEnvironment env;
    env.monitors = {Rect(0, 0, 1920, 1080), Rect(1920, 0, 1280, 1024)};
    env.docks = {{10, Rect(0, 0, 1920, 28)}, {11, Rect(1920, 0, 1280, 28)}, {12, Rect(0, 1052, 1920, 28)}};
    env.desktopFrame = 1;
    env.activeFrame = 21;
    env.stack = {{1, true, false},  {20, true, false}, {21, true, false}, {12, true, false},
                 {10, true, false}, {11, true, false}, {99, true, true}};
    return env;
}

OwnWindow own(std::uint32_t id, int level, Rect rect = Rect(0, 0, 1920, 28), std::uint32_t below = 0) {
    return {id, level, rect, below};
}

// Applies the operations the way the X server would, for checking the result against the plan.
void applyTo(StackEnvironment& env, const std::vector<StackOperation>& ops) {
    for (const auto& op : ops) {
        auto it =
            std::find_if(env.stack.begin(), env.stack.end(), [&](auto& c) { return c.id == op.window; });
        RootChild moved = it != env.stack.end() ? *it : RootChild{op.window, true, true};
        if (it != env.stack.end()) env.stack.erase(it);
        std::size_t at = op.above ? env.stack.size() : 0;
        if (op.sibling) {
            auto s =
                std::find_if(env.stack.begin(), env.stack.end(), [&](auto& c) { return c.id == op.sibling; });
            ASSERT_NE(s, env.stack.end());
            at = (s - env.stack.begin()) + (op.above ? 1 : 0);
        }
        env.stack.insert(env.stack.begin() + at, moved);
    }
}

std::vector<std::uint32_t> ids(const StackEnvironment& env) {
    std::vector<std::uint32_t> out;
    for (auto& c : env.stack) out.push_back(c.id);
    return out;
}

TEST(X11OverlayStackTest, EachLevelFindsItsPlace) {
    auto env = twoMonitors();
    const std::vector<OwnWindow> windows = {
        own(500, OverlayWindowLevel::banner),      // above everything
        own(501, OverlayWindowLevel::panel),       // above everything, below the banner
        own(502, OverlayWindowLevel::belowPanel),  // under the left panel
        own(503, OverlayWindowLevel::belowPanel, Rect(1920, 0, 1280, 28)),  // under the right panel
        own(504, OverlayWindowLevel::normal, Rect(0, 1000, 30, 30)),        // under the active window
        own(505, OverlayWindowLevel::wallpaper, Rect(0, 1000, 30, 30)),     // on the wallpaper
    };
    const auto groups = planStack(windows, env);
    EXPECT_FALSE(stackIsIntact(groups, env));
    applyTo(env, stackOperations(groups));
    EXPECT_EQ(ids(env),
              (std::vector<std::uint32_t>{1, 505, 20, 504, 21, 12, 502, 10, 503, 11, 99, 501, 500}));
    EXPECT_TRUE(stackIsIntact(groups, env));
}

TEST(X11OverlayStackTest, ThePanelIsTheLowestTopDockOfTheWindowsMonitor) {
    auto env = twoMonitors();
    EXPECT_EQ(panelFor(Rect(0, 0, 1920, 28), env), 10u);
    EXPECT_EQ(panelFor(Rect(3000, 900, 30, 30), env), 11u)
        << "a bottom corner belongs to its monitor's panel";
    EXPECT_EQ(panelFor(Rect(1900, 0, 40, 28), env), 11u) << "the centre decides";
    env.docks.push_back({13, Rect(0, 0, 200, 28)});  // a second panel on the left, stacked lowest
    env.stack.insert(env.stack.begin() + 1, RootChild{13, true, false});
    EXPECT_EQ(panelFor(Rect(0, 0, 1920, 28), env), 13u);
    env.stack[1].mapped = false;  // a hidden panel does not count
    EXPECT_EQ(panelFor(Rect(0, 0, 1920, 28), env), 10u);
}

TEST(X11OverlayStackTest, WithoutPanelsBelowPanelWindowsGoOnTopBelowHigherLayers) {
    auto env = twoMonitors();
    env.docks.clear();
    const auto groups =
        planStack({own(501, OverlayWindowLevel::panel), own(502, OverlayWindowLevel::belowPanel)}, env);
    ASSERT_EQ(groups.size(), 1u) << "one contiguous group at the top";
    applyTo(env, stackOperations(groups));
    const auto order = ids(env);
    EXPECT_EQ(std::vector<std::uint32_t>(order.end() - 2, order.end()),
              (std::vector<std::uint32_t>{502, 501}));
}

TEST(X11OverlayStackTest, NormalLevelFollowsTheWindowItWasOrderedBelowElseTheActiveOne) {
    auto env = twoMonitors();
    auto groups = planStack({own(504, 0, Rect(0, 1000, 30, 30), 20)}, env);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].anchor, Anchor::below);
    EXPECT_EQ(groups[0].sibling, 20u);

    env.stack[1].mapped = false;  // the target went away: the active window takes over
    groups = planStack({own(504, 0, Rect(0, 1000, 30, 30), 20)}, env);
    EXPECT_EQ(groups[0].sibling, 21u);

    env.activeFrame = 0;  // nothing active: just under the panel
    groups = planStack({own(504, 0, Rect(0, 1000, 30, 30))}, env);
    EXPECT_EQ(groups[0].sibling, 10u);

    env.activeFrame = 1;  // the desktop is never a target
    groups = planStack({own(504, 0, Rect(0, 1000, 30, 30))}, env);
    EXPECT_EQ(groups[0].sibling, 10u);
}

TEST(X11OverlayStackTest, WallpaperLevelGoesToTheBottomWithoutADesktopWindow) {
    auto env = twoMonitors();
    env.desktopFrame = 0;
    const auto groups = planStack({own(505, OverlayWindowLevel::wallpaper)}, env);
    applyTo(env, stackOperations(groups));
    EXPECT_EQ(ids(env).front(), 505u);
    EXPECT_TRUE(stackIsIntact(groups, env));
}

TEST(X11OverlayStackTest, RepairIsNeededOnlyWhenAPeerWindowCutsIn) {
    auto env = twoMonitors();
    const std::vector<OwnWindow> windows = {own(501, OverlayWindowLevel::panel),
                                            own(502, OverlayWindowLevel::belowPanel),
                                            own(506, OverlayWindowLevel::belowPanel, Rect(0, 900, 20, 20))};
    const auto groups = planStack(windows, env);
    applyTo(env, stackOperations(groups));
    ASSERT_TRUE(stackIsIntact(groups, env));

    // A menu (override-redirect) popping up over everything, or an unmapped window between ours: no fight.
    env.stack.push_back({98, true, true});
    env.stack.insert(env.stack.end() - 4, RootChild{97, false, false});
    EXPECT_TRUE(stackIsIntact(groups, env));

    // The window manager raises an app window straight under the panel, over our band.
    auto raised = env;
    auto it = std::find_if(raised.stack.begin(), raised.stack.end(), [](auto& c) { return c.id == 20; });
    const RootChild app = *it;
    raised.stack.erase(it);
    auto panel = std::find_if(raised.stack.begin(), raised.stack.end(), [](auto& c) { return c.id == 10; });
    raised.stack.insert(panel, app);
    EXPECT_FALSE(stackIsIntact(groups, raised));
    applyTo(raised, stackOperations(groups));
    EXPECT_TRUE(stackIsIntact(groups, raised));

    // A managed window mapped above everything pushes our top group down.
    auto covered = env;
    covered.stack.push_back({30, true, false});
    EXPECT_FALSE(stackIsIntact(groups, covered));

    // The panel disappears: the plan must change before it can hold.
    auto gone = env;
    gone.stack.erase(std::find_if(gone.stack.begin(), gone.stack.end(), [](auto& c) { return c.id == 10; }));
    EXPECT_FALSE(stackIsIntact(groups, gone));
}

TEST(X11OverlayStackTest, OrderWithinAGroupIsFrontToBack) {
    auto env = twoMonitors();
    const auto groups =
        planStack({own(502, OverlayWindowLevel::belowPanel), own(507, OverlayWindowLevel::belowPanel)}, env);
    applyTo(env, stackOperations(groups));
    const auto order = ids(env);
    const auto panel = std::find(order.begin(), order.end(), 10u) - order.begin();
    EXPECT_EQ(order[panel - 1], 502u);
    EXPECT_EQ(order[panel - 2], 507u);

    auto swapped = env;
    std::swap(swapped.stack[panel - 1], swapped.stack[panel - 2]);
    EXPECT_FALSE(stackIsIntact(groups, swapped));
}

}  // namespace
}  // namespace velaro::x11
