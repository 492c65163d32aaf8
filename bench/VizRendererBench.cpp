// One visualizer frame at 1920 x 80 and 3840 x 160 px: bars on the direct path, bars with trail and glow,
// 50 waves, and the look a user gets without touching a setting (rainbow bars 2 pt wide 1 pt apart, or four
// palette waves, each with the trail and the 24 pt glow), made frame by frame by the app's frame step from
// music-like bands. BM_VizFrame draws on the path the app takes on this display: the OpenGL passes on a
// hardware renderer, the CPU renderer where OpenGL is itself drawn by the CPU (Mesa's llvmpipe, as in the
// test desktop); VELARO_VIZ_RENDERER=gl or =raster chooses, as it does for the app. Its `core_pct` is the
// share of a core the frames take at the path's rate (60 a second on the GPU, 30 on the CPU), from the
// thread's own CPU time so that a busy machine does not inflate it, with a goal for the default looks at the
// window's size; its baseline is what any frame of the size costs (a clear on the GPU, a copy of the image's
// bytes on the CPU). BM_VizFrameGL is always the OpenGL passes (reported, no goal), against a clear
// of the same target, to the end of the GPU's work; `gl_objects_per_frame` counts the GL objects its frames
// made: none. Runs on the display of DISPLAY, else on the private test desktop, started before the
// application object so that it has OpenGL.
#include <benchmark/benchmark.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BenchDesktop.h"
#include "music/VizBarRenderer.h"
#include "music/VizBarWindow.h"
#include "music/VizFrameStep.h"
#include "music/VizRasterRenderer.h"
#include "settings/SettingsKeys.h"

