// The visualizer controller: set-up of the display side, the tick, visibility and fades, and the frame.
#include "music/VizRenderController.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "music/MenuBarBackdrop.h"
#include "music/MusicProgressEngine.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "music/ProgressBarView.h"
#include "platform/DesktopAppearance.h"
#include "platform/OverlayWindowHost.h"
#include "platform/Screens.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

constexpr const char* kTag = "VIZ";
constexpr double kTickInterval = 0.25;
constexpr double kRebuildDebounce = 0.25;
constexpr double kFrozenBands = 1.0;    // seconds without a change that count as silence
constexpr double kSilenceToStop = 3.0;  // seconds of silence before the music counts as stopped
constexpr float kSilentMean = 0.0002f;
constexpr double kFadeInRate = 3.3333333;  // 0.3 s
constexpr double kFadeOutRate = -2.0;      // 0.5 s
constexpr double kFastFadeOutRate = -4.0;  // 0.25 s, with the menu bar gone
// Bands come about 47 times a second, frames 60: a frame that finds no new bands waits for the next one.
// Bands that stop coming for longer (silence, a paused capture) leave the bars to settle frame by frame.
constexpr double kBandsStall = 0.05;
// The raster path draws at most this often: the trail and the fades run on time, not on frames.
constexpr double kRasterFrameRate = 30;
constexpr double kGpuFrameRate = 60;

// A style the visualizer does not know (a profile may hold any string) draws bars.
VizStyle styleOf(const OverlaySettings& settings) {
    return fromString<VizStyle>(settings.vizStyle()).value_or(VizStyle::bars);
}

}  // namespace

VizRenderServices VizRenderServices::make(MainLoop& loop, OverlayWindowHost& host, const Screens& screens,
                                          MusicVisualizerAudioEngine& engine, ScreenSampler& sampler,
                                          const DesktopAppearance* appearance,
                                          MusicProgressEngine* nowPlaying) {
    // The engine hands out a copy; the reader keeps it, so the span stays valid until the next read.
    auto buffer = std::make_shared<VizBands>();
    return {
        .loop = loop,
        .host = host,
        .screens = screens,
        .bands = [&engine, buffer]() -> std::span<const float> {
            *buffer = engine.latestBands();
            return *buffer;
        },
        .bandsReadInterval = [&engine](double seconds) { engine.setBandsReadInterval(seconds); },
        .menuBar = MenuBarInkSources::make(sampler, appearance),
        .artworkColor = [nowPlaying]() -> std::optional<Color> {
            return nowPlaying ? nowPlaying->artworkColor() : std::nullopt;
        },
        .makeRenderer = {},
        .renderPath = vizRenderPathFor,
    };
}

VizRenderController::VizRenderController(VizRenderServices services, OverlaySettings& settings)
    : services_(std::move(services)), settings_(settings), lightness_(services_.menuBar) {
    if (!services_.makeRenderer)
        services_.makeRenderer = [](OverlayWindow& window, const std::vector<VizBarSlot>& bars) {
            return std::unique_ptr<VizRenderer>(VizWindowRenderer::create(window, bars));
        };
    start();
    MainLoop& loop = services_.loop;
    // Changes only: each stream's current value is dropped before the merge, so that creation is not
    // followed by a rebuild of its own a quarter of a second later.
    auto toTick = [](const auto&) { return 0; };
    subscriptions_.push_back(
        merge(settings_.vizBarThickness.changes().map(toTick), settings_.vizBarGap.changes().map(toTick))
            .debounce(loop, kRebuildDebounce)
            .sink([this](int) { start(); }));
    subscriptions_.push_back(
        settings_.vizBloomRadius.changes().debounce(loop, kRebuildDebounce).sink([this](double r) {
            if (renderer_) renderer_->setBloomSigma(r);
        }));
    subscriptions_.push_back(services_.screens.parametersChanged().sink([this](int) { start(); }));
    // The desktop turning light or dark shows at once, not at the next tick.
    if (const DesktopAppearance* appearance = lightness_.appearance())
        subscriptions_.push_back(appearance->colorScheme().changes().receiveOn(loop).sink(
            [this](ColorSchemePreference) { updateInk(); }));
    tickTimer_ = loop.every(kTickInterval, [this] { tick(); });
}

