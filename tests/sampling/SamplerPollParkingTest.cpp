// The sampler's 0.5 s check sleeps while nothing it reads can change and the sampler is plainly idle, and
// wakes on its own grid when the window list, the screens or the defaults change: it then decides what a
// check that never slept decides, at the same tick.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sampling/ScreenSamplerTestRig.h"
#include "sampling/SamplerParts.h"

namespace velaro::test {
namespace {

constexpr double kEps = 1e-9;

// A sampler whose captures may start (as the app's are once it knows the front app), recording the uptime
// of every check and the filled state each one left.
struct ParkingRig {
    SamplerRig rig;
    struct Check {
        double at;
        bool filled;
    };
    std::vector<Check> checks;

    explicit ParkingRig(std::vector<ScreenInfo> screens = {FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)})
        : rig(std::move(screens)) {
        rig.sampler->enable();
        rig.setGeometry();
        rig.sampler->setOnOwnerTick([this](const std::optional<std::string>&) {
            checks.push_back({rig.loop.uptime(), rig.sampler->isFilledWindowActive()});
        });
    }
    // Asleep: the check's 0.5 s timer, the only repeating one the sampler runs, is off the loop.
    bool parked() const { return rig.loop.repeatingTimers() == 0; }
    // Uptimes of the checks made after `from`.
    std::vector<double> checksAfter(double from) const {
        std::vector<double> out;
        for (const auto& c : checks)
            if (c.at > from + kEps) out.push_back(c.at);
        return out;
    }
    void advanceTo(double t) { rig.loop.advance(t - rig.loop.uptime()); }
};

WindowInfo editorWindow(Rect bounds) {
    return FakeWindowList::window(kEditorPID, bounds, WindowLevel::normal, "Editor", 7);
}

ScreenInfo screenA() { return FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1); }
ScreenInfo screenB() { return FakeScreens::make("B", Rect{1512, 0, 1512, 982}, 24, 2); }

