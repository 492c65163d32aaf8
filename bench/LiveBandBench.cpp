// The live band on a real display: a window fills the screen and changes colour 60 times a second, the app
// samples it live at 60 frames a second and repaints its band; the baseline is a bare Qt app whose
// translucent window has the band window's size and place and repaints its band and ears at every display
// refresh (the same painting and uploading, minus sampling and ours). Each program is measured with the
// X server and the compositor, in alternated rounds. Without a DISPLAY the benchmark starts the private
// test desktop.
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"

namespace {

using namespace velaro::bench;
using Clock = std::chrono::steady_clock;

const char* kLive60 = R"({"onboardingStep": 4, "liveCaptureFPS": 60})";
// The band's rows on the test desktop: its 28 px panel and the 4 pt seam cover the defaults add.
constexpr int kBandRows = 32;
// The rows of the filling window the painter repaints: the 6 px strip the sampler reads just under the
// panel, and no more. What the server and the compositor do for the painter itself is nobody's but the
// benchmark's; kept to the strip, it is small beside what either program costs, and it lies where both
// programs' windows lie alike.
constexpr int kPaintedRows = 6;

double loadAverage() {
    std::ifstream load("/proc/loadavg");
    double minute = 0;
    load >> minute;
    return minute;
}

// The geometry of a mapped top-level window with this name, in root pixels: x, y, width, height.
std::optional<std::array<int, 4>> windowNamed(const std::string& name) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    std::optional<std::array<int, 4>> found;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        const int n = tree ? xcb_query_tree_children_length(tree) : 0;
        const xcb_window_t* children = tree ? xcb_query_tree_children(tree) : nullptr;
        for (int i = 0; i < n && !found; ++i) {
            auto* title = xcb_get_property_reply(
                c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64), nullptr);
            const bool named =
                title && std::string(static_cast<const char*>(xcb_get_property_value(title)),
                                     std::size_t(xcb_get_property_value_length(title))) == name;
            std::free(title);
            if (!named) continue;
            auto* attributes =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
            auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
            if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                found = std::array<int, 4>{geometry->x, geometry->y, geometry->width, geometry->height};
            std::free(attributes);
            std::free(geometry);
        }
        std::free(tree);
    }
    xcb_disconnect(c);
    return found;
}

// One program's round: its own share, the X server's and the compositor's beyond the painter alone,
// wake-ups and write calls (every flush to the X server and every wake-up of a loop through its event
// descriptor is one), in % of one core and per second.
struct Round {
    double app = 0, server = 0, compositor = 0, mainThread = 0, wakeups = 0, mainWakeups = 0, mainWrites = 0;
    double total() const { return std::max(0.0, app + server + compositor); }
};

