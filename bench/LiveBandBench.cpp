// The live band on a real display: a window fills the screen and changes colour 60 times a second, the app
// samples it live at 60 frames a second and repaints its band; the baseline is a bare Qt app whose
// translucent window has the band window's size and place and repaints its band and ears at every display
// refresh (the same painting and uploading, minus sampling and ours). And the same live capture over a
// window that never changes, against a bare grab loop of the strip. Each program is measured with the X
// server and the compositor, in alternated rounds (DesktopRounds). Without a DISPLAY the benchmarks start
// the private test desktop.
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
#include <functional>
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

// One program's round: its own share, the X server's and the compositor's beyond the desktop without it,
// wake-ups and write calls (every flush to the X server and every wake-up of a loop through its event
// descriptor is one), in % of one core and per second.
struct Round {
    double app = 0, server = 0, compositor = 0, mainThread = 0, wakeups = 0, mainWakeups = 0, mainWrites = 0;
    double busiestThreadWakeups = 0;
    double total() const { return std::max(0.0, app + server + compositor); }
};

// The most wake-ups one thread made between two readings of a process's threads, per second.
double busiestThreadWakeups(const std::map<pid_t, ProcessUsage>& before,
                            const std::map<pid_t, ProcessUsage>& after, double seconds) {
    long long most = 0;
    for (const auto& [thread, usage] : after)
        if (const auto it = before.find(thread); it != before.end())
            most = std::max(most, usage.wakeups - it->second.wakeups);
    return seconds > 0 ? double(most) / seconds : 0;
}

// Our app and a baseline program over the desktop as the benchmark set it up, in five pairs of rounds, ours
// and the baseline's in turn (A B, B A, …: a drift of the machine's load falls on both alike). Each round
// starts its program afresh, gives it 3 s to settle and measures 10 s. The X server and the compositor are
// measured without either program for 4 s before every round and after the last: a round's server and
// compositor shares are what they used beyond the mean of the stretches either side of it. Every figure is
// the median over the rounds, in % of one core:
//   app_core_pct, server_core_pct, compositor_core_pct   ours; core_pct their sum (the iteration time);
//   bare_*                                               the same for the baseline;
//   ratio                                                the median of the pairs' core_pct ratios;
//   wakeups_per_s, busiest_thread_wakeups_per_s          ours: all its threads', its busiest thread's;
//   main_thread_core_pct, main_thread_wakeups_per_s, main_thread_writes_per_s   ours, its main thread;
//   server_alone_core_pct, compositor_alone_core_pct     the desktop without either program;
//   load_1m                                              the machine's load average over the run.
class DesktopRounds {
public:
    // `settled` looks at our app once it has settled (false: give up); `baseline` is the bare app's
    // environment, asked for anew before each of its rounds.
    DesktopRounds(std::function<bool()> settled, std::function<std::map<std::string, std::string>()> baseline)
        : settled_(std::move(settled)), baseline_(std::move(baseline)) {}

    // False, with `why`, when a program exited or would not settle.
    bool run(benchmark::State& state, std::string* why) {
        const fs::path program = selfDirectory() / "velaro";
        if (!fs::exists(program)) return (*why = "bin/velaro is not built"), false;
        loadBefore_ = loadAverage();
        alone_.push_back(alone());
        for (auto _ : state) {
            for (int pair = 0; pair < 5; ++pair) {
                // The app always goes first in the first pair: the baseline may take its place from it.
                const bool appFirst = pair % 2 == 0;
                const auto first = round(appFirst ? program : selfProgram(), !appFirst);
                const auto second = first ? round(appFirst ? selfProgram() : program, appFirst) : std::nullopt;
                if (!first || !second) return (*why = "a program exited, or never settled"), false;
                ours_.push_back(appFirst ? *first : *second);
                bare_.push_back(appFirst ? *second : *first);
                if (bare_.back().total() > 0) ratios_.push_back(ours_.back().total() / bare_.back().total());
            }
        }
        return true;
    }

