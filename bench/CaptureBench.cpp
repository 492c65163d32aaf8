// Cost of grabbing one 1920 × 12 strip the way a capture stream does (SHM grab, content filter, frame),
// against a bare xcb_shm_get_image of the same pixels; and the same at 60 frames a second under one of our
// own windows covering the whole strip (as the band does), counting the X server's CPU with ours, over the
// test desktop's own picture, over a screen-sized one and over a maximised window that stays as it is (where
// the kept frame holds while nothing under the strip changed, which a stream asked for a frame hands out
// again). Needs a display; without one they skip. The whole app over a still window is measured in
// LiveBandBench.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BareShmGrab.h"
#include "BenchDesktop.h"
#include "platform/linux/X11CaptureSession.h"
#include "support/CaptureReader.h"

namespace {

using namespace velaro;
using namespace velaro::x11capture;
using velaro::bench::BareShmGrab;

constexpr double kFrameInterval = 1.0 / 60;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

bool haveDisplay(benchmark::State& state) {
    std::string why;
    if (velaro::bench::ensureDesktop(&why)) return true;
    state.SkipWithError(why.c_str());
    return false;
}

// The strip just below a 28 px panel across the primary monitor, clipped to it.
PixelRect strip(Session& session) {
    const auto monitors = session.monitors();
    const PixelRect primary = monitors.empty() ? PixelRect{0, 0, 1920, 1080} : monitors.front().root;
    return PixelRect{primary.x, primary.y + 28, 1920, 12}.intersection(primary);
}

// One of our own windows over the strip, as an overlay corner or a blur capture of the bar has, made on a
// connection of its own and closed with it.
class OwnWindowOver {
public:
    explicit OwnWindowOver(const PixelRect& r) : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t w = xcb_generate_id(c_);
        const std::uint32_t values[] = {0x22aa44, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<std::int16_t>(r.x),
                          static_cast<std::int16_t>(r.y), static_cast<std::uint16_t>(r.width),
                          static_cast<std::uint16_t>(r.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        const char name[] = "_NET_WM_PID";
        auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        if (atom)
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        std::free(atom);
        xcb_map_window(c_, w);
        std::free(
            xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // mapped once this returns
    }
    ~OwnWindowOver() { xcb_disconnect(c_); }

private:
    xcb_connection_t* c_;
};

// A desktop picture as large as the screen, as a wallpaper setter publishes it, for as long as this lives;
// the picture named before is named again afterwards. The test desktop's own picture is a one-pixel tile,
// which makes what lies beneath our band cheaper to read than on a desktop with a wallpaper.
class ScreenSizedDesktopPicture {
public:
    ScreenSizedDesktopPicture() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = screen->root;
        const char name[] = "_XROOTPMAP_ID";
        auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        if (!atom) return;
        atom_ = atom->atom;
        std::free(atom);
        auto* old =
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, root_, atom_, XCB_ATOM_PIXMAP, 0, 1), nullptr);
        if (old && old->format == 32 && xcb_get_property_value_length(old) == 4)
            previous_ = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(old));
        std::free(old);
        pixmap_ = xcb_generate_id(c_);
        xcb_create_pixmap(c_, screen->root_depth, pixmap_, root_, screen->width_in_pixels,
                          screen->height_in_pixels);
        // Stripes of two colours, so that no part of it is the same as the next.
        const xcb_gcontext_t gc = xcb_generate_id(c_);
        for (std::uint32_t colour : {0x3a6ea5u, 0x5a8ec5u}) {
            if (colour == 0x3a6ea5u)
                xcb_create_gc(c_, gc, pixmap_, XCB_GC_FOREGROUND, &colour);
            else
                xcb_change_gc(c_, gc, XCB_GC_FOREGROUND, &colour);
            std::vector<xcb_rectangle_t> stripes;
            for (int x = colour == 0x3a6ea5u ? 0 : 7; x < screen->width_in_pixels; x += 14)
                stripes.push_back({static_cast<std::int16_t>(x), 0, 7, screen->height_in_pixels});
            xcb_poly_fill_rectangle(c_, pixmap_, gc, static_cast<std::uint32_t>(stripes.size()),
                                    stripes.data());
        }
        xcb_free_gc(c_, gc);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom_, XCB_ATOM_PIXMAP, 32, 1, &pixmap_);
        std::free(
            xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // named once this returns
        // The compositor repaints the desktop with it once: not part of what is measured.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~ScreenSizedDesktopPicture() {
        if (pixmap_) {
            if (previous_)
                xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom_, XCB_ATOM_PIXMAP, 32, 1,
                                    &previous_);
            else
                xcb_delete_property(c_, root_, atom_);
            xcb_free_pixmap(c_, pixmap_);
            std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        }
        xcb_disconnect(c_);
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_atom_t atom_ = 0;
    xcb_pixmap_t previous_ = 0;
    xcb_pixmap_t pixmap_ = 0;
};

