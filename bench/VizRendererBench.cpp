// One visualizer frame at 1920 x 80 and 3840 x 160 px: bars on the direct path, bars with trail and glow, and
// 50 waves. BM_VizFrame draws on the path the app takes on this display: the OpenGL passes on a hardware
// renderer, the CPU renderer where OpenGL is itself drawn by the CPU (Mesa's llvmpipe, as in the test
// desktop); VELARO_VIZ_RENDERER=gl or =raster chooses, as it does for the app. Its `core_pct` is the share of
// a core the frames take at the path's rate (60 a second on the GPU, 30 on the CPU), with a goal at the
// window's size; its baseline is what any frame of the size costs (a clear on the GPU, a copy of the
// image's bytes on the CPU). BM_VizFrameGL is always the OpenGL passes (reported, no goal), against a clear
// of the same target, to the end of the GPU's work; `gl_objects_per_frame` counts the GL objects its frames
// made: none. Runs on the display of DISPLAY, else on the private test desktop, started before the
// application object so that it has OpenGL.
#include <benchmark/benchmark.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BenchDesktop.h"
#include "music/VizBarRenderer.h"
#include "music/VizBarWindow.h"
#include "music/VizRasterRenderer.h"

namespace {

using velaro::VizBarRenderer;

// Its contexts need the display as the application starts.
[[maybe_unused]] const bool kDesktopFirst = velaro::bench::startDesktopFirst();

enum Variant { directBars, barsTrailBloom, waves };

struct Target {
    int width, height;
    double scale;
};
constexpr Target kTargets[] = {{1920, 80, 1.0}, {3840, 160, 2.0}};

// A context, a framebuffer object of the target's size and a renderer with the default bar layout
// (2 pt bars, 2 pt gaps).
class Rig {
public:
    explicit Rig(const Target& t) : target_(t) {
        surface_.setFormat(VizBarRenderer::contextFormat());
        surface_.create();
        context_.setFormat(VizBarRenderer::contextFormat());
        if (!context_.create() || !context_.makeCurrent(&surface_)) return;
        fbo_ = std::make_unique<QOpenGLFramebufferObject>(t.width, t.height);
        const double points = t.width / t.scale;
        const int bars = int(points / 4);
        for (int i = 0; i < bars; ++i) layout_.push_back({float((1 + 4 * i) / points), float(2 / points)});
        renderer_ = VizBarRenderer::create(t.width, t.height, t.scale, layout_);
        heights_.resize(layout_.size());
        for (std::size_t i = 0; i < heights_.size(); ++i)
            heights_[i] = 0.4f * float(0.5 + 0.5 * std::sin(i * 0.37));
    }
    ~Rig() {
        if (!context_.isValid()) return;
        context_.makeCurrent(&surface_);
        renderer_.reset();
        fbo_.reset();
    }
    bool ready() const { return renderer_ != nullptr; }
    VizBarRenderer& renderer() { return *renderer_; }
    const std::vector<velaro::VizBarSlot>& layout() const { return layout_; }
    // The path the app takes with this context's renderer.
    bool rasterPath() const {
        if (const char* chosen = std::getenv("VELARO_VIZ_RENDERER")) {
            if (std::string_view(chosen) == "gl") return false;
            if (std::string_view(chosen) == "raster") return true;
        }
        const auto* name = reinterpret_cast<const char*>(context_.functions()->glGetString(GL_RENDERER));
        return !ready() || velaro::vizSoftwareRenderer(name ? name : "");
    }

