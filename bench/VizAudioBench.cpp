// The visualizer's audio path: one hop of band analysis against the bare real FFT it is built on (goal
// 2x at most), and one capture block's ingest against a plain copy of its bytes (goal 3x at most). Both
// count allocations per iteration (goal: none).
#include <benchmark/benchmark.h>

#include <kiss_fftr.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "BenchAllocations.h"
#include "base/QtMainLoop.h"
#include "music/VizAudioCore.h"

namespace velaro {
namespace {

// Runs queued blocks at once on the caller's thread, so the benchmark drives the core without a worker; the
// drain timer is never started here.
class InlineQueue final : public SerialQueue {
public:
    const std::string& label() const override { return label_; }
    void async(std::function<void()> block) override { block(); }
    void asyncAfter(double, std::function<void()>) override {}

private:
    std::string label_ = "viz.audio.fft";
};

std::vector<float> sine(std::size_t samples, int stride) {
    std::vector<float> out(samples);
    for (std::size_t i = 0; i < samples; ++i)
        out[i] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * double(i / stride) / 48000));
    return out;
}

AudioBlock blockOf(const std::vector<float>& samples) {
    AudioBlock block;
    block.bufferCount = 1;
    block.buffers[0] = {samples.data(), samples.size() * sizeof(float)};
    return block;
}

// One hop through the core: a 1024-sample mono block into the ring, then the drain that slides the window
// and analyses it (window, FFT, magnitudes, 64 band means, publish).
void BM_BandAnalysis(benchmark::State& state) {
    QtMainLoop clock;
    VizAudioCore core(std::make_unique<InlineQueue>(), clock);
    core.configure({48000, 1, true});
    const auto hop = sine(VizAudioCore::hopSize, 1);
    for (int i = 0; i < 4; ++i) {
        core.ingest(blockOf(hop));
        core.drain();
    }
    long published = 0;
    core.onBands = [&](const VizBands&) { ++published; };
    bench::AllocationCount allocations;
    for (auto _ : state) {
        core.ingest(blockOf(hop));
        core.drain();
    }
    state.counters["allocs/hop"] = allocations.perIteration(state);
    state.counters["published/hop"] = double(published) / double(state.iterations());
}
BENCHMARK(BM_BandAnalysis)->Unit(benchmark::kMicrosecond);

void BM_BandAnalysis_Baseline(benchmark::State& state) {
    kiss_fftr_cfg fft = kiss_fftr_alloc(VizAudioCore::fftSize, 0, nullptr, nullptr);
    const auto window = sine(VizAudioCore::fftSize, 1);
    std::vector<kiss_fft_cpx> bins(VizAudioCore::fftSize / 2 + 1);
    for (auto _ : state) {
        kiss_fftr(fft, window.data(), bins.data());
        benchmark::DoNotOptimize(bins.data());
        benchmark::ClobberMemory();
    }
    kiss_fftr_free(fft);
}
BENCHMARK(BM_BandAnalysis_Baseline)->Unit(benchmark::kMicrosecond);

// One iteration is a ring's worth of 1024-frame interleaved stereo blocks (32) mixed into the ring; the ring
// is emptied, untimed, between iterations.
constexpr int kBlocksPerIteration = static_cast<int>(VizAudioCore::ringCapacity / 1024);

void BM_Ingest(benchmark::State& state) {
    QtMainLoop clock;
    VizAudioCore core(std::make_unique<InlineQueue>(), clock);
    core.configure({48000, 2, true});
    const auto samples = sine(2 * 1024, 2);
    const AudioBlock block = blockOf(samples);
    core.drain();  // the audit's first summary, before counting
    bench::AllocationCount allocations;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kBlocksPerIteration; ++i) core.ingest(block);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        core.drain();
    }
    state.counters["allocs/block"] = allocations.perIteration(state) / kBlocksPerIteration;
    state.counters["dropped"] = double(core.droppedCallbacks());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlocksPerIteration * 2 * 1024 *
                            4);
}
BENCHMARK(BM_Ingest)->UseManualTime();

void BM_Ingest_Baseline(benchmark::State& state) {
    const auto samples = sine(2 * 1024, 2);
    std::vector<float> copy(samples.size());
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kBlocksPerIteration; ++i) {
            std::memcpy(copy.data(), samples.data(), samples.size() * sizeof(float));
            benchmark::DoNotOptimize(copy.data());
            benchmark::ClobberMemory();
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlocksPerIteration * 2 * 1024 *
                            4);
}
BENCHMARK(BM_Ingest_Baseline)->UseManualTime();

}  // namespace
}  // namespace velaro