namespace {

using velaro::VizBarRenderer;

// Its contexts need the display as the application starts.
[[maybe_unused]] const bool kDesktopFirst = velaro::bench::startDesktopFirst();

enum Variant { directBars, barsTrailBloom, waves, defaultBars, defaultWaves };

bool defaultLook(Variant v) {
    return v == defaultBars || v == defaultWaves;
}

struct Target {
    int width, height;
    double scale;
};
constexpr Target kTargets[] = {{1920, 80, 1.0}, {3840, 160, 2.0}};

// The frames of the default look: the frame step with the default settings over bands that move like music
// (a hump wandering over the spectrum, a beat in the bass), one step of the path's frame time each.
class DefaultLook {
public:
    DefaultLook(const Target& t, bool waves) : target_(t) {
        layout_ = step_.layoutBars(t.width / t.scale, 2, 1, t.width);
        step_.setBackingScale(t.scale);
        step_.setColorMode(velaro::VizBarsColorMode::rainbow);
        step_.setWaveColorMode(velaro::VizWaveColorMode::palette);
        step_.setPalette(velaro::vizDefaultPalette());
        step_.showStyleNow(waves);
        for (int i = 0; i < kBandSets; ++i) {
            auto& b = bands_[i];
            for (int k = 0; k < velaro::kVizBandCount; ++k) {
                const double hump = std::exp(-std::pow((k - 20 - 14 * std::sin(i * 0.21)) / 9.0, 2));
                b[k] = float(40 * hump + (k < 8 && i % 8 < 2 ? 60 : 5) + 8 * std::sin(k * 1.7 + i));
            }
        }
    }
    const std::vector<velaro::VizBarSlot>& layout() const { return layout_; }
    const velaro::VizFrame& next(double dt) {
        const auto& b = bands_[next_++ % kBandSets];
        step_.step(dt, b, {}, 1, target_.width, target_.height);
        return step_.frame();
    }

private:
    static constexpr int kBandSets = 64;
    Target target_;
    velaro::VizFrameStep step_;
    std::vector<velaro::VizBarSlot> layout_;
    std::array<std::array<float, velaro::kVizBandCount>, kBandSets> bands_{};
    int next_ = 0;
};

// A context, a framebuffer object of the target's size and a renderer with a bar layout: 2 pt bars with
// 2 pt gaps, or the default look's.
class Rig {
public:
    explicit Rig(const Target& t, const DefaultLook* look = nullptr) : target_(t) {
        // Laid out first: the CPU path draws them without any OpenGL.
        const double points = t.width / t.scale;
        const int bars = int(points / 4);
        if (look)
            layout_ = look->layout();
        else
            for (int i = 0; i < bars; ++i)
                layout_.push_back({float((1 + 4 * i) / points), float(2 / points)});
        heights_.resize(layout_.size());
        for (std::size_t i = 0; i < heights_.size(); ++i)
            heights_[i] = 0.4f * float(0.5 + 0.5 * std::sin(i * 0.37));
        surface_.setFormat(VizBarRenderer::contextFormat());
        surface_.create();
        context_.setFormat(VizBarRenderer::contextFormat());
        if (!context_.create() || !context_.makeCurrent(&surface_)) return;
        fbo_ = std::make_unique<QOpenGLFramebufferObject>(t.width, t.height);
        renderer_ = VizBarRenderer::create(t.width, t.height, t.scale, layout_);
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

// Times each iteration by what it costs: the thread's own CPU time on the CPU path, which a busy machine
// does not inflate, and the wall clock to the end of the GPU's work on the GPU path.
class IterationClock {
public:
    explicit IterationClock(bool cpu) : cpu_(cpu) {}
    void start() { start_ = now(); }
    void stop(benchmark::State& state) { state.SetIterationTime(now() - start_); }

private:
    double now() const {
        timespec ts{};
        clock_gettime(cpu_ ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
    bool cpu_;
    double start_ = 0;
};

// Frames a second on each path, and the share of a core the frames of the window's size may take there.
constexpr double kGpuRate = 60, kRasterRate = 30;
constexpr double kGoalCorePct = 3;

void BM_VizFrame(benchmark::State& state) {
    const Target& target = kTargets[state.range(0)];
    const auto variant = static_cast<Variant>(state.range(1));
    std::optional<DefaultLook> look;
    if (defaultLook(variant)) look.emplace(target, variant == defaultWaves);
    Rig rig(target, look ? &*look : nullptr);
    const bool raster = rig.rasterPath();
    const double rate = raster ? kRasterRate : kGpuRate;
    // The fixed variants draw one frame over and over; the default looks step on, as the app does.
    auto fixed = rig.frame(defaultLook(variant) ? directBars : variant);
    fixed.dt = 1 / rate;
    auto frame = [&]() -> const velaro::VizFrame& { return look ? look->next(1 / rate) : fixed; };
    IterationClock clock(raster);
    if (!raster) {
        if (skippedWithoutGL(state, rig)) return;
        rig.renderer().setBloomSigma(24);
        rig.draw(frame());
        for (auto _ : state) {
            clock.start();
            rig.draw(frame());
            clock.stop(state);
        }
    } else {
        velaro::VizRasterRenderer renderer(target.width, target.height, target.scale, rig.layout());
        renderer.setBloomSigma(24);
        // The trail and the glow under way before the frames count.
        for (int i = 0; i < 30; ++i) renderer.encode(frame());
        for (auto _ : state) {
            clock.start();
            renderer.encode(frame());
            benchmark::DoNotOptimize(renderer.image().constBits());
            clock.stop(state);
        }
        state.counters["painted_rows"] = renderer.paintedRows();
    }
    state.counters["raster_path"] = raster;
    // Seconds a frame times frames a second, in %: the inverse of a rate counter of 1 / (rate x 100), over
    // the iterations' own times.
    state.counters["core_pct"] = benchmark::Counter(
        1 / (rate * 100), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    if (state.range(0) == 0 && defaultLook(variant)) state.counters["goal_core_pct"] = kGoalCorePct;
}
BENCHMARK(BM_VizFrame)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves, defaultBars, defaultWaves}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// What any frame of the size costs on the path: a clear of the target, or writing the image's bytes once.
void BM_VizFrame_Baseline(benchmark::State& state) {
    const Target& target = kTargets[state.range(0)];
    Rig rig(target);
    IterationClock clock(rig.rasterPath());
    if (!rig.rasterPath()) {
        if (skippedWithoutGL(state, rig)) return;
        rig.clearOnly();
        for (auto _ : state) {
            clock.start();
            rig.clearOnly();
            clock.stop(state);
        }
        return;
    }
    const std::vector<std::uint32_t> from(std::size_t(target.width) * target.height, 0x80402010u);
    std::vector<std::uint32_t> to(from.size());
    for (auto _ : state) {
        clock.start();
        std::memcpy(to.data(), from.data(), to.size() * sizeof(std::uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        clock.stop(state);
    }
}
BENCHMARK(BM_VizFrame_Baseline)
    ->ArgsProduct({{0, 1}, {directBars, barsTrailBloom, waves, defaultBars, defaultWaves}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

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