    velaro::VizFrame frame(Variant variant) {
        uniforms_ = {};
        uniforms_.u0 = {1, float(target_.width), float(target_.height), 0};
        uniforms_.u1 = {1, 0, 300, 0.9f};
        uniforms_.u2 = {variant == waves ? 1.0f : 0.0f, float(target_.scale), 0.9f * std::sqrt(4.0f / 50),
                        0.75f};
        uniforms_.u3 = {1, 0, 300, 0.9f};
        uniforms_.u4 = {0, 8, 0.45f, 0};
        uniforms_.u5 = {50, 25, 0.4f, 0.3f};
        uniforms_.u6 = {1, 0, 1, 0};
        for (int i = 0; i < 16; ++i) uniforms_.env[i] = {30, 28, 26, 24};
        for (int k = 0; k < velaro::VIZ_MAX_WAVES; ++k) {
            waves_.wp[k] = {float(48 * target_.scale * (0.3 + 0.7 * std::abs(std::sin(k)))),
                            float(0.5 + 0.35 * std::sin(k * 2.39996)), 0.21f, float(k)};
            waves_.wp[k + velaro::VIZ_MAX_WAVES] = {2.0f, 1.0f, float(75 * (k % 4)), 0.3f * (k % 4)};
        }
        velaro::VizFrame f;
        f.heights = heights_;
        f.uniforms = &uniforms_;
        f.waves = &waves_;
        f.trail = variant == barsTrailBloom;
        f.bloomIntensity = variant == barsTrailBloom ? 0.8 : 0;
        return f;
    }
    void draw(const velaro::VizFrame& f) {
        renderer_->encode(f, {fbo_->handle(), target_.width, target_.height});
        context_.extraFunctions()->glFinish();
    }
    void clearOnly() {
        auto* gl = context_.extraFunctions();
        gl->glBindFramebuffer(GL_FRAMEBUFFER, fbo_->handle());
        gl->glViewport(0, 0, target_.width, target_.height);
        gl->glClearColor(0, 0, 0, 0);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        gl->glFinish();
    }

private:
    Target target_;
    QOffscreenSurface surface_;
    QOpenGLContext context_;
    std::unique_ptr<QOpenGLFramebufferObject> fbo_;
    std::unique_ptr<VizBarRenderer> renderer_;
    std::vector<velaro::VizBarSlot> layout_;
    std::vector<float> heights_;
    velaro::VizUniforms uniforms_{};
    velaro::VizWaveParams waves_{};
};

// False, with the reason given to the state, when there is no OpenGL 3.3 to draw with.
bool skippedWithoutGL(benchmark::State& state, const Rig& rig) {
    if (rig.ready()) return false;
    std::string why;
    const std::string message =
        velaro::bench::ensureDesktop(&why) ? "no OpenGL 3.3 context on the display" : "no display: " + why;
    state.SkipWithError(message.c_str());
    return true;
}

// Frames a second on each path, and the share of a core the frames of the window's size may take there.
constexpr double kGpuRate = 60, kRasterRate = 30;
constexpr double kGoalCorePct = 3;

void BM_VizFrame(benchmark::State& state) {
    const Target& target = kTargets[state.range(0)];
    Rig rig(target);
    if (!rig.rasterPath()) {
        if (skippedWithoutGL(state, rig)) return;
        rig.renderer().setBloomSigma(24);
        const auto frame = rig.frame(static_cast<Variant>(state.range(1)));
        rig.draw(frame);
        for (auto _ : state) rig.draw(frame);
    } else {
        velaro::VizRasterRenderer raster(target.width, target.height, target.scale, rig.layout());
        raster.setBloomSigma(24);
        auto frame = rig.frame(static_cast<Variant>(state.range(1)));
        frame.dt = 1 / kRasterRate;
        raster.encode(frame);
        for (auto _ : state) {
            raster.encode(frame);
            benchmark::DoNotOptimize(raster.image().constBits());
        }
    }
    const double rate = rig.rasterPath() ? kRasterRate : kGpuRate;
    state.counters["raster_path"] = rig.rasterPath();
    // Seconds a frame times frames a second, in %: the inverse of a rate counter of 1 / (rate x 100).
    state.counters["core_pct"] = benchmark::Counter(
        1 / (rate * 100), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    if (state.range(0) == 0) state.counters["goal_core_pct"] = kGoalCorePct;
}
BENCHMARK(BM_VizFrame)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What any frame of the size costs on the path: a clear of the target, or writing the image's bytes once.
void BM_VizFrame_Baseline(benchmark::State& state) {
    const Target& target = kTargets[state.range(0)];
    Rig rig(target);
    if (!rig.rasterPath()) {
        if (skippedWithoutGL(state, rig)) return;
        rig.clearOnly();
        for (auto _ : state) rig.clearOnly();
        return;
    }
    const std::vector<std::uint32_t> from(std::size_t(target.width) * target.height, 0x80402010u);
    std::vector<std::uint32_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size() * sizeof(std::uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_VizFrame_Baseline)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_VizFrameGL(benchmark::State& state) {
    Rig rig(kTargets[state.range(0)]);
    if (skippedWithoutGL(state, rig)) return;
    const auto variant = static_cast<Variant>(state.range(1));
    rig.renderer().setBloomSigma(24);
    const auto frame = rig.frame(variant);
    rig.draw(frame);  // programs and buffers warm
    const std::size_t objects = rig.renderer().glObjectsCreated();
    for (auto _ : state) rig.draw(frame);
    state.counters["gl_objects_per_frame"] =
        double(rig.renderer().glObjectsCreated() - objects) / double(state.iterations());
}
BENCHMARK(BM_VizFrameGL)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same target, only cleared: what any frame costs before the visualizer draws anything.
void BM_VizFrameGL_Baseline(benchmark::State& state) {
    Rig rig(kTargets[state.range(0)]);
    if (skippedWithoutGL(state, rig)) return;
    rig.clearOnly();
    for (auto _ : state) rig.clearOnly();
}
BENCHMARK(BM_VizFrameGL_Baseline)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
