// The desktop the whole-process benchmarks run on: the display (the private test desktop, started when there
// is none), child processes with settings of their own, what they cost in CPU time and wake-ups, the X
// server's and the compositor's processes, and client windows that fill the desktop.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velaro::bench {

namespace fs = std::filesystem;

// The folder of the running benchmark program (bin/).
fs::path selfDirectory();

// Set in a benchmark program's environment, it makes the program the bare app a whole-process benchmark
// compares ours with: a Qt Widgets app with a tray icon and one strip window ("tray"), with a translucent
// window where the band is, whose band and ears take a new colour at each display refresh ("band", placed by
// kBareBandVariable), with a progress line moving a pixel every 0.1 s instead of the strip ("line"), or
// with an ordinary window beside the strip ("window").
inline constexpr const char* kBareAppVariable = "VELARO_BENCH_BARE_APP";
// The bare band's window for "band": "x y width height band ear" in root pixels, the band's rows at the
// window's top and an ear that many pixels square below each of its ends.
inline constexpr const char* kBareBandVariable = "VELARO_BENCH_BARE_BAND";
// The strip the bare grab loop ("grab") reads, as "x y width height" in root pixels.
inline constexpr const char* kBareGrabVariable = "VELARO_BENCH_BARE_GRAB";
// The size of the bare app's ordinary window ("window"), as "<width>x<height>".
inline constexpr const char* kBareWindowVariable = "VELARO_BENCH_BARE_WINDOW";
// The file the bare app "gaps" (a plain window doing nothing) notes its main loop's stands in, one
// "<end> <length>" line a stand, in steady-clock seconds (see LoopGaps.h).
inline constexpr const char* kBareGapsVariable = "VELARO_BENCH_BARE_GAPS";
// This benchmark program, to start again as a bare app.
fs::path selfProgram();

// The middle of `values` (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values);

// A display to run on: the one of DISPLAY, else the test desktop, started once and stopped at exit. False,
// with `why`, when there is none.
bool ensureDesktop(std::string* why);

// Asks for the desktop before the application object is made, for programs whose Qt objects find their
// display as the application starts (OpenGL contexts). Call it from a namespace-scope initialiser; the
// entry point reads `desktopFirst()`.
bool startDesktopFirst();
bool desktopFirst();

// The processes of the desktop's X server and compositor, from the desktop's bookkeeping; absent when the
// desktop was not made by scripts/desktop-session.
std::optional<pid_t> desktopProcess(const std::string& name);

// CPU time (the scheduler's nanosecond counts: tick-based times are too coarse for an idle process),
// voluntary context switches (each one a sleep, so each one ends in a wake-up) and write calls (every flush
// of requests to the X server is one, as is every other write) of every thread of a process.
struct ProcessUsage {
    double cpuSeconds = 0;
    long long wakeups = 0;
    long long writes = 0;
    ProcessUsage& operator+=(const ProcessUsage& o) {
        cpuSeconds += o.cpuSeconds;
        wakeups += o.wakeups;
        writes += o.writes;
        return *this;
    }
};
ProcessUsage usageOf(pid_t pid);
// The main thread of a process alone.
ProcessUsage mainThreadUsageOf(pid_t pid);
// Each thread of a process by its id.
std::map<pid_t, ProcessUsage> threadUsagesOf(pid_t pid);

// A program started with its own settings folder holding `defaultsJson` and the extra environment; ended
// and reaped when this goes. The display's screen saver is reset first: no program starts with the screens
// asleep or with less than the saver's whole timeout ahead of it.
class Child {
public:
    Child(const fs::path& program, const std::string& defaultsJson,
          const std::map<std::string, std::string>& environment = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const;
    // The process with its children (the media adapter).
    ProcessUsage usage() const;
    // The process alone, and its children alone.
    ProcessUsage ownUsage() const;
    ProcessUsage childrenUsage() const;

private:
    pid_t pid_ = -1;
    fs::path config_;
};

// The usage of several processes over a stretch of wall time, as shares of one core and rates.
class UsageWindow {
public:
    explicit UsageWindow(std::vector<std::function<ProcessUsage()>> processes);
    // Waits `seconds`, then reads the processes again.
    void run(double seconds);
    double corePercent(std::size_t process) const { return cpu_[process] / wall_ * 100; }
    double wakeupsPerSecond(std::size_t process) const { return double(wakeups_[process]) / wall_; }
    double writesPerSecond(std::size_t process) const { return double(writes_[process]) / wall_; }
    double wallSeconds() const { return wall_; }

private:
    std::vector<std::function<ProcessUsage()>> processes_;
    std::vector<double> cpu_;
    std::vector<long long> wakeups_;
    std::vector<long long> writes_;
    double wall_ = 0;
};

// One pixel of the screen as the compositor shows it, 0xRRGGBB; absent when it cannot be read.
class ScreenReader {
public:
    ScreenReader();
    ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;
    std::optional<std::uint32_t> pixel(int x, int y) const;

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

// Ordinary top-level windows of another client, managed by the window manager while this object lives,
// stacked in a cascade below the panel. With `fill` the first one is maximised over the screen,
// without a title bar.
class ClientWindows {
public:
    explicit ClientWindows(int count, bool fill = false);
    ~ClientWindows();
    ClientWindows(const ClientWindows&) = delete;
    ClientWindows& operator=(const ClientWindows&) = delete;
    // Waits (up to 10 s) until the window manager lists every window.
    bool managed();
    // Paints the top of the first window, `rows` high, in one colour (0xRRGGBB).
    void paintFirst(std::uint32_t rgb, int rows = 160);
    // A burst of stacking changes, sent as fast as the connection takes them and then waited for: each window
    // raised in turn, and every fourth one unmapped and mapped again (the window manager lets go of it and
    // takes it on anew), `passes` times over. Any one thread at a time.
    void churn(int passes);

private:
    xcb_connection_t* c_;
    std::vector<xcb_window_t> windows_;
};

}  // namespace velaro::bench
