// A track playing with the visualizer and the progress line on, as a user has them, against cava drawing the
// same sound in a terminal at 60 frames a second: the whole cost of each at 1920x1080 in the test desktop
// with its compositor and its sound server. Music (generated here: chords, a beat and hi-hats) plays into
// the desktop's null sink and the test player reports a track playing on the session bus for the whole run;
// what each round adds to that is measured. The music's player keeps 60 ms buffered (BM_VizPlaying), which
// holds the output to 15 ms blocks whoever listens, or 200 ms as many desktop players do
// (BM_VizPlayingBufferedPlayer), which leaves the output's pace to the capture streams: there the sound
// server's share shows what each capture's fragment length costs.
//
// Rounds alternate, ours and cava's (A B, B A, A B: a drift of the machine's load falls on both alike). Each
// round measures the desktop with the music alone for 5 s, starts its program, lets it settle 4 s and
// measures it 10 s. Its cost is the program's own share of a core with its children (the media adapter;
// cava's terminal with cava) plus what the X server, the compositor and the sound server used beyond the
// music alone (the sound server's work for the program's capture stream). The ratio is the median of the
// pairs' ratios, its goal 0.8 (clearly cheaper than cava). Counters, % of one core, medians over the rounds:
//   app_core_pct, adapter_core_pct, server_core_pct, compositor_core_pct, sound_core_pct, core_pct   ours:
//     the app alone, its media adapter, the X server, the compositor, the sound server, and their total;
//   cava_core_pct, xterm_core_pct, cava_server_core_pct, cava_compositor_core_pct, cava_sound_core_pct,
//   cava_total_core_pct    cava's: cava alone, its terminal alone, the rest as ours;
//   wakeups_per_s, cava_wakeups_per_s    voluntary context switches a second of each process tree;
//   shown, cava_shown    the share of checks that found the top strip changed by the program;
//   load_1m     the machine's load average (/proc/loadavg) at the start and at the end, the higher.
// Without cava, xterm or pacat installed (scripts/setup installs them), the benchmark says so and fails.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"

namespace {

using namespace velaro::bench;
using Clock = std::chrono::steady_clock;

const char* kAppSettings = R"({"onboardingStep": 4, "vizEnabled": true, "progressEnabled": true})";
constexpr int kRate = 48000;

bool installed(const char* command) {
    return std::system((std::string("command -v ") + command + " >/dev/null 2>&1").c_str()) == 0;
}

double loadAverage() {
    std::ifstream file("/proc/loadavg");
    double load = 0;
    file >> load;
    return load;
}

// Stereo float samples of something like music: a chord that changes every two seconds with a slow swell,
// a kick on every beat at 120 bpm and a hi-hat between the beats.
class Music {
public:
    void fill(std::vector<float>& out, std::size_t frames) {
        static constexpr double kChords[4][3] = {{220.0, 277.18, 329.63},
                                                 {196.0, 246.94, 293.66},
                                                 {174.61, 220.0, 261.63},
                                                 {196.0, 246.94, 311.13}};
        out.resize(frames * 2);
        for (std::size_t i = 0; i < frames; ++i, ++n_) {
            const double t = double(n_) / kRate;
            const auto& chord = kChords[std::size_t(t / 2) % 4];
            double v = 0;
            for (double f : chord) v += std::sin(2 * std::numbers::pi * f * t) * (0.08 + 0.04 * std::sin(t));
            const double beat = std::fmod(t, 0.5);
            v += 0.5 * std::exp(-beat * 18) *
                 std::sin(2 * std::numbers::pi * (50 + 90 * std::exp(-beat * 30)) * beat);
            const double half = std::fmod(t + 0.25, 0.5);
            noise_ = noise_ * 1664525u + 1013904223u;
            v += 0.15 * std::exp(-half * 60) * (double(noise_ >> 8) / double(1u << 24) - 0.5);
            out[2 * i] = out[2 * i + 1] = static_cast<float>(v);
        }
    }

private:
    std::uint64_t n_ = 0;
    std::uint32_t noise_ = 1;
};

// The music, played into the desktop's default sink by pacat, keeping `bufferMs` buffered, for as long as
// this lives.
class Playing {
public:
    explicit Playing(int bufferMs) {
        const std::string latency = "--latency-msec=" + std::to_string(bufferMs);
        int ends[2];
        if (pipe(ends) != 0) return;
        // A write after pacat ended must fail, not end the benchmark.
        signal(SIGPIPE, SIG_IGN);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ends[0], 0);
            close(ends[0]);
            close(ends[1]);
            execlp("pacat", "pacat", "--playback", "--raw", "--format=float32le", "--rate=48000",
                   "--channels=2", latency.c_str(), nullptr);
            _exit(127);
        }
        close(ends[0]);
        if (pid_ < 0) {
            close(ends[1]);
            return;
        }
        fd_ = ends[1];
        writer_ = std::thread([this] {
            Music music;
            std::vector<float> block;
            // The pipe holds little: pacat takes the music at the pace it plays it.
            while (!stop_) {
                music.fill(block, kRate / 20);
                const auto* bytes = reinterpret_cast<const char*>(block.data());
                std::size_t left = block.size() * sizeof(float);
                while (left > 0 && !stop_) {
                    const ssize_t n = write(fd_, bytes, left);
                    if (n <= 0) return;
                    bytes += n;
                    left -= std::size_t(n);
                }
            }
        });
    }
    ~Playing() {
        stop_ = true;
        if (pid_ <= 0) return;
        // The writer may wait on a full pipe: ending pacat frees it.
        kill(pid_, SIGTERM);
        writer_.join();
        close(fd_);
        waitpid(pid_, nullptr, 0);
    }
    bool playing() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

