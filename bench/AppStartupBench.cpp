// The app as a whole process on a real display, each figure against a bare Qt Widgets app with a tray icon
// and one strip window (the same start-up, idling and painting minus ours): launch to the first painted band
// (alternated runs, medians) and idle cost with 10 and with 300 windows open (app and X server CPU,
// wake-ups); live sampling is LiveBandBench's. Each sets the goals scripts/bench checks as `goal_<counter>`
// counters. Without a DISPLAY the benchmarks start the private test desktop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BenchDesktop.h"
#include "platform/linux/XcbUtil.h"

namespace {

using namespace velaro::bench;
using Clock = std::chrono::steady_clock;

const std::map<std::string, std::string> kBareTray = {{kBareAppVariable, "tray"}};

// Always on over an empty desktop, painted black: the band shows as soon as the app has painted it.
const char* kAlwaysOnBlack =
    R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false})";
const char* kPlain = R"({"onboardingStep": 4})";

std::optional<fs::path> appProgram(benchmark::State& state) {
    std::string why;
    if (!ensureDesktop(&why)) {
        state.SkipWithError(why.c_str());
        return std::nullopt;
    }
    const fs::path program = selfDirectory() / "velaro";
    if (!fs::exists(program)) {
        state.SkipWithError("bin/velaro is not built");
        return std::nullopt;
    }
    return program;
}

