// The progress line alone over a playing track, as a user runs it: the app with only its progress bar on,
// following the test MPRIS player through a track whose line moves about ten pixels a second across the
// screen, against a bare Qt app (tray icon and a window of the bar's size and translucency) moving a line
// one pixel every 0.1 s. The X server and the compositor are counted. Without a DISPLAY the benchmark starts
// the private test desktop.
#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"

namespace {

using namespace velaro::bench;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

// Only the progress bar: no band, no visualizer.
const char* kBarOnly = R"({"onboardingStep": 4, "progressEnabled": true, "overlayEnabled": false})";
const std::map<std::string, std::string> kBareLine = {{kBareAppVariable, "line"}};
// The line moves this many device pixels a second across the screen: a track of three minutes or so.
constexpr double kPixelsPerSecond = 10;
// Where in the track every round starts: far enough for the fill to be long, as it mostly is.
constexpr double kStartFraction = 0.4;
constexpr double kMeasureSeconds = 18;

// The test player in a process of its own, commanded through its standard input.
class Player {
public:
    explicit Player(const QString& program) {
        process_.setProgram(program);
        process_.setArguments({QStringLiteral("--name"), QStringLiteral("velarobench")});
        process_.start();
    }
    ~Player() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.closeWriteChannel();
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(2000);
    }
    bool ready() { return process_.waitForStarted(5000) && waitFor("ready"); }
    // Sends a command and waits until the player has carried it out.
    bool command(const std::string& line) {
        process_.write(QByteArray::fromStdString(line + "\n"));
        process_.waitForBytesWritten(1000);
        return waitFor("done " + line.substr(0, line.find(' ')));
    }

private:
    bool waitFor(const std::string& wanted) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            while (process_.canReadLine())
                if (process_.readLine().trimmed().toStdString() == wanted) return true;
            process_.waitForReadyRead(100);
        }
        return false;
    }
    QProcess process_;
};

int screenWidth() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const int width =
        xcb_connection_has_error(c) ? 0 : xcb_setup_roots_iterator(xcb_get_setup(c)).data->width_in_pixels;
    xcb_disconnect(c);
    return width;
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

// One round: a program (or none) in a half-minute slot of its own, so that the panel's clock, redrawn on the
// minute, and the program's start and end fall outside the measured stretch: it starts 1 s into the slot
// and is measured from 9 s to 27 s.
enum class Kind { app, bare, none };
struct Round {
    double program = 0, server = 0, compositor = 0;                                        // % of one core
    double programWakeups = 0, serverWakeups = 0, compositorWakeups = 0, mainWakeups = 0;  // a second
};

std::optional<Round> round(Kind kind, const fs::path& app, Player& player, double duration) {
    constexpr auto kSlot = std::chrono::seconds(30), kLaunch = std::chrono::seconds(1),
                   kMeasureFrom = std::chrono::seconds(9);
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(Wall::now().time_since_epoch());
    const auto slot = Wall::time_point((now / kSlot + 1) * kSlot);
    std::this_thread::sleep_until(slot + kLaunch);
    // Every round plays the same stretch of the track.
    if (!player.command("seeked " + std::to_string(duration * kStartFraction)) || !player.command("play"))
        return std::nullopt;
    std::optional<Child> child;
    if (kind == Kind::app) child.emplace(app, kBarOnly);
    if (kind == Kind::bare) child.emplace(selfProgram(), "{}", kBareLine);
    std::this_thread::sleep_until(slot + kMeasureFrom);
    if (child && !child->running()) return std::nullopt;
    const auto server = desktopProcess("xvfb");
    const auto picom = desktopProcess("picom");
    const auto usage = [](const std::optional<pid_t>& pid) {
        return [pid] { return pid ? usageOf(*pid) : ProcessUsage{}; };
    };
    UsageWindow window({[&] { return child ? child->usage() : ProcessUsage{}; }, usage(server), usage(picom),
                        [&] { return child ? mainThreadUsageOf(child->pid()) : ProcessUsage{}; }});
    window.run(kMeasureSeconds);
    Round r;
    r.program = window.corePercent(0);
    r.server = window.corePercent(1);
    r.compositor = window.corePercent(2);
    r.programWakeups = window.wakeupsPerSecond(0);
    r.serverWakeups = window.wakeupsPerSecond(1);
    r.compositorWakeups = window.wakeupsPerSecond(2);
    r.mainWakeups = window.wakeupsPerSecond(3);
    return r;
}