// The strip grab as a stream does it: `covered` puts one of our windows over its left quarter.
void grabStrip(benchmark::State& state, bool covered) {
    if (!haveDisplay(state)) return;
    auto session = velaro::bench::openCaptureReader();
    if (!session) {
        state.SkipWithError("cannot connect to the display");
        return;
    }
    const PixelRect area = strip(*session);
    std::unique_ptr<OwnWindowOver> own;
    if (covered) own = std::make_unique<OwnWindowOver>(PixelRect{area.x, area.y - 8, area.width / 4, 14});
    // As the sampler asks: our own windows left out.
    const ContentFilter filter = ContentFilter::displayExcludingApplications(
        {}, {CaptureApplication{static_cast<std::int64_t>(getpid()), "com.quornet.Velaro", "velaro"}});
    session->pollEvents();
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        session->pollEvents();
        auto image = session->grabFiltered(area, filter);
        if (!image) {
            state.SkipWithError("the grab failed");
            return;
        }
        CaptureFrame frame = toFrame(scaled(std::move(*image), area.width, area.height), 0);
        benchmark::DoNotOptimize(frame.pixels->data());
    }
    const double cpuPerFrame = (threadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_share_of_60fps_frame_pct"] = cpuPerFrame / kFrameInterval * 100;
    state.counters["shm"] = session->usesShm() ? 1 : 0;
    state.counters["compositor"] = session->compositorRunning() ? 1 : 0;
    state.SetBytesProcessed(state.iterations() * area.width * area.height * 4);
}

void BM_GrabStrip1920x12(benchmark::State& state) {
    grabStrip(state, false);
}
BENCHMARK(BM_GrabStrip1920x12)->Unit(benchmark::kMicrosecond);

void BM_GrabStripUnderOwnWindow1920x12(benchmark::State& state) {
    grabStrip(state, true);
}
BENCHMARK(BM_GrabStripUnderOwnWindow1920x12)->Unit(benchmark::kMicrosecond);

void BM_GrabStrip1920x12_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    auto session = velaro::bench::openCaptureReader();
    if (!session || !session->usesShm()) {
        state.SkipWithError("no display with MIT-SHM");
        return;
    }
    const PixelRect area = strip(*session);
    BareShmGrab bare(*session, area);
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(bare.grab());
    const double cpuPerFrame = (threadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_share_of_60fps_frame_pct"] = cpuPerFrame / kFrameInterval * 100;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(area.width) * area.height * 4);
}
BENCHMARK(BM_GrabStrip1920x12_Baseline)->Unit(benchmark::kMicrosecond);
// The same bare grab, as the limit of the covered strip.
BENCHMARK(BM_GrabStrip1920x12_Baseline)
    ->Name("BM_GrabStripUnderOwnWindow1920x12_Baseline")
    ->Unit(benchmark::kMicrosecond);