// Waits until the probe pixel turns black (the band, or the bare window); the seconds it took, or absent.
std::optional<double> secondsUntilBlack(const ScreenReader& screen, Clock::time_point start, int x, int y) {
    while (Clock::now() - start < std::chrono::seconds(20)) {
        if (screen.pixel(x, y) == 0u) return std::chrono::duration<double>(Clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

void waitUntilNotBlack(const ScreenReader& screen, int x, int y) {
    const auto start = Clock::now();
    while (screen.pixel(x, y) == 0u && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Launch to the first band, the app and the bare app in turn (A B A B …, so that a drift of the machine's
// speed hits both alike); the iteration time is the app's median, `ratio` the median of the pairs' ratios.
void BM_LaunchToFirstBand(benchmark::State& state) {
    const auto program = appProgram(state);
    if (!program) return;
    ScreenReader screen;
    auto server = velaro::x11::Connection::open();
    // A third of the way across the panel: clear of the panel's own clock and tray.
    const int x = 300, y = 8;
    int connections = 0;
    auto launch = [&](bool bare) -> std::optional<double> {
        waitUntilNotBlack(screen, x, y);
        const auto start = Clock::now();
        Child child(bare ? selfProgram() : *program, kAlwaysOnBlack,
                    bare ? kBareTray : std::map<std::string, std::string>{});
        const auto seconds = secondsUntilBlack(screen, start, x, y);
        // The clients the server counts for the process once its band shows (goal for the app: at most 3).
        if (!bare && server)
            if (const auto clients = velaro::x11::clientsOfProcess(*server, child.pid()))
                connections = std::max(connections, static_cast<int>(clients->size()));
        return seconds;
    };
    std::vector<double> app, bare, ratios;
    for (auto _ : state) {
        for (int round = 0; round < 7; ++round) {
            const auto a = launch(false);
            const auto b = launch(true);
            if (!a || !b) return state.SkipWithError("nothing black appeared over the panel within 20 s");
            app.push_back(*a);
            bare.push_back(*b);
            ratios.push_back(*a / *b);
        }
        state.SetIterationTime(median(app));
    }
    state.counters["baseline_ms"] = median(bare) * 1000;
    state.counters["ratio"] = median(ratios);
    state.counters["goal_ratio"] = 1.5;
    state.counters["x_connections"] = connections;
    state.counters["goal_x_connections"] = 3;
}
BENCHMARK(BM_LaunchToFirstBand)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Waits until a freshly started program has settled: at least 3 s, then until it used under 1 ms of CPU
// over one second (twice what the idle goal allows, far below any start-up work), but not past `deadline`.
// The seconds waited after the first 3, and whether it settled.
std::pair<double, bool> settle(const Child& child, Clock::time_point deadline) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto start = Clock::now();
    while (Clock::now() + std::chrono::seconds(1) <= deadline && child.running()) {
        UsageWindow second({[&] { return child.usage(); }});
        second.run(1);
        if (second.corePercent(0) < 0.1)
            return {std::chrono::duration<double>(Clock::now() - start).count(), true};
    }
    return {std::chrono::duration<double>(Clock::now() - start).count(), false};
}
double settle(const Child& child) {
    return settle(child, Clock::now() + std::chrono::seconds(18)).first;
}

// What a process and the X server (and the compositor, with `compositor`) use over 10 s, once it settled:
// shares of one core, and the process's wake-ups a second. The iteration time is the CPU time of them all.
void measureCost(benchmark::State& state, Child& child, bool compositor) {
    const auto server = desktopProcess("xvfb");
    const auto picom = desktopProcess("picom");
    settle(child);
    if (!child.running()) return state.SkipWithError("the program exited");
    UsageWindow window({[&] { return child.usage(); },
                        [&] { return server ? usageOf(*server) : ProcessUsage{}; },
                        [&] { return picom ? usageOf(*picom) : ProcessUsage{}; }});
    window.run(10);
    const double app = window.corePercent(0), x = window.corePercent(1), comp = window.corePercent(2);
    state.SetIterationTime((app + x + (compositor ? comp : 0)) / 100 * window.wallSeconds());
    state.counters["app_core_pct"] = app;
    state.counters["server_core_pct"] = x;
    if (compositor) state.counters["compositor_core_pct"] = comp;
    state.counters["core_pct"] = app + x + (compositor ? comp : 0);
    state.counters["wakeups_per_s"] = window.wakeupsPerSecond(0);
    if (!server) state.counters["server_unknown"] = 1;
}

// Nothing fills the top: the app idles beside `range(0)` windows of another program. Three pairs of rounds,
// the app's and the bare tray app's, each program started afresh on the same desktop (A B, B A, A B: a drift
// of the machine's load over the run falls on both alike).
//
// The X server's share that is ours is what it used beside the app beyond what it used beside the bare app
// in the same pair: the desktop's own clients keep it busy now and then whoever runs (a pair where it used
// less beside the app counts as 0, never less). That subtraction only cancels what both rounds of a pair
// take in, and the panel's clock is redrawn on the minute (1-2 ms of the server and the compositor): a
// round that took it in against one that did not would count it as ours. So every round has a half-minute
// slot of the wall clock to itself: its program starts 1 s into the slot (after any redraw on the minute),
// settles, is measured from 9 s to 27 s into the slot and ends before the next one begins. No measured
// window on either side holds a minute's turn, or the start and end of a program. Every figure is the
// median over the pairs:
//   app_core_pct          the app's process with its children, % of one core;
//   server_core_pct       the X server beyond the bare app's round of the pair;
//   core_pct              app + server: the goal, and the iteration time;
//   wakeups_per_s         the app's voluntary context switches a second, every thread (wakeups_max_per_s:
//                         the round with the most);
//   writes_max_per_s      the app's write calls a second in the round with the most: every flush of X
//                         requests is one, so 0 means the server heard nothing from us;
//   server_raw_core_pct   the X server as measured beside the app;
//   bare_*                the bare app's rounds: its own share, wake-ups and the X server beside it;
//   settle_extra_s        the longest a program took to fall quiet after its first 3 s (at most 5 s in a
//                         slot); unsettled_rounds: rounds whose program was still busy when measured.
constexpr double kIdleMeasureSeconds = 18;

// One round of the idle benchmarks: the app (or, with `bare`, the bare tray app) in a half-minute slot of its
// own, as described above.
struct IdleRound {
    double app = 0, server = 0, wakeups = 0, writes = 0, settled = 0;
    bool quiet = true;
};
std::optional<IdleRound> idleRound(const fs::path& program, bool bare, const std::optional<pid_t>& server) {
    using Wall = std::chrono::system_clock;
    constexpr auto kSlot = std::chrono::seconds(30), kLaunch = std::chrono::seconds(1),
                   kMeasureFrom = std::chrono::seconds(9);
    // The next slot that starts at a whole half minute.
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(Wall::now().time_since_epoch());
    const auto slot = Wall::time_point((now / kSlot + 1) * kSlot);
    std::this_thread::sleep_until(slot + kLaunch);
    Child child(bare ? selfProgram() : program, kPlain,
                bare ? kBareTray : std::map<std::string, std::string>{});
    // The steady clock for the settling, pinned to the wall clock's slot now.
    const auto measureFrom = Clock::now() + (slot + kMeasureFrom - Wall::now());
    IdleRound r;
    std::tie(r.settled, r.quiet) = settle(child, measureFrom);
    if (!child.running()) return std::nullopt;
    std::this_thread::sleep_until(measureFrom);
    UsageWindow window(
        {[&] { return child.usage(); }, [&] { return server ? usageOf(*server) : ProcessUsage{}; }});
    window.run(kIdleMeasureSeconds);
    r.app = window.corePercent(0);
    r.server = window.corePercent(1);
    r.wakeups = window.wakeupsPerSecond(0);
    r.writes = window.writesPerSecond(0);
    return r;
}

void BM_Idle(benchmark::State& state) {
    const auto program = appProgram(state);
    if (!program) return;
    ClientWindows windows(static_cast<int>(state.range(0)));
    if (!windows.managed()) return state.SkipWithError("the window manager did not take the windows in");
    const auto server = desktopProcess("xvfb");
    std::vector<double> app, serverOurs, core, wakeups, writes, serverRaw, bareApp, bareServer, bareWakeups,
        settled;
    int unsettled = 0;
    for (auto _ : state) {
        for (int pair = 0; pair < 3; ++pair) {
            const bool appFirst = pair % 2 == 0;
            auto first = idleRound(*program, !appFirst, server);
            auto second = idleRound(*program, appFirst, server);
            if (!first || !second) return state.SkipWithError("the program exited");
            const IdleRound& a = appFirst ? *first : *second;
            const IdleRound& b = appFirst ? *second : *first;
            const double ours = std::max(0.0, a.server - b.server);
            app.push_back(a.app);
            serverOurs.push_back(ours);
            core.push_back(a.app + ours);
            wakeups.push_back(a.wakeups);
            writes.push_back(a.writes);
            serverRaw.push_back(a.server);
            bareApp.push_back(b.app);
            bareServer.push_back(b.server);
            bareWakeups.push_back(b.wakeups);
            settled.push_back(std::max(a.settled, b.settled));
            unsettled += !a.quiet + !b.quiet;
        }
        state.SetIterationTime(median(core) / 100 * kIdleMeasureSeconds);
    }
    state.counters["app_core_pct"] = median(app);
    state.counters["server_core_pct"] = median(serverOurs);
    state.counters["core_pct"] = median(core);
    state.counters["wakeups_per_s"] = median(wakeups);
    state.counters["wakeups_max_per_s"] = *std::max_element(wakeups.begin(), wakeups.end());
    state.counters["writes_max_per_s"] = *std::max_element(writes.begin(), writes.end());
    state.counters["server_raw_core_pct"] = median(serverRaw);
    state.counters["bare_app_core_pct"] = median(bareApp);
    state.counters["bare_server_core_pct"] = median(bareServer);
    state.counters["bare_wakeups_per_s"] = median(bareWakeups);
    state.counters["settle_extra_s"] = *std::max_element(settled.begin(), settled.end());
    state.counters["unsettled_rounds"] = unsettled;
    if (!server) state.counters["server_unknown"] = 1;
    state.counters["goal_core_pct"] = 0.05;
    state.counters["goal_wakeups_per_s"] = 2;
}
// The bare tray app alone, one round in a slot of its own as above (a round started beside windows made a
// moment before would count the server's work on them): shown beside the app's figures.
void BM_Idle_Baseline(benchmark::State& state) {
    const auto program = appProgram(state);
    if (!program) return;
    ClientWindows windows(static_cast<int>(state.range(0)));
    if (!windows.managed()) return state.SkipWithError("the window manager did not take the windows in");
    const auto server = desktopProcess("xvfb");
    for (auto _ : state) {
        const auto r = idleRound(*program, true, server);
        if (!r) return state.SkipWithError("the program exited");
        state.SetIterationTime((r->app + r->server) / 100 * kIdleMeasureSeconds);
        state.counters["app_core_pct"] = r->app;
        state.counters["server_core_pct"] = r->server;
        state.counters["core_pct"] = r->app + r->server;
        state.counters["wakeups_per_s"] = r->wakeups;
        if (!server) state.counters["server_unknown"] = 1;
    }
}
BENCHMARK(BM_Idle)->Arg(10)->Arg(300)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Idle_Baseline)->Arg(10)->Arg(300)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The progress bar on, with no player on the bus: the app (with its bar, which neither ticks nor paints
// without a track) and its media adapter together, against the same app without it.
void nowPlaying(benchmark::State& state, bool enabled) {
    const auto program = appProgram(state);
    if (!program) return;
    for (auto _ : state) {
        Child child(*program, enabled ? R"({"onboardingStep": 4, "progressEnabled": true})"
                                      : R"({"onboardingStep": 4, "progressEnabled": false})");
        measureCost(state, child, false);
    }
}
void BM_IdleNowPlaying(benchmark::State& state) {
    nowPlaying(state, true);
}
void BM_IdleNowPlaying_Baseline(benchmark::State& state) {
    nowPlaying(state, false);
}
BENCHMARK(BM_IdleNowPlaying)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleNowPlaying_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
