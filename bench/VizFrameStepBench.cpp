// One visualizer frame step for a 1920-pt screen (640 bars) with 50 waves and every crossfade running,
// without GL, against copying the same instance, uniform and wave blocks (the least a frame must hand the
// GPU). Prints the step's share of a 16.7 ms frame (`frame_share_percent`, goal under 1 %) and the
// allocations per step (goal: none).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "BenchAllocations.h"
#include "music/VizFrameStep.h"

namespace {

using velaro::VizFrameStep;

constexpr double kDt = 1.0 / 60;

// Bands that move every frame, as music does.
std::vector<std::vector<float>> bandFrames() {
    std::vector<std::vector<float>> frames(16, std::vector<float>(velaro::kVizBandCount));
    for (std::size_t f = 0; f < frames.size(); ++f)
        for (int j = 0; j < velaro::kVizBandCount; ++j)
            frames[f][j] = float(0.2 + 0.2 * std::sin(0.3 * j + 0.7 * double(f)));
    return frames;
}

void BM_VizFrameStep(benchmark::State& state) {
    VizFrameStep step;
    step.layoutBars(1920, 2, 1, 3840);
    step.setBackingScale(2);
    step.setPalette({"#FF0000", "#FFFF00", "#00FF00", "#00FFFF", "#0000FF", "#FF00FF"});
    velaro::VizStepSettings settings;
    settings.waveCount = 50;
    const auto bands = bandFrames();
    for (int i = 0; i < 60; ++i) step.step(kDt, bands[i % 16], settings, 1, 3840, 160);

    // Targets flip every few frames, so the colour, style, ink and palette crossfades never settle.
    std::size_t i = 0;
    velaro::bench::AllocationCount allocations;
    for (auto _ : state) {
        const bool flip = i / 6 % 2 == 0;
        step.setBarsAreDark(flip);
        step.setStyle(!flip || i % 2 == 0);
        step.setColorMode(flip ? velaro::VizBarsColorMode::mono : velaro::VizBarsColorMode::rainbow);
        step.setWaveColorMode(flip ? velaro::VizWaveColorMode::palette : velaro::VizWaveColorMode::solid);
        benchmark::DoNotOptimize(step.step(kDt, bands[i % 16], settings, 1, 3840, 160));
        benchmark::DoNotOptimize(step.frame().uniforms);
        ++i;
    }
    state.counters["allocs/frame"] = allocations.perIteration(state);
    // Seconds per step over the 1/60 s of a frame, in percent: 1 / (iterations / time / 6000).
    state.counters["frame_share_percent"] = benchmark::Counter(
        1.0 / 6000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_VizFrameStep);

// Copying the blocks a frame hands the GPU: 640 bar instances, the uniform and the wave blocks.
void BM_VizFrameStep_Baseline(benchmark::State& state) {
    std::vector<velaro::VizBarInstance> instances(640), instanceCopy(640);
    velaro::VizUniforms uniforms{}, uniformCopy{};
    velaro::VizWaveParams waves{}, waveCopy{};
    float h = 0;
    for (auto _ : state) {
        instances[0].height = h += 1e-6f;
        std::memcpy(instanceCopy.data(), instances.data(), instances.size() * sizeof(velaro::VizBarInstance));
        std::memcpy(&uniformCopy, &uniforms, sizeof uniforms);
        std::memcpy(&waveCopy, &waves, sizeof waves);
        benchmark::DoNotOptimize(instanceCopy.data());
        benchmark::DoNotOptimize(&uniformCopy);
        benchmark::DoNotOptimize(&waveCopy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_VizFrameStep_Baseline);

}  // namespace
