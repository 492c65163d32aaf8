// Frame analysis and backdrop blur against a plain copy of the same bytes: what the per-frame work costs
// beyond touching the frame once. Also counts allocations per frame in the steady state (goal: none).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "BenchAllocations.h"
#include "base/QtMainLoop.h"
#include "sampling/BlurredBackdrop.h"
#include "sampling/FrameOutput.h"

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

}  // namespace
}  // namespace velaro