// The test player with a track playing, for as long as this lives.
class Player {
public:
    Player() {
        const auto program = selfDirectory() / "velaro-test-player";
        if (!fs::exists(program)) return;
        pipe_ = popen(("exec " + program.string() + " --name velarobench >/dev/null").c_str(), "w");
        if (!pipe_) return;
        std::fputs("track /org/velaro/track/1 600 Bench\nseeked 60\nplay\n", pipe_);
        std::fflush(pipe_);
    }
    ~Player() {
        if (!pipe_) return;
        std::fputs("quit\n", pipe_);
        std::fflush(pipe_);
        pclose(pipe_);
    }
    bool ready() const { return pipe_ != nullptr; }

private:
    FILE* pipe_ = nullptr;
};

// cava in an xterm over the top of the screen, as wide as the screen and as deep as our visualizer's
// window (80 pixels), reading the sink's monitor at 60 frames a second: a script the Child runs.
fs::path cavaLauncher() {
    const fs::path dir = fs::temp_directory_path() / ("velaro-bench-cava-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "config") << "[general]\nframerate = 60\n"
                                     "[input]\nmethod = pulse\nsource = velaro_null.monitor\n"
                                     "[output]\nmethod = ncurses\n";
    const fs::path script = dir / "cava-in-xterm";
    std::ofstream(script) << "#!/bin/sh\nexec xterm -fa Monospace -fs 10 -geometry 240x5+0+0 -e cava -p '"
                          << (dir / "config").string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

// One round's figures. The program is the app or cava's terminal; its children the media adapter or cava.
struct Round {
    double program = 0, children = 0, server = 0, compositor = 0, sound = 0, wakeups = 0, shown = 0;
    double total() const { return program + children + server + compositor + sound; }
};

// A few pixels along the top strip (left of the panel's clock), to tell whether a program shows anything
// there.
std::vector<std::uint32_t> topStrip(const ScreenReader& screen) {
    std::vector<std::uint32_t> pixels;
    for (int y : {6, 20, 40})
        for (int x = 60; x < 1500; x += 120) pixels.push_back(screen.pixel(x, y).value_or(0));
    return pixels;
}

std::vector<double> totals(const std::vector<Round>& rounds) {
    std::vector<double> v;
    for (const Round& r : rounds) v.push_back(r.total());
    return v;
}

struct Desktop {
    std::optional<pid_t> server = desktopProcess("xvfb");
    std::optional<pid_t> compositor = desktopProcess("picom");
    std::optional<pid_t> sound = desktopProcess("pulseaudio");
    std::function<ProcessUsage()> usage(const std::optional<pid_t>& pid) const {
        return [pid] { return pid ? usageOf(*pid) : ProcessUsage{}; };
    }
};

std::optional<Round> round(const Desktop& desktop, const ScreenReader& screen, const fs::path& program) {
    UsageWindow alone(
        {desktop.usage(desktop.server), desktop.usage(desktop.compositor), desktop.usage(desktop.sound)});
    alone.run(5);
    const auto quiet = topStrip(screen);
    Child child(program, kAppSettings);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    if (!child.running()) return std::nullopt;
    UsageWindow window({[&] { return child.ownUsage(); }, [&] { return child.childrenUsage(); },
                        desktop.usage(desktop.server), desktop.usage(desktop.compositor),
                        desktop.usage(desktop.sound)});
    window.run(10);
    // Looked at after the measured window: the reads cost the X server too.
    int changed = 0;
    for (int i = 0; i < 3; ++i) {
        const auto now = topStrip(screen);
        int differ = 0;
        for (std::size_t p = 0; p < now.size(); ++p) differ += now[p] != quiet[p];
        changed += differ > 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    Round r;
    r.program = window.corePercent(0);
    r.children = window.corePercent(1);
    r.server = std::max(0.0, window.corePercent(2) - alone.corePercent(0));
    r.compositor = std::max(0.0, window.corePercent(3) - alone.corePercent(1));
    r.sound = std::max(0.0, window.corePercent(4) - alone.corePercent(2));
    r.wakeups = window.wakeupsPerSecond(0) + window.wakeupsPerSecond(1);
    r.shown = changed / 3.0;
    return r;
}

void playingCase(benchmark::State& state, int playerBufferMs) {
    std::string why;
    if (!ensureDesktop(&why)) return state.SkipWithError(why.c_str());
    const fs::path app = selfDirectory() / "velaro";
    if (!fs::exists(app)) return state.SkipWithError("bin/velaro is not built");
    for (const char* tool : {"cava", "xterm", "pacat"})
        if (!installed(tool)) return state.SkipWithError((std::string(tool) + " is not installed").c_str());
    Player player;
    if (!player.ready()) return state.SkipWithError("bin/velaro-test-player is not built");
    Playing music(playerBufferMs);
    if (!music.playing()) return state.SkipWithError("pacat could not play into the desktop's sink");
    const fs::path cava = cavaLauncher();
    const Desktop desktop;
    ScreenReader screen;
    const double loadBefore = loadAverage();
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the music and the player under way

    std::vector<Round> ours, theirs;
    std::vector<double> ratios;
    for (auto _ : state) {
        for (int pair = 0; pair < 3; ++pair) {
            const bool oursFirst = pair % 2 == 0;
            auto first = round(desktop, screen, oursFirst ? app : cava);
            auto second = round(desktop, screen, oursFirst ? cava : app);
            if (!first || !second) return state.SkipWithError("a program exited during its round");
            const Round& a = oursFirst ? *first : *second;
            const Round& b = oursFirst ? *second : *first;
            ours.push_back(a);
            theirs.push_back(b);
            ratios.push_back(a.total() / std::max(b.total(), 0.01));
        }
        state.SetIterationTime(median(totals(ours)) / 100 * 10);
    }
    const auto med = [](const std::vector<Round>& rounds, double Round::*field) {
        std::vector<double> v;
        for (const Round& r : rounds) v.push_back(r.*field);
        return median(v);
    };
    state.counters["app_core_pct"] = med(ours, &Round::program);
    state.counters["adapter_core_pct"] = med(ours, &Round::children);
    state.counters["server_core_pct"] = med(ours, &Round::server);
    state.counters["compositor_core_pct"] = med(ours, &Round::compositor);
    state.counters["sound_core_pct"] = med(ours, &Round::sound);
    state.counters["core_pct"] = median(totals(ours));
    state.counters["wakeups_per_s"] = med(ours, &Round::wakeups);
    state.counters["shown"] = med(ours, &Round::shown);
    state.counters["cava_core_pct"] = med(theirs, &Round::children);
    state.counters["xterm_core_pct"] = med(theirs, &Round::program);
    state.counters["cava_server_core_pct"] = med(theirs, &Round::server);
    state.counters["cava_compositor_core_pct"] = med(theirs, &Round::compositor);
    state.counters["cava_sound_core_pct"] = med(theirs, &Round::sound);
    state.counters["cava_total_core_pct"] = median(totals(theirs));
    state.counters["cava_wakeups_per_s"] = med(theirs, &Round::wakeups);
    state.counters["cava_shown"] = med(theirs, &Round::shown);
    state.counters["load_1m"] = std::max(loadBefore, loadAverage());
    state.counters["ratio"] = median(ratios);
    state.counters["goal_ratio"] = 0.8;
    if (!desktop.server) state.counters["server_unknown"] = 1;
    if (!desktop.compositor) state.counters["compositor_unknown"] = 1;
    if (!desktop.sound) state.counters["sound_unknown"] = 1;
    if (med(ours, &Round::shown) < 0.5) state.SkipWithError("the visualizer did not show over the music");
    std::error_code ignored;
    fs::remove_all(cava.parent_path(), ignored);
}

void BM_VizPlaying(benchmark::State& state) {
    playingCase(state, 60);
}
BENCHMARK(BM_VizPlaying)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_VizPlayingBufferedPlayer(benchmark::State& state) {
    playingCase(state, 200);
}
BENCHMARK(BM_VizPlayingBufferedPlayer)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
