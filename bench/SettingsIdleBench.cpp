// The settings window left open on each page in turn with nothing changing (the wallpaper included): what the
// app, the X server and the compositor use meanwhile, against a bare Qt app with a tray icon, the strip and
// an ordinary window of the settings window's size, which does nothing at all. A view that shows nothing
// changing has no timer: the goal is no wake-up beyond the bare app's on any page. Without a DISPLAY the
// benchmark starts the private test desktop.
//
// Rounds alternate between the app and the bare app (A B, B A, A B: a drift of the machine's load falls on
// both alike), each program started afresh. The app's round opens the settings window the way a second
// launch does, then selects every page of the sidebar in order with a click on its row, lets the page
// settle and measures it; the bare app's round measures as many stretches of the same length. No stretch
// holds a turn of the minute, when the panel redraws its clock. Each page is measured twice in a row and
// keeps the lesser of the two: a timer of the page recurs in both, while Qt's one-off housekeeping after a
// change (the pixmap cache flushed about 30 s after painting filled it, idle pool threads ending) falls in
// one at most. Each figure is the median over the pairs of rounds of the app's page beyond the bare app's:
//   wakeups_per_s         the worst page: voluntary context switches a second of the app (every thread) and
//                         of the X server and the compositor, beyond the same three beside the bare app;
//   <page>_wakeups_per_s  the same for each page, by its stable name;
//   core_pct              the worst page: app + X server + compositor, % of one core, beyond the bare app's;
//   app_wakeups_per_s, app_core_pct   the app's process alone on its worst page, not compared;
// and BM_SettingsIdle_Baseline shows the bare app's own stretches (their time is its iteration time).
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"
#include "platform/linux/XcbUtil.h"
#include "ui/settings/SettingsCategory.h"

namespace {

using namespace velaro::bench;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

const char* kPlain = R"({"onboardingStep": 4})";
constexpr double kStretchSeconds = 4;
// After a click: the page is made, its row's symbol bounces (0.4 s), the Corner Rounding page takes its
// picture of the wallpaper.
constexpr double kPageSettleSeconds = 2;
constexpr int kPairs = 3;
constexpr std::size_t kPages = velaro::allSettingsCategories.size();

// One stretch: what the program, the X server and the compositor used; wake-ups a second counted whole
// over the stretch, so that two stretches with as many wake-ups differ by exactly nothing.
struct Stretch {
    double appCore = 0, core = 0, appWakeups = 0, wakeups = 0;
};
double perSecond(double rate, double wallSeconds) {
    return double(std::llround(rate * wallSeconds)) / kStretchSeconds;
}
// Each figure the lesser of two stretches.
Stretch lesser(const Stretch& a, const Stretch& b) {
    return {std::min(a.appCore, b.appCore), std::min(a.core, b.core), std::min(a.appWakeups, b.appWakeups),
            std::min(a.wakeups, b.wakeups)};
}
using Round = std::array<Stretch, kPages>;

// Sleeps until a stretch of `seconds` that starts now would hold no turn of the minute: else until 1.5 s
// past the next one (the panel's clock is redrawn on the minute).
void clearOfTheMinute(double seconds) {
    const auto now = Wall::now();
    const auto minute = std::chrono::floor<std::chrono::minutes>(now);
    const double into = std::chrono::duration<double>(now - minute).count();
    if (into >= 1.5 && into + seconds + 0.5 < 60) return;
    const auto target =
        (into < 1.5 ? minute : minute + std::chrono::minutes(1)) + std::chrono::milliseconds(1500);
    std::this_thread::sleep_until(target);
}

Stretch measure(const Child& child) {
    const auto server = desktopProcess("xvfb");
    const auto picom = desktopProcess("picom");
    const auto of = [](const std::optional<pid_t>& pid) {
        return [pid] { return pid ? usageOf(*pid) : ProcessUsage{}; };
    };
    clearOfTheMinute(kStretchSeconds);
    UsageWindow window({[&] { return child.usage(); }, of(server), of(picom)});
    window.run(kStretchSeconds);
    Stretch s;
    s.appCore = window.corePercent(0);
    s.core = window.corePercent(0) + window.corePercent(1) + window.corePercent(2);
    const double wall = window.wallSeconds();
    s.appWakeups = perSecond(window.wakeupsPerSecond(0), wall);
    s.wakeups = s.appWakeups + perSecond(window.wakeupsPerSecond(1), wall) +
                perSecond(window.wakeupsPerSecond(2), wall);
    return s;
}

// Waits until a freshly started program is quiet: at least 3 s, then until it used under 1 ms of CPU over
// half a second, for at most 10 s more.
void settle(const Child& child) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && child.running()) {
        UsageWindow half({[&] { return child.usage(); }});
        half.run(0.5);
        if (half.corePercent(0) < 0.2) return;
    }
}