// Three triples of rounds, the app's, the bare line's and the desktop's alone (the player playing, no
// program), in turns (A B N, B N A, N A B: a drift of the machine's load falls on all alike). A program's
// share of the X server and the compositor is what they used in its round beyond the desktop alone in the
// same triple (never below 0). Every figure is the median over the triples:
//   app_core_pct, wakeups_per_s        the app with its children (the media adapter), every thread;
//   main_thread_wakeups_per_s          its main thread alone;
//   server_core_pct, compositor_core_pct, server_wakeups_per_s, compositor_wakeups_per_s   their shares;
//   core_pct                           app + the two shares: a goal, and the iteration time;
//   all_wakeups_per_s                  the app's wake-ups with the two shares;
//   ratio                              core_pct over the bare line's, triple by triple;
//   bare_*                             the same figures of the bare line;
//   desktop_*                          the server and the compositor with neither program;
//   load_1min                          the machine's load average over the run.
void BM_ProgressLinePlaying(benchmark::State& state) {
    std::string why;
    if (!ensureDesktop(&why)) return state.SkipWithError(why.c_str());
    const fs::path app = selfDirectory() / "velaro";
    const fs::path playerProgram = selfDirectory() / "velaro-test-player";
    if (!fs::exists(app) || !fs::exists(playerProgram))
        return state.SkipWithError("bin/velaro or bin/velaro-test-player is not built");
    const int width = screenWidth();
    if (width <= 0) return state.SkipWithError("no screen");
    const double duration = width / kPixelsPerSecond;
    Player player(QString::fromStdString(playerProgram.string()));
    if (!player.ready() || !player.command("track /org/velaro/bench/1 " + std::to_string(duration) + " Long"))
        return state.SkipWithError("the test player did not start");

    struct Figures {
        std::vector<double> program, server, compositor, core, wakeups, main, serverWakeups,
            compositorWakeups, allWakeups;
    } ours, bare;
    std::vector<double> ratios, desktopServer, desktopCompositor, loads;
    const auto note = [](Figures& f, const Round& r, const Round& none) {
        const double server = std::max(0.0, r.server - none.server);
        const double compositor = std::max(0.0, r.compositor - none.compositor);
        const double serverWakeups = std::max(0.0, r.serverWakeups - none.serverWakeups);
        const double compositorWakeups = std::max(0.0, r.compositorWakeups - none.compositorWakeups);
        f.program.push_back(r.program);
        f.server.push_back(server);
        f.compositor.push_back(compositor);
        f.core.push_back(r.program + server + compositor);
        f.wakeups.push_back(r.programWakeups);
        f.main.push_back(r.mainWakeups);
        f.serverWakeups.push_back(serverWakeups);
        f.compositorWakeups.push_back(compositorWakeups);
        f.allWakeups.push_back(r.programWakeups + serverWakeups + compositorWakeups);
        return r.program + server + compositor;
    };
    for (auto _ : state) {
        constexpr std::array<std::array<Kind, 3>, 3> kOrders = {{{Kind::app, Kind::bare, Kind::none},
                                                                 {Kind::bare, Kind::none, Kind::app},
                                                                 {Kind::none, Kind::app, Kind::bare}}};
        for (const auto& order : kOrders) {
            loads.push_back(loadAverage());
            std::map<Kind, Round> rounds;
            for (const Kind kind : order) {
                const auto r = round(kind, app, player, duration);
                if (!r) return state.SkipWithError("a program or the player stopped");
                rounds[kind] = *r;
            }
            const Round& none = rounds[Kind::none];
            const double a = note(ours, rounds[Kind::app], none);
            const double b = note(bare, rounds[Kind::bare], none);
            ratios.push_back(b > 0 ? a / b : 0);
            desktopServer.push_back(none.server);
            desktopCompositor.push_back(none.compositor);
        }
        loads.push_back(loadAverage());
        state.SetIterationTime(median(ours.core) / 100 * kMeasureSeconds);
    }
    const auto report = [&](const std::string& prefix, const Figures& f) {
        state.counters[prefix + "app_core_pct"] = median(f.program);
        state.counters[prefix + "server_core_pct"] = median(f.server);
        state.counters[prefix + "compositor_core_pct"] = median(f.compositor);
        state.counters[prefix + "core_pct"] = median(f.core);
        state.counters[prefix + "wakeups_per_s"] = median(f.wakeups);
        state.counters[prefix + "main_thread_wakeups_per_s"] = median(f.main);
        state.counters[prefix + "server_wakeups_per_s"] = median(f.serverWakeups);
        state.counters[prefix + "compositor_wakeups_per_s"] = median(f.compositorWakeups);
        state.counters[prefix + "all_wakeups_per_s"] = median(f.allWakeups);
    };
    report("", ours);
    report("bare_", bare);
    state.counters["desktop_server_core_pct"] = median(desktopServer);
    state.counters["desktop_compositor_core_pct"] = median(desktopCompositor);
    state.counters["load_1min"] = median(loads);
    state.counters["ratio"] = median(ratios);
    state.counters["goal_core_pct"] = 0.3;
    state.counters["goal_wakeups_per_s"] = 12;
}
BENCHMARK(BM_ProgressLinePlaying)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