// One frame's cost paced as a stream is, 60 frames a second: this thread's CPU and the X server's (which
// does the composing work of the own-window case), in seconds per frame.
struct PacedCost {
    double app = 0, server = 0;
    double total() const { return app + server; }
};
template <class Grab>
std::optional<PacedCost> pacedRound(pid_t server, int frames, Grab& grab) {
    const double cpuStart = threadCpuSeconds();
    const double serverStart = velaro::bench::usageOf(server).cpuSeconds;
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        if (!grab()) return std::nullopt;
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    return PacedCost{(threadCpuSeconds() - cpuStart) / frames,
                     (velaro::bench::usageOf(server).cpuSeconds - serverStart) / frames};
}

// The bare grab alone, 300 frames (5 s).
template <class Grab>
void pacedFrames(benchmark::State& state, Grab grab) {
    const auto server = velaro::bench::desktopProcess("xvfb");
    if (!server) return state.SkipWithError("the X server's process is not known (run in the test desktop)");
    for (auto _ : state) {
        const auto cost = pacedRound(*server, 300, grab);
        if (!cost) return state.SkipWithError("the grab failed");
        state.SetIterationTime(cost->total());
        state.counters["app_us_per_frame"] = cost->app * 1e6;
        state.counters["server_us_per_frame"] = cost->server * 1e6;
    }
}