// The settings window of a process on screen: its place in root pixels.
struct Place {
    int x = 0, y = 0, width = 0, height = 0;
};

std::optional<Place> settingsWindowOf(velaro::x11::Connection& x, pid_t pid) {
    xcb_connection_t* c = x.get();
    x.intern({"_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING"});
    for (const std::uint32_t w : velaro::x11::rootWindowList(x, "_NET_CLIENT_LIST")) {
        auto owner = velaro::x11::own(
            xcb_get_property_reply(c, velaro::x11::askProperty(c, w, x.atom("_NET_WM_PID")), nullptr));
        const auto pids = velaro::x11::values32(owner.get());
        if (pids.empty() || pids[0] != static_cast<std::uint32_t>(pid)) continue;
        auto name = velaro::x11::own(
            xcb_get_property_reply(c, velaro::x11::askProperty(c, w, x.atom("_NET_WM_NAME")), nullptr));
        if (velaro::x11::bytes8(name.get()) != "Velaro Settings") continue;
        auto geometry = velaro::x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        auto at = velaro::x11::own(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, x.root(), 0, 0), nullptr));
        if (!geometry || !at) continue;
        return Place{at->dst_x, at->dst_y, geometry->width, geometry->height};
    }
    return std::nullopt;
}

QImage screenshot(velaro::x11::Connection& x, const Place& p) {
    auto reply = velaro::x11::own(xcb_get_image_reply(
        x.get(),
        xcb_get_image(x.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), static_cast<std::int16_t>(p.x),
                      static_cast<std::int16_t>(p.y), static_cast<std::uint16_t>(p.width),
                      static_cast<std::uint16_t>(p.height), ~0u),
        nullptr));
    if (!reply || xcb_get_image_data_length(reply.get()) != p.width * p.height * 4) return {};
    return QImage(xcb_get_image_data(reply.get()), p.width, p.height, QImage::Format_RGB32).copy();
}

// The middle of each sidebar tile down the window's left edge (the tiles are the accent orange), top to
// bottom, and the tiles' left edge; in window pixels.
struct Rows {
    int left = -1;
    std::vector<int> middles;
};
Rows sidebarRows(const QImage& shot) {
    const auto accent = [&](int x, int y) {
        const QColor c = shot.pixelColor(x, y);
        return c.red() > 200 && c.green() > 50 && c.green() < 140 && c.blue() < 60;
    };
    Rows rows;
    for (int x = 0; x < std::min(80, shot.width()) && rows.left < 0; ++x)
        for (int y = 0; y < shot.height(); ++y)
            if (accent(x, y)) {
                rows.left = x;
                break;
            }
    if (rows.left < 0) return rows;
    int start = -1;
    for (int y = 0; y <= shot.height(); ++y) {
        const bool in = y < shot.height() && accent(rows.left + 3, y);
        if (in && start < 0) start = y;
        if (!in && start >= 0) {
            if (y - start >= 10) rows.middles.push_back((start + y - 1) / 2);
            start = -1;
        }
    }
    return rows;
}

void xdotool(const std::string& arguments) {
    [[maybe_unused]] const int status = std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str());
}

// One round of the app: launched, its settings window opened by a second launch, every page selected and
// measured. Absent, with `why`, when a step failed.
std::optional<Round> failed(std::string* why, std::string what) {
    *why = std::move(what);
    return std::nullopt;
}

std::optional<Round> appRound(const fs::path& program, Place* window, std::string* why) {
    auto x = velaro::x11::Connection::open();
    if (!x) return failed(why, "no X connection");
    Child app(program, kPlain);
    settle(app);
    if (!app.running()) return failed(why, "the app exited");
    {
        Child again(program, kPlain);  // a second launch brings the running one's settings window forward
        for (int i = 0; i < 100 && again.running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::optional<Place> place;
    Rows rows;
    for (int i = 0; i < 100 && rows.middles.size() != kPages; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        place = settingsWindowOf(*x, app.pid());
        if (place) rows = sidebarRows(screenshot(*x, *place));
    }
    if (!place || rows.middles.size() != kPages)
        return failed(why, "the settings window never showed its rows");
    *window = *place;
    Round round;
    for (std::size_t page = 0; page < kPages; ++page) {
        const int rowX = place->x + rows.left + 80, rowY = place->y + rows.middles[page];
        // The pointer goes back off the window (and off the panel): a hover would be a change.
        xdotool("mousemove " + std::to_string(rowX) + " " + std::to_string(rowY) +
                " click 1 mousemove 300 600");
        std::this_thread::sleep_for(std::chrono::duration<double>(kPageSettleSeconds));
        // The row shows selected: far right in the row, away from its title, it differs from another row.
        const QImage shot = screenshot(*x, *place);
        const int probe = rows.left + 170, other = rows.middles[page == 0 ? 1 : 0];
        if (shot.isNull() || shot.pixel(probe, rows.middles[page]) == shot.pixel(probe, other))
            return failed(why, "page " + std::to_string(page) + " did not show selected");
        const Stretch first = measure(app);
        round[page] = lesser(first, measure(app));
    }
    return round;
}

std::optional<Round> bareRound(const Place& window, std::string* why) {
    Child bare(selfProgram(), kPlain,
               {{kBareAppVariable, "window"},
                {kBareWindowVariable, std::to_string(window.width) + "x" + std::to_string(window.height)}});
    settle(bare);
    if (!bare.running()) return failed(why, "the bare app exited");
    Round round;
    for (auto& stretch : round) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kPageSettleSeconds));
        const Stretch first = measure(bare);
        stretch = lesser(first, measure(bare));
    }
    return round;
}