VizRenderController::~VizRenderController() {
    lifetime_.end();
    stop();
}

void VizRenderController::start() {
    if (stopped_) return;
    displayLink_.reset();
    if (window_) window_->orderOut();
    renderer_.reset();
    window_.reset();

    const auto screen = services_.screens.mainScreen();
    if (!screen) return;
    const auto surfaceKind = [this] {
        return path_ == VizRenderPath::raster ? OverlaySurfaceKind::painted : OverlaySurfaceKind::gl;
    };
    window_ = makeVizBarWindow(services_.host, services_.screens, &unavailable_, surfaceKind());
    if (window_ && !path_) {
        // The GL window tells which path this display takes; on the raster path it goes unshown.
        path_ = services_.renderPath ? services_.renderPath(*window_) : VizRenderPath::gpu;
        if (path_ == VizRenderPath::raster)
            window_ = makeVizBarWindow(services_.host, services_.screens, &unavailable_, surfaceKind());
    }
    if (!window_) {
        if (unavailable_ == VizWindowUnavailable::noTranslucency && !saidWhy_) {
            // An ARGB GL surface without a compositor is an opaque black band.
            qCInfo(lcVisualizer) << tagged(kTag,
                                           "no compositor runs: the visualizer stays dark until one does");
            saidWhy_ = true;
        }
        return;
    }
    const double scale = screen->backingScale > 0 ? screen->backingScale : 1.0;
    const double width = window_->frame().width();
    const auto& bars = step_.layoutBars(width, settings_.vizBarThickness(), settings_.vizBarGap(),
                                        static_cast<int>(std::floor(width * scale)));
    if (path_ == VizRenderPath::raster)
        renderer_ = std::make_unique<VizRasterWindowRenderer>(*window_, bars, scale);
    else
        renderer_ = services_.makeRenderer(*window_, bars);
    if (!renderer_) {
        if (!saidWhy_) qCInfo(lcVisualizer) << tagged(kTag, "no GPU renderer: the visualizer stays dark");
        saidWhy_ = true;
        window_.reset();
        return;
    }
    saidWhy_ = false;
    renderer_->setBloomSigma(settings_.vizBloomRadius());
    displayLink_ = services_.loop.makeDisplayLink([this](double timestamp) { frame(timestamp); });
    const double frameRate = path_ == VizRenderPath::raster ? kRasterFrameRate : kGpuFrameRate;
    if (path_ == VizRenderPath::raster)
        displayLink_->setPreferredFrameRateRange(kRasterFrameRate / 2, kRasterFrameRate, kRasterFrameRate);
    else
        displayLink_->setPreferredFrameRateRange(30, 120, kGpuFrameRate);
    // Band sets the frames would never draw are not worth analysing.
    if (services_.bandsReadInterval) services_.bandsReadInterval(1 / frameRate);
    lastFrameTime_.reset();
    lastCallback_.reset();
    alpha_ = 0;
    targetVisible_ = false;
    backingScale_ = scale;
    step_.setBackingScale(scale);
    styleActive_ = styleOf(settings_);
    step_.showStyleNow(styleActive_ == VizStyle::waves);
}

void VizRenderController::stop() {
    stopped_ = true;
    displayLink_.reset();
    tickTimer_.cancel();
    subscriptions_.clear();
    if (window_) window_->orderOut();
    renderer_.reset();
    window_.reset();
}

void VizRenderController::setOverviewActive(bool active) {
    if (active == overviewActive_) return;
    overviewActive_ = active;
    if (active && alpha_ > 0 && !targetVisible_) hideForOverview();
    updateVisibility();
}

