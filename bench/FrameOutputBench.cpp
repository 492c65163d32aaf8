// Frame analysis and backdrop blur against a plain copy of the same bytes: what the per-frame work costs
// beyond touching the frame once. Also counts allocations per frame in the steady state (goal: none). And
// the analysis as the app runs it on the test desktop: the real pointer source, the foreign-menu check over
// the real window list, the strip the app captures there (1920 × 6 at one pixel a point), against a copy of
// the bytes it reads.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

#include "BenchAllocations.h"
#include "BenchDesktop.h"
#include "base/QtMainLoop.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAppCatalog.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/CaptureStreams.h"
#include "sampling/FrameOutput.h"
#include "sampling/LineKernels.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"

namespace velaro {
namespace {

// A BGRA strip whose content and mean colour depend on `seed`, so that consecutive frames differ and each
// one publishes.
CaptureFrame strip(int width, int height, int seed) {
    auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(width) * 4 * height);
    for (std::size_t i = 0; i < pixels->size(); ++i)
        (*pixels)[i] = static_cast<std::uint8_t>(((i * 7) >> 4) % 128 + static_cast<std::size_t>(seed) * 40);
    CaptureFrame frame;
    frame.pixels = pixels;
    frame.width = width;
    frame.height = height;
    frame.bytesPerRow = width * 4;
    return frame;
}

// Live capture on a 2× screen 1920 pt wide: the 6 pt strip is 3840 × 12 pixels at 60 frames a second.
FrameOutput::LineConfig liveStrip() {
    FrameOutput::LineConfig config;
    config.edgeInsetPixels = 80;
    config.imagePointWidth = 1920;
    config.publishesImage = true;
    config.lineRowY = 6;
    config.scale = 2;
    config.displayWidthPoints = 1920;
    config.smoothingAlpha = 0.163;
    return config;
}

void BM_AnalyseFrame3840x12(benchmark::State& state) {
    QtMainLoop loop;
    FrameOutput::Dependencies deps;
    deps.loop = &loop;
    deps.isForeignMenuOpen = [] { return false; };
    FrameOutput output(std::move(deps));
    long published = 0;
    output.onUpdate = [&](const Color&, const std::vector<Color>&) { ++published; };
    output.onLine = [&](const LiveLine& line, int) { benchmark::DoNotOptimize(line.image.constBits()); };
    output.onEdgeColors = [](const Color&, const Color&) {};
    output.setLineConfig(liveStrip());
    output.applySettings({12.0, true, true, false, false});
    // Three different frames in turn: every one is analysed in full, none is a duplicate.
    const CaptureFrame frames[] = {strip(3840, 12, 1), strip(3840, 12, 2), strip(3840, 12, 3)};
    for (int i = 0; i < 6; ++i) output.receive(frames[i % 3]);

    std::size_t k = 0;
    bench::AllocationCount allocations;
    for (auto _ : state) output.receive(frames[k++ % 3]);
    state.counters["allocs/frame"] = allocations.perIteration(state);
    state.counters["published"] = static_cast<double>(published);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 3840 * 12 * 4);
}
BENCHMARK(BM_AnalyseFrame3840x12);

void copyBaseline(benchmark::State& state, int width, int height) {
    const CaptureFrame frames[] = {strip(width, height, 1), strip(width, height, 2), strip(width, height, 3)};
    std::vector<std::uint8_t> target(static_cast<std::size_t>(width) * 4 * height);
    std::size_t k = 0;
    for (auto _ : state) {
        std::memcpy(target.data(), frames[k++ % 3].pixels->data(), target.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * height * 4);
}

void BM_AnalyseFrame3840x12_Baseline(benchmark::State& state) {
    copyBaseline(state, 3840, 12);
}
BENCHMARK(BM_AnalyseFrame3840x12_Baseline);

// The blurred bar and corners of a 2× screen with light reflections on: the strip from the screen's top is
// 3840 × 72 pixels; a 37 pt bar with 10 pt corners covers all of it. Radius 12 blurs at half size.
void BM_Blur3840x72(benchmark::State& state) {
    BlurredBackdrop backdrop;
    UnifiedBlur blur;
    blur.overlayHeightPixels = 74;
    blur.leftRadiusPixels = 20;
    blur.rightRadiusPixels = 20;
    long published = 0;
    const BlurredBackdrop::BackdropSink onBar = [&](const BackdropImage&) { ++published; };
    const BlurredBackdrop::CornerSink onCorners = [](const std::optional<BackdropImage>&,
                                                     const std::optional<BackdropImage>&) {};
    const CaptureFrame frames[] = {strip(3840, 72, 1), strip(3840, 72, 2), strip(3840, 72, 3)};
    // Each iteration is one even frame whose region differs from the last published one: a full blur.
    auto blurOnce = [&](const CaptureFrame& frame) {
        backdrop.step(frame, blur, onBar, onCorners);  // the odd frame: skipped
        backdrop.step(frame, blur, onBar, onCorners);
    };
    for (int i = 0; i < 6; ++i) blurOnce(frames[i % 3]);

    std::size_t k = 0;
    bench::AllocationCount allocations;
    for (auto _ : state) blurOnce(frames[k++ % 3]);
    state.counters["allocs/frame"] = allocations.perIteration(state);
    state.counters["published"] = static_cast<double>(published);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 3840 * 72 * 4);
}
BENCHMARK(BM_Blur3840x72);

void BM_Blur3840x72_Baseline(benchmark::State& state) {
    copyBaseline(state, 3840, 72);
}
BENCHMARK(BM_Blur3840x72_Baseline);