struct Results {
    std::vector<Round> app, bare;
    std::string error;
};

// Both benchmarks report the same alternated rounds, measured once.
const Results& results() {
    static const Results measured = [] {
        Results r;
        if (!ensureDesktop(&r.error)) return r;
        const fs::path program = selfDirectory() / "velaro";
        if (!fs::exists(program)) {
            r.error = "bin/velaro is not built";
            return r;
        }
        Place window;
        for (int pair = 0; pair < kPairs && r.error.empty(); ++pair) {
            // The app's round comes first in the first pair: it tells the bare app its window's size.
            const bool appFirst = pair % 2 == 0;
            for (int half = 0; half < 2 && r.error.empty(); ++half) {
                const bool app = (half == 0) == appFirst;
                auto round = app ? appRound(program, &window, &r.error) : bareRound(window, &r.error);
                if (round) (app ? r.app : r.bare).push_back(*round);
            }
        }
        return r;
    }();
    return measured;
}

// The median over the pairs of a figure of one page.
template <class Figure>
double pageMedian(std::size_t page, Figure figure) {
    const Results& r = results();
    std::vector<double> values;
    for (std::size_t i = 0; i < std::min(r.app.size(), r.bare.size()); ++i)
        values.push_back(figure(r.app[i][page], r.bare[i][page]));
    return median(values);
}

void BM_SettingsIdle(benchmark::State& state) {
    const Results& r = results();
    if (!r.error.empty()) return state.SkipWithError(r.error.c_str());
    double worstWakeups = -1e9, worstCore = -1e9, appWakeups = 0, appCore = 0, cpuSeconds = 0;
    for (std::size_t page = 0; page < kPages; ++page) {
        const double wakeups =
            pageMedian(page, [](const Stretch& a, const Stretch& b) { return a.wakeups - b.wakeups; });
        const double core =
            pageMedian(page, [](const Stretch& a, const Stretch& b) { return a.core - b.core; });
        const std::string name(velaro::rawValue(velaro::allSettingsCategories[page]));
        state.counters[name + "_wakeups_per_s"] = wakeups;
        worstWakeups = std::max(worstWakeups, wakeups);
        worstCore = std::max(worstCore, core);
        appWakeups = std::max(
            appWakeups, pageMedian(page, [](const Stretch& a, const Stretch&) { return a.appWakeups; }));
        appCore =
            std::max(appCore, pageMedian(page, [](const Stretch& a, const Stretch&) { return a.appCore; }));
        cpuSeconds +=
            pageMedian(page, [](const Stretch& a, const Stretch&) { return a.core; }) / 100 * kStretchSeconds;
    }
    for (auto _ : state) state.SetIterationTime(cpuSeconds);
    state.counters["wakeups_per_s"] = worstWakeups;
    state.counters["core_pct"] = worstCore;
    state.counters["app_wakeups_per_s"] = appWakeups;
    state.counters["app_core_pct"] = appCore;
    state.counters["goal_wakeups_per_s"] = 0;
}
BENCHMARK(BM_SettingsIdle)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The bare app's stretches of the same rounds: the worst one's figures, its CPU time over all of them.
void BM_SettingsIdle_Baseline(benchmark::State& state) {
    const Results& r = results();
    if (!r.error.empty()) return state.SkipWithError(r.error.c_str());
    double wakeups = 0, core = 0, cpuSeconds = 0;
    for (std::size_t page = 0; page < kPages; ++page) {
        wakeups =
            std::max(wakeups, pageMedian(page, [](const Stretch&, const Stretch& b) { return b.wakeups; }));
        core = std::max(core, pageMedian(page, [](const Stretch&, const Stretch& b) { return b.core; }));
        cpuSeconds +=
            pageMedian(page, [](const Stretch&, const Stretch& b) { return b.core; }) / 100 * kStretchSeconds;
    }
    for (auto _ : state) state.SetIterationTime(cpuSeconds);
    state.counters["wakeups_per_s"] = wakeups;
    state.counters["core_pct"] = core;
}
BENCHMARK(BM_SettingsIdle_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