    void report(benchmark::State& state) const {
        const auto med = [](const std::vector<Round>& rounds, auto value) {
            std::vector<double> values;
            for (const auto& r : rounds) values.push_back(value(r));
            return median(values);
        };
        const auto field = [](double Round::*f) { return [f](const Round& r) { return r.*f; }; };
        const auto total = [](const Round& r) { return r.total(); };
        state.SetIterationTime(med(ours_, total) / 100 * 10);
        for (const auto& [prefix, rounds] : {std::pair{"", &ours_}, std::pair{"bare_", &bare_}}) {
            const std::string p = prefix;
            state.counters[p + "app_core_pct"] = med(*rounds, field(&Round::app));
            state.counters[p + "server_core_pct"] = med(*rounds, field(&Round::server));
            state.counters[p + "compositor_core_pct"] = med(*rounds, field(&Round::compositor));
            state.counters[p + "core_pct"] = med(*rounds, total);
            state.counters[p + "wakeups_per_s"] = med(*rounds, field(&Round::wakeups));
        }
        state.counters["busiest_thread_wakeups_per_s"] = med(ours_, field(&Round::busiestThreadWakeups));
        state.counters["main_thread_core_pct"] = med(ours_, field(&Round::mainThread));
        state.counters["main_thread_wakeups_per_s"] = med(ours_, field(&Round::mainWakeups));
        state.counters["main_thread_writes_per_s"] = med(ours_, field(&Round::mainWrites));
        std::vector<double> serverAlone, compositorAlone;
        for (const auto& [x, c] : alone_) {
            serverAlone.push_back(x);
            compositorAlone.push_back(c);
        }
        state.counters["server_alone_core_pct"] = median(serverAlone);
        state.counters["compositor_alone_core_pct"] = median(compositorAlone);
        state.counters["ratio"] = median(ratios_);
        state.counters["load_1m"] = (loadBefore_ + loadAverage()) / 2;
        if (!server_) state.counters["server_unknown"] = 1;
        if (!picom_) state.counters["compositor_unknown"] = 1;
    }

private:
    std::function<ProcessUsage()> usage(const std::optional<pid_t>& pid) const {
        return [pid] { return pid ? usageOf(*pid) : ProcessUsage{}; };
    }
    std::pair<double, double> alone() const {
        UsageWindow window({usage(server_), usage(picom_)});
        window.run(4);
        return {window.corePercent(0), window.corePercent(1)};
    }
    std::optional<Round> round(const fs::path& program, bool bare) {
        std::optional<Child> child(std::in_place, program, kLive60,
                                   bare ? baseline_() : std::map<std::string, std::string>{});
        std::this_thread::sleep_for(std::chrono::seconds(3));
        if (!child->running() || (!bare && settled_ && !settled_())) return std::nullopt;
        const auto threadsBefore = threadUsagesOf(child->pid());
        UsageWindow window({[&] { return child->usage(); }, usage(server_), usage(picom_),
                            [&] { return mainThreadUsageOf(child->pid()); }});
        window.run(10);
        const auto threadsAfter = threadUsagesOf(child->pid());
        child.reset();
        std::this_thread::sleep_for(std::chrono::seconds(1));  // its windows gone, the desktop settles
        alone_.push_back(alone());
        const auto& before = alone_[alone_.size() - 2];
        const auto& after = alone_.back();
        Round r;
        r.app = window.corePercent(0);
        r.server = window.corePercent(1) - (before.first + after.first) / 2;
        r.compositor = window.corePercent(2) - (before.second + after.second) / 2;
        r.mainThread = window.corePercent(3);
        r.wakeups = window.wakeupsPerSecond(0);
        r.mainWakeups = window.wakeupsPerSecond(3);
        r.mainWrites = window.writesPerSecond(3);
        r.busiestThreadWakeups = busiestThreadWakeups(threadsBefore, threadsAfter, window.wallSeconds());
        return r;
    }

    const std::optional<pid_t> server_ = desktopProcess("xvfb");
    const std::optional<pid_t> picom_ = desktopProcess("picom");
    std::function<bool()> settled_;
    std::function<std::map<std::string, std::string>()> baseline_;
    std::vector<std::pair<double, double>> alone_;
    std::vector<Round> ours_, bare_;
    std::vector<double> ratios_;
    double loadBefore_ = 0;
};

// A window fills the screen and changes colour 60 times a second (the painter runs through the desktop's
// stretches without either program too); the app, or the bare band app placed where the app's band was,
// runs over it.
void BM_LiveRepaint60(benchmark::State& state) {
    std::string why;
    if (!ensureDesktop(&why)) return state.SkipWithError(why.c_str());
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
    std::string bandPlace;
    DesktopRounds rounds(
        [&] {
            if (!bandPlace.empty()) return true;
            const auto g = windowNamed("overlay-unified");
            if (!g) return false;
            const int band = std::min(kBandRows, (*g)[3]);
            bandPlace = std::to_string((*g)[0]) + " " + std::to_string((*g)[1]) + " " +
                        std::to_string((*g)[2]) + " " + std::to_string((*g)[3]) + " " + std::to_string(band) +
                        " " + std::to_string((*g)[3] - band);
            return true;
        },
        [&] { return std::map<std::string, std::string>{{kBareAppVariable, "band"}, {kBareBandVariable, bandPlace}}; });
    const bool ran = rounds.run(state, &why);
    stop = true;
    painter.join();
    if (!ran) return state.SkipWithError(why.c_str());
    rounds.report(state);
    state.counters["goal_ratio"] = 1;
}
BENCHMARK(BM_LiveRepaint60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The width of the root window in pixels; 0 without a display.
int rootWidth() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const int width =
        xcb_connection_has_error(c) ? 0 : xcb_setup_roots_iterator(xcb_get_setup(c)).data->width_in_pixels;
    xcb_disconnect(c);
    return width;
}

// Live capture at 60 frames a second over a maximised window nothing draws on, as while one reads a page:
// nothing under the strip changes, so nothing needs grabbing, and the app should cost next to nothing (no
// thread of it woken for every frame: the busiest wakes fewer than 10 times a second). The baseline is a
// bare MIT-SHM grab of the strip the app samples (just below the panel, the screen's width, 6 rows), 60
// times a second, by a program that does nothing else.
void BM_LiveOverStillWindow60(benchmark::State& state) {
    std::string why;
    if (!ensureDesktop(&why)) return state.SkipWithError(why.c_str());
    ClientWindows windows(1, true);
    if (!windows.managed()) return state.SkipWithError("the window manager did not take the window in");
    windows.paintFirst(0x2e7d5b);
    const std::string strip = "0 28 " + std::to_string(rootWidth()) + " 6";
    DesktopRounds rounds({}, [&] {
        return std::map<std::string, std::string>{{kBareAppVariable, "grab"}, {kBareGrabVariable, strip}};
    });
    if (!rounds.run(state, &why)) return state.SkipWithError(why.c_str());
    rounds.report(state);
    state.counters["goal_ratio"] = 0.25;
    state.counters["goal_busiest_thread_wakeups_per_s"] = 10;
}
BENCHMARK(BM_LiveOverStillWindow60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