void VizRenderController::tick() {
    const double now = services_.loop.uptime();
    const std::span<const float> bands = services_.bands ? services_.bands() : std::span<const float>();
    const std::size_t n = std::min(bands.size(), lastSnapshot_.size());
    if (bands.size() != lastSnapshotSize_ ||
        !std::equal(bands.begin(), bands.begin() + n, lastSnapshot_.begin())) {
        std::copy_n(bands.begin(), n, lastSnapshot_.begin());
        lastSnapshotSize_ = bands.size();
        lastSnapshotChange_ = now;
    }
    double sum = 0;
    for (float v : bands) sum += std::isfinite(v) ? v : 0.0f;
    const bool silent = now - lastSnapshotChange_ > kFrozenBands || bands.empty() ||
                        sum / double(bands.size()) <= kSilentMean;
    if (silent) {
        silenceAccum_ += kTickInterval;
        if (silenceAccum_ >= kSilenceToStop) musicActive_ = false;
    } else {
        musicActive_ = true;
        silenceAccum_ = 0;
    }
    if (const auto screen = services_.screens.mainScreen())
        menuBarVisible_ = screen->visibleFrame.maxY() < screen->frame.maxY() - 1;

    // A compositor that appeared since brings the window it was missing.
    if (!window_ && unavailable_ == VizWindowUnavailable::noTranslucency &&
        services_.host.supportsTranslucency())
        start();

    updateVisibility();
    keepAbove();
    updateInk();
    takeSettings();
}

void VizRenderController::takeSettings() {
    if (const VizStyle style = styleOf(settings_); style != styleActive_) {
        styleActive_ = style;
        step_.setStyle(styleActive_ == VizStyle::waves);
        if (renderer_) renderer_->setNeedsTrailClear();
    }
    // So does a colour mode it does not know draw a rainbow, the palette among the bars' modes.
    const auto barsMode =
        fromString<VizBarsColorMode>(settings_.vizColorMode()).value_or(VizBarsColorMode::rainbow);
    step_.setColorMode(barsMode);
    const std::optional<Color> artwork = services_.artworkColor ? services_.artworkColor() : std::nullopt;
    if (barsMode == VizBarsColorMode::solid || barsMode == VizBarsColorMode::artwork)
        step_.setSolidColor(barsMode == VizBarsColorMode::artwork && artwork ? *artwork
                                                                             : settings_.vizSolidColor());
    const auto wavesMode =
        fromString<VizWaveColorMode>(settings_.vizWaveColorMode()).value_or(VizWaveColorMode::rainbow);
    step_.setWaveColorMode(wavesMode);
    if (wavesMode == VizWaveColorMode::solid || wavesMode == VizWaveColorMode::artwork)
        step_.setWaveSolidColor(
            wavesMode == VizWaveColorMode::artwork && artwork ? *artwork : settings_.vizWaveSolidColor());
    step_.setPalette(settings_.vizPalette());
    step_.setTrailActive(settings_.vizTrailEnabled());
    step_.setBloomActive(settings_.vizBloomEnabled());
}

void VizRenderController::updateVisibility() {
    if (musicActive_ && menuBarVisible_) {
        const bool wanted = !overviewActive_;
        if (wanted == targetVisible_) return;
        targetVisible_ = wanted;
        if (!wanted) {
            hideForOverview();
            return;
        }
        fadeRate_ = kFadeInRate;
        if (renderer_) renderer_->setNeedsTrailClear();
        if (window_) window_->orderFrontRegardless();
        if (displayLink_) displayLink_->start();
        return;
    }
    if (!targetVisible_) return;
    targetVisible_ = false;
    if (overviewActive_) {
        hideForOverview();
        return;
    }
    fadeRate_ = menuBarVisible_ ? kFadeOutRate : kFastFadeOutRate;
    if (displayLink_) displayLink_->start();  // the fade runs; its last frame orders the window out
}

void VizRenderController::hideForOverview() {
    alpha_ = 0;
    fadeRate_ = 0;
    lastFrameTime_.reset();
    lastCallback_.reset();
    if (window_) window_->orderOut();
    if (displayLink_) displayLink_->stop();
}