// The app's services on the desktop, as its start-up makes them.
struct LiveInputs {
    QtMainLoop loop;
    XdgAppCatalog catalog{{"/nonexistent"}};
    std::unique_ptr<X11Session> session;
    std::unique_ptr<X11PointerSource> pointer;
    std::unique_ptr<X11WindowList> windows;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<JsonDefaultsStore> defaults;
    std::unique_ptr<WindowListScans> scans;
};

std::unique_ptr<LiveInputs> liveInputs(benchmark::State& state) {
    std::string why;
    if (!bench::ensureDesktop(&why)) {
        state.SkipWithError(why.c_str());
        return nullptr;
    }
    auto in = std::make_unique<LiveInputs>();
    in->session = X11Session::open(
        {}, [] { return 1.0; }, in->catalog);
    if (!in->session) {
        state.SkipWithError("cannot connect to the display");
        return nullptr;
    }
    in->pointer = std::make_unique<X11PointerSource>(in->loop, *in->session);
    in->windows = std::make_unique<X11WindowList>(*in->session);
    in->screens = std::make_unique<X11Screens>(*in->session);
    in->workspace = std::make_unique<X11Workspace>(in->loop, *in->session);
    in->defaults = std::make_unique<JsonDefaultsStore>(
        in->loop, (bench::fs::temp_directory_path() / "velaro-bench-frame-defaults.json").string());
    in->scans = std::make_unique<WindowListScans>(*in->windows, *in->screens, *in->defaults, *in->workspace,
                                                  static_cast<std::int32_t>(getpid()));
    return in;
}

// The stream the app plans for a 1920 × 1080 screen at one pixel a point under a 28-point panel, live at
// 60 frames a second with blur and reflections off: a 1920 × 6 strip.
constexpr double kLivePanelHeight = 28;

StreamPlan livePlan() {
    StreamPlanInput in;
    in.displayWidth = 1920;
    in.displayHeight = 1080;
    in.geometry.captureHeight = kLivePanelHeight;
    in.liveCaptureEnabled = true;
    in.liveCaptureFPS = 60;
    in.cornerRadius = defaultDisplayCornerRadius;
    return planStream(in);
}

// Three frames of the planned size that differ, so each one is analysed in full.
std::array<CaptureFrame, 3> liveFrames(const StreamPlan& plan) {
    return {strip(plan.width, plan.height, 1), strip(plan.width, plan.height, 2),
            strip(plan.width, plan.height, 3)};
}

void BM_AnalyseLiveFrame1920x6(benchmark::State& state) {
    auto in = liveInputs(state);
    if (!in) return;
    FrameOutput::Dependencies deps;
    deps.loop = &in->loop;
    deps.pointer = in->pointer.get();
    deps.isForeignMenuOpen = [scans = in->scans.get()] { return scans->isForeignMenuOpen(); };
    FrameOutput output(std::move(deps));
    output.onUpdate = [](const Color&, const std::vector<Color>&) {};
    output.onLine = [](const LiveLine& line, int) { benchmark::DoNotOptimize(line.image.constBits()); };
    output.onEdgeColors = [](const Color&, const Color&) {};
    const auto plan = livePlan();
    output.setLineConfig(plan.lineConfig);
    output.applySettings({12.0, true, true, false, false});
    // The pause-on-hover guard over the panel, as the sampler sets it: the pointer is read every frame.
    output.setGuardZones({Rect(0, 0, plan.sourceRect.width(), kLivePanelHeight)});
    const auto frames = liveFrames(plan);
    // On the output's own queue, as the app's frames are. Requests on the app's connection per frame, the
    // event thread's answers to the pointer's asks included (the numbers a no-op gets before and after, less
    // the second no-op).
    auto* c = in->session->desktop().get();
    unsigned requests = 0;
    std::chrono::steady_clock::duration spent{};
    std::promise<void> done;
    output.async([&](FrameOutput& o) {
        for (int i = 0; i < 6; ++i) o.receive(frames[i % 3]);
        std::size_t k = 0;
        const unsigned before = xcb_no_operation(c).sequence;
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) o.receive(frames[k++ % 3]);
        spent = std::chrono::steady_clock::now() - start;
        requests = xcb_no_operation(c).sequence - before - 1;
        done.set_value();
    });
    done.get_future().wait();
    state.counters["x_requests/frame"] =
        static_cast<double>(requests) / static_cast<double>(state.iterations());
    // Next to capturing and painting a frame (tens of microseconds) its analysis is negligible while it stays
    // within a microsecond; the copy beside it is shown for scale, not as a bound.
    state.counters["us_per_frame"] =
        std::chrono::duration<double, std::micro>(spent).count() / static_cast<double>(state.iterations());
    state.counters["goal_us_per_frame"] = 1;
    // The vector width in bits of the per-pixel loops this processor runs (0: the portable form).
    state.counters["vector_bits"] = wideLineKernels() ? 512 : vectorLineKernels() ? 256 : 0;
}
BENCHMARK(BM_AnalyseLiveFrame1920x6)->Unit(benchmark::kMicrosecond);

// What the analysis reads of each frame: the inner part of the row the line is taken from (the ends repeat
// its outermost pixels, read once), copied out of the same three frames in turn.
void BM_AnalyseLiveFrame1920x6_Baseline(benchmark::State& state) {
    const auto plan = livePlan();
    const auto& config = plan.lineConfig;
    const auto frames = liveFrames(plan);
    const std::size_t offset = static_cast<std::size_t>(config.edgeInsetPixels) * 4;
    std::vector<std::uint8_t> target(static_cast<std::size_t>(plan.width - 2 * config.edgeInsetPixels) * 4);
    std::size_t k = 0;
    for (auto _ : state) {
        std::memcpy(target.data(), frames[k++ % 3].row(config.lineRowY) + offset, target.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(target.size()));
}
BENCHMARK(BM_AnalyseLiveFrame1920x6_Baseline)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velaro