// A window fills the screen and changes colour 60 times a second; the app (or the bare band app) runs
// over it. Five pairs of rounds, ours and the baseline's in turn (A B, B A, …: a drift of the machine's
// load falls on both alike). Each round starts its program afresh, gives it 3 s to settle and measures
// 10 s. The X server and the compositor are measured with the painter alone for 4 s before every round
// and after the last: a round's server and compositor shares are what they used beyond the mean of the
// painter-alone stretches either side of it. Every figure is the median over the rounds, in % of one core:
//   app_core_pct, server_core_pct, compositor_core_pct   ours; core_pct their sum (the iteration time);
//   bare_*                                               the same for the bare band app;
//   ratio                                                the median of the pairs' core_pct ratios;
//   main_thread_core_pct, main_thread_wakeups_per_s, main_thread_writes_per_s   ours, its main thread;
//   server_painter_core_pct, compositor_painter_core_pct the painter alone;
//   load_1m                                              the machine's load average over the run.
void BM_LiveRepaint60(benchmark::State& state) {
    std::string why;
    if (!ensureDesktop(&why)) return state.SkipWithError(why.c_str());
    const fs::path program = selfDirectory() / "velaro";
    if (!fs::exists(program)) return state.SkipWithError("bin/velaro is not built");
    ClientWindows windows(1, true);
    if (!windows.managed()) return state.SkipWithError("the window manager did not take the window in");
    std::atomic<bool> stop{false};
    std::thread painter([&] {
        auto next = Clock::now();
        for (std::uint32_t step = 0; !stop; ++step) {
            windows.paintFirst(step % 2 ? 0x3366aa : 0xaa6633, kPaintedRows);
            next += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(next);
        }
    });
    const auto server = desktopProcess("xvfb");
    const auto picom = desktopProcess("picom");
    const auto usage = [](const std::optional<pid_t>& pid) {
        return [pid] { return pid ? usageOf(*pid) : ProcessUsage{}; };
    };
    const auto painterAlone = [&] {
        UsageWindow window({usage(server), usage(picom)});
        window.run(4);
        return std::pair{window.corePercent(0), window.corePercent(1)};
    };
    std::vector<std::pair<double, double>> alone{painterAlone()};
    std::string bandPlace;
    const auto round = [&](bool bare) -> std::optional<Round> {
        std::map<std::string, std::string> environment;
        if (bare) environment = {{kBareAppVariable, "band"}, {kBareBandVariable, bandPlace}};
        std::optional<Child> child(std::in_place, bare ? selfProgram() : program, kLive60, environment);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        if (!child->running()) return std::nullopt;
        if (!bare && bandPlace.empty()) {
            const auto g = windowNamed("overlay-unified");
            if (!g) return std::nullopt;
            const int band = std::min(kBandRows, (*g)[3]);
            bandPlace = std::to_string((*g)[0]) + " " + std::to_string((*g)[1]) + " " +
                        std::to_string((*g)[2]) + " " + std::to_string((*g)[3]) + " " + std::to_string(band) +
                        " " + std::to_string((*g)[3] - band);
        }
        UsageWindow window({[&] { return child->usage(); }, usage(server), usage(picom),
                            [&] { return mainThreadUsageOf(child->pid()); }});
        window.run(10);
        child.reset();
        std::this_thread::sleep_for(std::chrono::seconds(1));  // its windows gone, the desktop settles
        alone.push_back(painterAlone());
        const auto& before = alone[alone.size() - 2];
        const auto& after = alone.back();
        Round r;
        r.app = window.corePercent(0);
        r.server = window.corePercent(1) - (before.first + after.first) / 2;
        r.compositor = window.corePercent(2) - (before.second + after.second) / 2;
        r.mainThread = window.corePercent(3);
        r.wakeups = window.wakeupsPerSecond(0);
        r.mainWakeups = window.wakeupsPerSecond(3);
        r.mainWrites = window.writesPerSecond(3);
        return r;
    };
    const double loadBefore = loadAverage();
    std::vector<Round> ours, bare;
    std::vector<double> ratios;
    for (auto _ : state) {
        for (int pair = 0; pair < 5; ++pair) {
            // The app always goes first in the first pair: the bare app takes its place from it.
            const bool appFirst = pair % 2 == 0;
            const auto first = round(!appFirst);
            const auto second = first ? round(appFirst) : std::nullopt;
            if (!first || !second) {
                stop = true;
                painter.join();
                return state.SkipWithError("a program exited, or the band never showed");
            }
            const Round& a = appFirst ? *first : *second;
            const Round& b = appFirst ? *second : *first;
            ours.push_back(a);
            bare.push_back(b);
            if (b.total() > 0) ratios.push_back(a.total() / b.total());
        }
    }
    stop = true;
    painter.join();
    const auto med = [](const std::vector<Round>& rounds, double Round::*field) {
        std::vector<double> values;
        for (const auto& r : rounds) values.push_back(r.*field);
        return median(values);
    };
    const auto medTotal = [](const std::vector<Round>& rounds) {
        std::vector<double> values;
        for (const auto& r : rounds) values.push_back(r.total());
        return median(values);
    };
    state.SetIterationTime(medTotal(ours) / 100 * 10);
    state.counters["app_core_pct"] = med(ours, &Round::app);
    state.counters["server_core_pct"] = med(ours, &Round::server);
    state.counters["compositor_core_pct"] = med(ours, &Round::compositor);
    state.counters["core_pct"] = medTotal(ours);
    state.counters["wakeups_per_s"] = med(ours, &Round::wakeups);
    state.counters["main_thread_core_pct"] = med(ours, &Round::mainThread);
    state.counters["main_thread_wakeups_per_s"] = med(ours, &Round::mainWakeups);
    state.counters["main_thread_writes_per_s"] = med(ours, &Round::mainWrites);
    state.counters["bare_app_core_pct"] = med(bare, &Round::app);
    state.counters["bare_server_core_pct"] = med(bare, &Round::server);
    state.counters["bare_compositor_core_pct"] = med(bare, &Round::compositor);
    state.counters["bare_core_pct"] = medTotal(bare);
    state.counters["bare_wakeups_per_s"] = med(bare, &Round::wakeups);
    std::vector<double> serverAlone, compositorAlone;
    for (const auto& [x, c] : alone) {
        serverAlone.push_back(x);
        compositorAlone.push_back(c);
    }
    state.counters["server_painter_core_pct"] = median(serverAlone);
    state.counters["compositor_painter_core_pct"] = median(compositorAlone);
    state.counters["ratio"] = median(ratios);
    state.counters["goal_ratio"] = 1;
    state.counters["load_1m"] = (loadBefore + loadAverage()) / 2;
    if (!server) state.counters["server_unknown"] = 1;
    if (!picom) state.counters["compositor_unknown"] = 1;
}
BENCHMARK(BM_LiveRepaint60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