void VizRenderController::keepAbove() {
    if (!window_ || !targetVisible_ || alpha_ <= 0) return;
    // Above the app's other windows of its level; the progress bar may stay in front of it.
    for (OverlayWindow* other : services_.host.orderedWindows()) {
        if (other == window_.get()) return;
        if (other->isVisible() && other->name() != kProgressBarWindowName &&
            other->level() == window_->level()) {
            window_->orderFrontRegardless();
            return;
        }
    }
}

void VizRenderController::updateInk() {
    // Dark ink on a light menu bar.
    step_.setBarsAreDark(lightness_.update());
}

VizStepSettings VizRenderController::stepSettings() const {
    return {
        .hueSpeed = settings_.vizHueSpeed(),
        .waveHueSpeed = settings_.vizWaveHueSpeed(),
        .waveCount = settings_.vizWaveCount(),
        .wavePeaks = settings_.vizWavePeaks(),
        .waveEdgeSoftness = settings_.vizWaveEdgeSoftness(),
        .waveOpacity = settings_.vizWaveOpacity(),
        .waveSpectrum = settings_.vizWaveSpectrum(),
        .opacity = settings_.vizOpacity(),
        .bloomIntensity = settings_.vizBloomIntensity(),
        .trailLength = settings_.vizTrailLength(),
    };
}

bool VizRenderController::frameWouldRepeat(double timestamp, double alpha,
                                           std::span<const float> bands) const {
    if (!lastFrameTime_ || alpha != alpha_ || bands.size() != drawnBandCount_ ||
        !std::equal(bands.begin(), bands.end(), drawnBands_.begin()))
        return false;
    return timestamp - *lastFrameTime_ < kBandsStall || step_.atRest();
}

void VizRenderController::frame(double timestamp) {
    // The fade runs on every display frame, drawn or not, so that it starts when it was decided.
    const double sinceCallback = lastCallback_ ? timestamp - *lastCallback_ : 1.0 / 60.0;
    lastCallback_ = timestamp;
    const double alpha = std::clamp(alpha_ + sinceCallback * fadeRate_, 0.0, 1.0);
    if (!targetVisible_ && alpha <= 0) {
        alpha_ = 0;
        if (window_) window_->orderOut();
        if (displayLink_) displayLink_->stop();
        lastFrameTime_.reset();
        lastCallback_.reset();
        return;
    }
    const std::span<const float> bands = services_.bands ? services_.bands() : std::span<const float>();
    if (frameWouldRepeat(timestamp, alpha, bands)) {
        // Left out: the next frame that draws takes this one's time along.
        return;
    }
    const double dt = lastFrameTime_ ? timestamp - *lastFrameTime_ : 1.0 / 60.0;
    lastFrameTime_ = timestamp;
    alpha_ = alpha;
    drawnBandCount_ = std::min(bands.size(), drawnBands_.size());
    std::copy_n(bands.begin(), drawnBandCount_, drawnBands_.begin());
    if (targetVisible_ && alpha_ >= 1) fadeRate_ = 0;
    if (renderer_ && !renderer_->isUsable()) {
        // Its context or window went (a GPU reset, a compositor that left): build anew, outside this frame.
        services_.loop.post(lifetime_.guard([this] { start(); }));
        if (displayLink_) displayLink_->stop();
        return;
    }
    double width = 0, height = 0;
    if (path_ == VizRenderPath::raster && window_) {
        width = std::lround(window_->frame().width() * backingScale_);
        height = std::lround(window_->frame().height() * backingScale_);
    } else if (const OverlayGLSurface* surface = window_ ? window_->glSurface() : nullptr) {
        width = surface->pixelWidth();
        height = surface->pixelHeight();
    }
    if (step_.step(dt, bands, stepSettings(), alpha_, width, height) && renderer_)
        renderer_->encodeFrame(step_.frame());
}

}  // namespace velaro