// Our compose under our own band against the bare grab of the same strip, in alternated rounds of one
// second (60 frames) each, ten of each, so that the machine's changing load falls on both alike. Both run
// on the same desktop with the band up, after a warm-up that is not measured: the compositor's repaint of
// the newly mapped band and the compose's first frame, which sets up what it keeps, are no part of the
// per-frame cost. With each pair goes a round of the same pacing that grabs nothing: what the X server
// does then is for the desktop's other clients, and is taken off both sides' server time (never below 0).
// The rounds' order turns every time. `ratio` is the median of the pairs' ratios (app + server against
// app + server); the other figures are medians over the rounds, per frame; `reused_pct` is the share of our
// frames that were the kept one handed out again.
void grabUnderOwnBandPaced(benchmark::State& state, double goalRatio) {
    if (!haveDisplay(state)) return;
    const auto server = velaro::bench::desktopProcess("xvfb");
    if (!server) return state.SkipWithError("the X server's process is not known (run in the test desktop)");
    auto session = velaro::bench::openCaptureReader();
    if (!session || !session->usesShm()) return state.SkipWithError("no display with MIT-SHM");
    const PixelRect area = strip(*session);
    OwnWindowOver own(PixelRect{area.x, area.y - 8, area.width, area.height + 16});
    const ContentFilter filter = ContentFilter::displayExcludingApplications(
        {}, {CaptureApplication{static_cast<std::int64_t>(getpid()), "com.quornet.Velaro", "velaro"}});
    BareShmGrab bare(*session, area);
    // What a stream does each frame: the strip grabbed, or the last frame again while nothing beneath
    // changed.
    KeptStrip strip;
    double ourFrames = 0, reusedFrames = 0;
    std::function<bool()> kinds[] = {
        [&] {
            session->pollEvents();
            auto frame = strip.frame(*session, area, filter, area.width, area.height, 0);
            if (!frame) return false;
            benchmark::DoNotOptimize(frame->pixels->data());
            ++ourFrames;
            reusedFrames += strip.reused();
            return true;
        },
        [&] { return bare.grab(); },
        [] { return true; },
    };
    enum { kOurs, kBare, kNone };
    session->pollEvents();
    if (!pacedRound(*server, 30, kinds[kOurs]) || !pacedRound(*server, 30, kinds[kBare]))
        return state.SkipWithError("the grab failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<double> ratios, app, serverUs, bareApp, bareServer, others, total;
    for (auto _ : state) {
        for (int pair = 0; pair < 10; ++pair) {
            PacedCost cost[3];
            for (int i = 0; i < 3; ++i) {
                const int kind = (pair + i) % 3;
                const auto round = pacedRound(*server, 60, kinds[kind]);
                if (!round) return state.SkipWithError("the grab failed");
                cost[kind] = *round;
            }
            const double elsewhere = cost[kNone].server;
            for (auto kind : {kOurs, kBare}) cost[kind].server = std::max(0.0, cost[kind].server - elsewhere);
            ratios.push_back(cost[kOurs].total() / cost[kBare].total());
            app.push_back(cost[kOurs].app * 1e6);
            serverUs.push_back(cost[kOurs].server * 1e6);
            bareApp.push_back(cost[kBare].app * 1e6);
            bareServer.push_back(cost[kBare].server * 1e6);
            others.push_back(elsewhere * 1e6);
            total.push_back(cost[kOurs].total());
        }
        state.SetIterationTime(velaro::bench::median(total));
    }
    state.counters["ratio"] = velaro::bench::median(ratios);
    state.counters["worst_pair_ratio"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["app_us_per_frame"] = velaro::bench::median(app);
    state.counters["server_us_per_frame"] = velaro::bench::median(serverUs);
    state.counters["bare_app_us_per_frame"] = velaro::bench::median(bareApp);
    state.counters["bare_server_us_per_frame"] = velaro::bench::median(bareServer);
    state.counters["server_for_others_us_per_frame"] = velaro::bench::median(others);
    state.counters["compositor"] = session->compositorRunning() ? 1 : 0;
    state.counters["reused_pct"] = ourFrames > 0 ? reusedFrames / ourFrames * 100 : 0;
    state.counters["goal_ratio"] = goalRatio;
}

void bareGrabPaced(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    auto session = velaro::bench::openCaptureReader();
    if (!session || !session->usesShm()) return state.SkipWithError("no display with MIT-SHM");
    BareShmGrab bare(*session, strip(*session));
    pacedFrames(state, [&] { return bare.grab(); });
}

void BM_GrabUnderOwnBandPaced60(benchmark::State& state) {
    grabUnderOwnBandPaced(state, 1.5);
}
BENCHMARK(BM_GrabUnderOwnBandPaced60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);

void BM_GrabUnderOwnBandPaced60_Baseline(benchmark::State& state) {
    bareGrabPaced(state);
}
BENCHMARK(BM_GrabUnderOwnBandPaced60_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);

// The same over a screen-sized desktop picture: what lies beneath the band is then as many bytes as the
// bare grab reads.
void BM_GrabUnderOwnBandOverWallpaperPaced60(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    ScreenSizedDesktopPicture wallpaper;
    grabUnderOwnBandPaced(state, 1.5);
}
BENCHMARK(BM_GrabUnderOwnBandOverWallpaperPaced60)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

void BM_GrabUnderOwnBandOverWallpaperPaced60_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    ScreenSizedDesktopPicture wallpaper;
    bareGrabPaced(state);
}
BENCHMARK(BM_GrabUnderOwnBandOverWallpaperPaced60_Baseline)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

// The user's case of live capture over a maximised window that stays as it is: under our band lies that
// window's top, which nothing redraws, so a stream should hardly cost anything beyond the bare grab's half.
void BM_GrabUnderOwnBandOverStaticWindowPaced60(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    velaro::bench::ClientWindows window(1, true);
    if (!window.managed()) return state.SkipWithError("the window manager did not take the window in");
    // The compositor paints the newly mapped window once: not part of what is measured.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    grabUnderOwnBandPaced(state, 0.5);
}
BENCHMARK(BM_GrabUnderOwnBandOverStaticWindowPaced60)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

void BM_GrabUnderOwnBandOverStaticWindowPaced60_Baseline(benchmark::State& state) {
    if (!haveDisplay(state)) return;
    velaro::bench::ClientWindows window(1, true);
    if (!window.managed()) return state.SkipWithError("the window manager did not take the window in");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    bareGrabPaced(state);
}
BENCHMARK(BM_GrabUnderOwnBandOverStaticWindowPaced60_Baseline)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