// Each kind of input change, made at 2.2 s while the check sleeps: the first check after it comes at 2.5 s
// (a tick of the grid that started at 0), where a top that now fills goes pending, confirmed at 2.6 s.
TEST(SamplerPollParking, EachKindOfChangeWakesTheCheckAtItsNextTickOnTheGrid) {
    struct Case {
        const char* name;
        std::vector<ScreenInfo> screens;
        std::function<void(SamplerRig&)> before;
        std::function<void(SamplerRig&)> change;
        bool fills;
    };
    const std::vector<Case> cases = {
        {"a window comes to fill the top", {screenA()}, [](SamplerRig&) {},
         [](SamplerRig& r) { r.windows.setWindows({editorWindow({0, 24, 1512, 958})}); }, true},
        {"the main screen becomes the one a window fills (only the screens' revision moves)",
         {screenA(), screenB()},
         [](SamplerRig& r) { r.windows.setWindows({editorWindow({1512, 24, 1512, 958})}); },
         [](SamplerRig& r) { r.screens.setScreens({screenA(), screenB()}, 1); }, true},
        {"the filling window's app is no longer excluded", {screenA()},
         [](SamplerRig& r) {
             r.defaults.seed(kExcludedOverlayHideKey, PlistValue::array({"org.example.Editor"}));
             r.windows.setWindows({editorWindow({0, 24, 1512, 958})});
         },
         [](SamplerRig& r) { r.defaults.changeOutside(kExcludedOverlayHideKey, PlistValue::array()); }, true},
        {"a small window opens elsewhere", {screenA()}, [](SamplerRig&) {},
         [](SamplerRig& r) { r.windows.setWindows({editorWindow({600, 400, 300, 200})}); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParkingRig p(c.screens);
        c.before(p.rig);
        p.advanceTo(2.2);
        ASSERT_TRUE(p.parked());
        EXPECT_EQ(p.checksAfter(1.0), std::vector<double>{}) << "asleep from the tick at 1 s on";
        EXPECT_FALSE(p.rig.sampler->isFilledWindowActive());

        c.change(p.rig);
        p.advanceTo(2.49);
        EXPECT_EQ(p.checksAfter(1.0), std::vector<double>{});
        p.advanceTo(2.5);
        ASSERT_EQ(p.checksAfter(1.0), std::vector<double>{2.5});
        EXPECT_EQ(p.rig.sampler->pendingFilledState(), c.fills ? std::optional<bool>(true) : std::nullopt);
        p.advanceTo(2.6);
        EXPECT_EQ(p.rig.sampler->isFilledWindowActive(), c.fills);
        p.advanceTo(5.2);
        if (c.fills) {
            // Filled, the check keeps every tick.
            EXPECT_EQ(p.checksAfter(1.0), (std::vector<double>{2.5, 3, 3.5, 4, 4.5, 5}));
            EXPECT_FALSE(p.parked());
        } else {
            // The new window's place is compared once more (slide moves), then the check sleeps again.
            EXPECT_EQ(p.checksAfter(1.0), (std::vector<double>{2.5, 3}));
            EXPECT_TRUE(p.parked());
        }
    }
}

// States in which a check at the same inputs can still decide something: the check ticks on, as it always
// did, and sleeps only once the state has ended.
TEST(SamplerPollParking, NeverSleepsWhileFilledStreamingInTheGraceOrUnderAForeignMenu) {
    struct Case {
        const char* name;
        std::function<void(SamplerRig&)> enter;
        std::function<void(SamplerRig&)> leave;
        double sleepsBy;  // uptime by which the check sleeps after `leave` at 5 s
    };
    const std::vector<Case> cases = {
        {"a filled top with its stream", [](SamplerRig& r) { r.startStreaming(); },
         [](SamplerRig& r) {
             r.sampler->setCaptureDemand(false);
             r.emptyTop();
         },
         6.0},
        {"the minute of grace after a fill, stream running", [](SamplerRig& r) {
             r.startStreaming();
             r.emptyTop();
         },
         [](SamplerRig&) {}, 62.0},
        {"another app's menu hanging from the bar",
         [](SamplerRig& r) {
             r.windows.setWindows(
                 {FakeWindowList::window(300, {100, 24, 240, 300}, WindowLevel::popUpMenu, "Menu", 11)});
         },
         [](SamplerRig& r) { r.windows.setWindows({}); }, 6.5},
        {"the seam hidden under a menu", [](SamplerRig& r) {
             r.defaults.seed("seamAutoHide", PlistValue(true));
             r.windows.setWindows(
                 {FakeWindowList::window(300, {100, 24, 240, 300}, WindowLevel::popUpMenu, "Menu", 11)});
         },
         [](SamplerRig& r) { r.windows.setWindows({}); }, 6.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParkingRig p;
        p.advanceTo(0.2);
        c.enter(p.rig);
        const double from = p.rig.loop.uptime();
        p.advanceTo(5.0);
        EXPECT_FALSE(p.parked());
        std::vector<double> ticks;
        for (double t : p.checksAfter(from))
            if (std::abs(t / 0.5 - std::round(t / 0.5)) < kEps) ticks.push_back(t);
        EXPECT_EQ(ticks, (std::vector<double>{0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5}));

        c.leave(p.rig);
        p.advanceTo(c.sleepsBy);
        EXPECT_TRUE(p.parked());
        EXPECT_FALSE(p.rig.sampler->hasActiveStream());
    }
}

// While the check sleeps, a switch that lets a stream start again wakes it; its ticks keep their grid.
TEST(SamplerPollParking, ADemandThatStartsAStreamWakesTheCheckOnItsGrid) {
    ParkingRig p;
    p.rig.startStreaming();
    p.rig.emptyTop();
    p.rig.sampler->setCaptureDemand(false);
    p.advanceTo(3.2);
    ASSERT_TRUE(p.parked());
    ASSERT_FALSE(p.rig.sampler->hasActiveStream());

    p.rig.sampler->setCaptureDemand(true);
    p.advanceTo(3.3);
    EXPECT_EQ(p.rig.loop.oneShotTimersDueBetween(3.5 - kEps, 3.5 + kEps), 1u)
        << "awake: the next check waits for its tick on the grid";
    EXPECT_TRUE(p.rig.sampler->hasActiveStream());
    p.advanceTo(4.6);
    EXPECT_EQ(p.checksAfter(3.2), (std::vector<double>{3.5, 4, 4.5}));
}

// However many changes come while it sleeps, one wake reaches the main loop; a refresh of its own (an
// activation) that finds nothing new leaves it asleep.
TEST(SamplerPollParking, ManyChangesPostOneWakeAndAQuietRefreshKeepsItAsleep) {
    ParkingRig p;
    p.rig.windows.setWindows({editorWindow({600, 400, 300, 200})});
    p.advanceTo(3.2);
    ASSERT_TRUE(p.parked());

    p.rig.workspace.send(WorkspaceEvent::Kind::didHideApplication);
    p.rig.loop.runUntilIdle();
    EXPECT_TRUE(p.parked());
    p.advanceTo(3.4);
    EXPECT_TRUE(p.parked()) << "the delayed refresh after the event found nothing new either";

    const auto posts = p.rig.loop.pendingPosts();
    p.rig.windows.setWindows({editorWindow({610, 400, 300, 200})});
    p.rig.screens.setStatusBarThickness(25);
    p.rig.defaults.changeOutside("someOtherKey", PlistValue(1));
    p.rig.windows.setWindows({editorWindow({620, 400, 300, 200})});
    EXPECT_EQ(p.rig.loop.pendingPosts(), posts + 1);
    p.advanceTo(4.6);
    EXPECT_EQ(p.checksAfter(3.4), (std::vector<double>{3.5, 4}));
    EXPECT_TRUE(p.parked());
}

}  // namespace
}  // namespace velaro::test
