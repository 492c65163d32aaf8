// The capture streams of the sampler: which screens capture, the reconcile pass over the contexts, starting
// and stopping a stream with its configuration and filter, the restart throttle and the idle teardown.
#include "sampling/CaptureStreams.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/Log.h"
#include "platform/WindowList.h"
#include "platform/Workspace.h"
#include "sampling/SamplerState.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// Strip heights in points below the capture height: the sampled strip, and the taller band the beam reads.
constexpr double kStripHeight = 6;
constexpr double kReflectionStripHeight = 36;
constexpr int kStillFramesPerSecond = 15;
constexpr int kQueueDepth = 4;
// A failed start is tried again no sooner than this after it began.
constexpr double kRestartThrottleSeconds = 1.5;
// With no filled window, capture stays wanted this long after the last one was seen.
constexpr double kFilledGraceSeconds = 60;

// Whole pixels toward zero (or down, for `floorPixels`), 0 for anything that is not a positive number, so
// that bad geometry never turns into an out-of-range conversion.
int truncPixels(double v) {
    if (!(v > 0)) return 0;
    return v >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(v);
}
int floorPixels(double v) {
    return truncPixels(std::floor(v));
}
double finiteOrZero(double v) {
    return std::isfinite(v) ? v : 0;
}

}  // namespace

StreamContext::StreamContext(std::shared_ptr<FrameOutput> output) : frameOutput(std::move(output)) {}

void FrameResultBatch::add(std::function<void()> block) {
    if (!inFrame_) {
        loop_.post(std::move(block));
        return;
    }
    pending_.push_back(std::move(block));
}

void FrameResultBatch::runFrame(const std::function<void()>& analyse) {
    inFrame_ = true;
    analyse();
    inFrame_ = false;
    if (pending_.empty()) return;
    if (pending_.size() == 1) {
        loop_.post(std::move(pending_.front()));
        pending_.clear();
        return;
    }
    loop_.post([blocks = std::exchange(pending_, {})] {
        for (const auto& block : blocks) block();
    });
}

StreamConfiguration StreamPlan::configuration() const {
    StreamConfiguration c;
    c.sourceRect = sourceRect;
    c.width = width;
    c.height = height;
    c.minimumFrameInterval = 1.0 / framesPerSecond;
    c.queueDepth = kQueueDepth;
    return c;
}

int streamFramesPerSecond(bool liveCaptureEnabled, int liveCaptureFPS) {
    if (!liveCaptureEnabled) return kStillFramesPerSecond;
    return std::max(1, liveCaptureFPS);
}

StreamPlan planStream(const StreamPlanInput& in) {
    StreamPlan plan;
    const double W = finiteOrZero(in.displayWidth), H = finiteOrZero(in.displayHeight);
    const double c = finiteOrZero(in.geometry.captureHeight);
    const TopBlurGeometry blur{finiteOrZero(in.geometry.topBlur.overlayHeight),
                               finiteOrZero(in.geometry.topBlur.leftCornerRadius),
                               finiteOrZero(in.geometry.topBlur.rightCornerRadius)};

    Rect source;
    if (in.blurCaptureEnabled) {
        double h = std::max(blur.overlayHeight + std::max(blur.leftCornerRadius, blur.rightCornerRadius),
                            c + kStripHeight);
        if (in.lightReflectionsEnabled) h = std::max(h, c + kReflectionStripHeight);
        source = Rect{0, 0, W, h};
    } else {
        source = Rect{0, c, W, in.lightReflectionsEnabled ? kReflectionStripHeight : kStripHeight};
    }
    // Integral outward, as the capture service works in whole points, then cut to the display.
    const double x0 = std::floor(source.minX()), y0 = std::floor(source.minY());
    source = Rect{x0, y0, std::ceil(source.maxX()) - x0, std::ceil(source.maxY()) - y0};
    plan.sourceRect = source.intersection(Rect{0, 0, W, H});

    const double s = in.liveCaptureEnabled && in.backingScale > 0 ? in.backingScale : 1.0;
    const double r = finiteOrZero(in.cornerRadius);
    plan.width = std::max(1, truncPixels(plan.sourceRect.width() * s));
    plan.height = std::max(1, truncPixels(plan.sourceRect.height() * s));
    plan.framesPerSecond = streamFramesPerSecond(in.liveCaptureEnabled, in.liveCaptureFPS);

    FrameOutput::LineConfig& lc = plan.lineConfig;
    lc.edgeInsetPixels = truncPixels((r + 8) * s);
    lc.imagePointWidth = plan.sourceRect.width();
    lc.publishesImage = in.liveCaptureEnabled;
    lc.lineRowY = floorPixels(s * (in.blurCaptureEnabled ? c + 3 : 3));
    if (in.blurCaptureEnabled) {
        UnifiedBlur u;
        u.overlayHeightPixels = truncPixels(blur.overlayHeight * s);
        u.leftRadiusPixels = truncPixels(blur.leftCornerRadius * s);
        u.rightRadiusPixels = truncPixels(blur.rightCornerRadius * s);
        u.overlayPointSize = Size{plan.sourceRect.width(), blur.overlayHeight};
        u.leftPointSize = Size{blur.leftCornerRadius, blur.leftCornerRadius};
        u.rightPointSize = Size{blur.rightCornerRadius, blur.rightCornerRadius};
        lc.unifiedBlur = u;
    }
    lc.lightReflections = in.lightReflectionsEnabled;
    lc.lightRowY = floorPixels(s * (c + 21 - plan.sourceRect.minY()));
    lc.lightBandHeightPx = std::max(1, truncPixels(s * 30));
    lc.scale = s;
    lc.displayWidthPoints = W;
    lc.displayOrigin = in.displayOrigin;
    lc.beamActivationMinY = c + 6;
    lc.beamActivationMaxY = c + 56;
    lc.smoothingAlpha = 1 - std::pow(0.7, 30.0 / plan.framesPerSecond);
    return plan;
}

std::vector<Rect> menuBarGuardZones(const std::vector<ScreenInfo>& screens, double statusBarThickness) {
    std::vector<Rect> zones;
    if (screens.empty()) return zones;
    const double top = screens.front().frame.maxY();
    for (const auto& s : screens)
        zones.push_back(Rect{s.frame.minX(), top - s.frame.maxY(), s.frame.width(),
                             menuBarHeight(s, statusBarThickness) + 4});
    return zones;
}

ContentFilterChoice makeContentFilter(const ShareableContent& content, const CaptureDisplay& display,
                                      const std::optional<std::string>& ownAppId, std::int64_t ownProcessID,
                                      const std::set<std::string>& sampleStop) {
    ContentFilterChoice choice;
    std::vector<CaptureApplication> excluded;
    for (const auto& app : content.applications) {
        if (sampleStop.contains(app.appId)) {
            excluded.push_back(app);
            choice.appliedSampleStop.insert(app.appId);
        }
    }
    std::optional<CaptureApplication> own;
    if (ownAppId) {
        for (const auto& app : content.applications) {
            if (app.appId == *ownAppId) {
                own = app;
                break;
            }
        }
        // Before our first window shows we are not in the content, yet the overlay windows that show later
        // must still be left out, or the bar would sample its own tint. Our process is known either way.
        if (!own && ownProcessID > 0) own = CaptureApplication{ownProcessID, *ownAppId, {}};
    }
    if (own) {
        std::vector<CaptureApplication> apps{*own};
        apps.insert(apps.end(), excluded.begin(), excluded.end());
        choice.filter = ContentFilter::displayExcludingApplications(display, std::move(apps));
    } else {
        std::vector<CaptureWindow> ownWindows;
        for (const auto& w : content.windows) {
            const bool ours = ownAppId ? (w.owningApplication && w.owningApplication->appId == *ownAppId)
                                       : !w.owningApplication;
            if (ours) ownWindows.push_back(w);
        }
        choice.filter = ContentFilter::displayExcludingWindows(display, std::move(ownWindows));
        // Left out as applications too, so the colour still comes from beneath them.
        choice.filter.excludedApplications = std::move(excluded);
    }
    choice.filter.includeMenuBar = false;
    return choice;
}

// ---- the sampler's stream operations ----

bool ScreenSampler::shouldCapture() const {
    if (!state_->streams.masterEnabled || screensAsleep() || !state_->streams.captureDemand ||
        !state_->streams.enabled)
        return false;
    if (isFilledWindowActive() || state_->filled.pending.value_or(false)) return true;
    return loop().uptime() - state_->filled.lastActivity < kFilledGraceSeconds;
}

bool ScreenSampler::wantsCapture(const ScreenID& screen) const {
    if (!shouldCapture()) return false;
    if (!state_->streams.contexts.contains(screen)) return false;
    const auto& stopped = captureStopScreens();
    for (const auto& [id, context] : state_->streams.contexts) {
        if (!context->feedsSingular) continue;
        // While the screen that feeds the primary values is stopped, no screen captures.
        if (stopped.contains(id)) return false;
        break;
    }
    return !stopped.contains(screen);
}

bool ScreenSampler::isCurrent(const ScreenID& screen, const std::shared_ptr<StreamContext>& context) const {
    if (!context || context->retired) return false;
    auto it = state_->streams.contexts.find(screen);
    return it != state_->streams.contexts.end() && it->second == context;
}

void ScreenSampler::reconcilePass() {
    ++state_->streams.reconcilePassesTotal;
    const std::vector<ScreenInfo> L = services_.topology.screenDescriptions();
    const auto inList = [&L](const ScreenID& id) {
        return std::any_of(L.begin(), L.end(), [&id](const ScreenInfo& s) { return s.id == id; });
    };

    for (auto it = state_->streams.contexts.begin(); it != state_->streams.contexts.end();) {
        if (inList(it->first)) {
            ++it;
            continue;
        }
        auto context = it->second;
        stopStream(*context);
        context->retired = true;
        if (context->feedsSingular) {
            clearChannel(it->first);
            context->feedsSingular = false;
        }
        it = state_->streams.contexts.erase(it);
        ++state_->streams.contextsClosedTotal;
    }

    // The main display is the primary monitor, the first of the live list.
    const auto all = services_.topology.screens();
    std::optional<ScreenID> main;
    if (!all.empty()) main = all.front().id;

    std::vector<ScreenInfo> order;
    for (const auto& s : L)
        if (main && s.id == *main) order.push_back(s);
    for (const auto& s : L)
        if (!main || s.id != *main) order.push_back(s);

    bool opened = false;
    for (const auto& s : order) {
        if (state_->streams.contexts.contains(s.id)) continue;
        state_->streams.contexts[s.id] = makeContext(s);
        ++state_->streams.contextsOpenedTotal;
        opened = true;
    }

    std::shared_ptr<StreamContext> singular;
    if (main && state_->streams.contexts.contains(*main))
        singular = state_->streams.contexts[*main];
    else if (!L.empty() && state_->streams.contexts.contains(L.front().id))
        singular = state_->streams.contexts[L.front().id];
    for (auto& [id, context] : state_->streams.contexts) {
        const bool becomes = context == singular;
        if (becomes && !context->feedsSingular)
            context->frameOutput->async([](FrameOutput& fo) { fo.forcePublish(); });
        context->feedsSingular = becomes;
    }

    if (opened) pointerBand_.cachePointerPosition();

    if (!shouldCapture()) {
        stopAllStreams();
        return;
    }
    for (auto& [id, context] : state_->streams.contexts) {
        if (wantsCapture(id)) {
            auto screen = screenNamed(id);
            if (!screen) continue;
            later([this, screen = *screen, weak = std::weak_ptr<StreamContext>(context)] {
                if (auto c = weak.lock()) startStream(screen, c);
            });
        } else {
            stopStream(*context);
        }
    }
}

std::optional<ScreenInfo> ScreenSampler::screenNamed(const ScreenID& id) const {
    for (const auto& s : services_.topology.screens())
        if (s.id == id) return s;
    return std::nullopt;
}

std::shared_ptr<StreamContext> ScreenSampler::makeContext(const ScreenInfo& screen) {
    const bool primaryInUse =
        std::any_of(state_->streams.contexts.begin(), state_->streams.contexts.end(),
                    [this](const auto& e) { return e.second == state_->streams.primaryContext; });
    std::shared_ptr<StreamContext> context;
    if (!primaryInUse) {
        context = state_->streams.primaryContext;
        context->retired = false;
        context->geometryMissingLogged = context->channelMissingLogged = context->displayMissLogged = false;
        context->capturedScreen.reset();
    } else {
        const std::string label =
            "com.quornet.Velaro.frames." +
            displayID(screen).value_or("ctx" + std::to_string(state_->streams.contextsOpenedTotal));
        context = std::make_shared<StreamContext>(makeFrameOutput(label));
        wireCallbacks(context);
    }
    applyCaptureGeometry(*context, screen.id);
    return context;
}

void ScreenSampler::applyCaptureGeometry(StreamContext& context, const ScreenID& screen) {
    auto it = state_->streams.captureGeometryByScreen.find(screen);
    context.geometry = it == state_->streams.captureGeometryByScreen.end()
                           ? std::nullopt
                           : std::optional<CaptureGeometry>(it->second);
    FrameOutput::Settings settings;
    settings.blurRadius = state_->frames.blurRadius;
    settings.smoothingEnabled = state_->frames.smoothingEnabled;
    settings.hoverGuardEnabled = state_->frames.hoverGuardEnabled;
    settings.overviewActive = state_->frames.overviewActive;
    settings.externallyFrozen = isSamplingFrozen();
    context.frameOutput->async([settings](FrameOutput& fo) { fo.applySettings(settings); });
}

void ScreenSampler::startStream(const ScreenInfo& screen, const std::shared_ptr<StreamContext>& context) {
    if (!wantsCapture(screen.id) || context->stream || context->isConfiguringStream ||
        !isCurrent(screen.id, context))
        return;
    if (!context->geometry) {
        if (!context->geometryMissingLogged)
            logLine("SAMPLER", "no capture geometry for screen " + screen.id + "; not capturing it yet");
        context->geometryMissingLogged = true;
        return;
    }
    context->geometryMissingLogged = false;
    context->isConfiguringStream = true;
    context->lastStartAttempt = loop().uptime();
    const std::int64_t g = context->configGeneration;
    services_.capture.getShareableContent(
        false, false,
        [this, life = lifetime_.token(), weak = std::weak_ptr<StreamContext>(context), id = screen.id, g](
            std::optional<ShareableContent> content, std::optional<CaptureError> error) {
            if (!life.aliveHere()) return;
            auto c = weak.lock();
            if (!c) return;
            if (error || !content) {
                c->stream.reset();
                c->isConfiguringStream = false;
                return;
            }
            continueStart(id, c, g, *content);
        });
}

void ScreenSampler::continueStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                                  std::int64_t g, const ShareableContent& content) {
    if (!isCurrent(screen, context) || !wantsCapture(screen)) {
        context->isConfiguringStream = false;
        return;
    }
    const CaptureDisplay* display = nullptr;
    std::optional<ScreenInfo> captured;
    for (const auto& d : content.displays) {
        auto s = screenForDisplayNumber(services_.screens, d.displayID);
        if (s && s->id == screen) {
            display = &d;
            captured = s;
            break;
        }
    }
    if (!display) {
        if (!context->displayMissLogged) logLine("SAMPLER", "no display to capture for screen " + screen);
        context->displayMissLogged = true;
        context->isConfiguringStream = false;
        return;
    }
    context->displayMissLogged = false;
    const ContentFilter filter = makeContentFilter(content, *display);
    context->capturedScreen = captured;
    if (!context->geometry) {
        context->isConfiguringStream = false;
        return;
    }

    StreamPlanInput in;
    in.displayWidth = display->width();
    in.displayHeight = display->height();
    in.displayOrigin = display->frame.origin;
    in.geometry = *context->geometry;
    in.liveCaptureEnabled = state_->streams.liveCaptureEnabled;
    in.liveCaptureFPS = state_->streams.liveCaptureFPS;
    in.blurCaptureEnabled = state_->streams.blurCaptureEnabled;
    in.lightReflectionsEnabled = state_->streams.lightReflectionsEnabled;
    in.backingScale = captured->backingScale;
    in.cornerRadius = displayCornerRadius(*captured);
    StreamPlan plan = planStream(in);
    plan.lineConfig.generation = ++context->lineConfigGeneration;

    // Both before the stream exists, so its first frame already has them.
    auto zones = menuBarGuardZones(services_.screens.screens(), services_.screens.statusBarThickness());
    context->frameOutput->async(
        [zones = std::move(zones)](FrameOutput& fo) mutable { fo.setGuardZones(std::move(zones)); });
    context->frameOutput->async([config = plan.lineConfig](FrameOutput& fo) { fo.setLineConfig(config); });

    auto stream = services_.capture.makeStream(
        filter, plan.configuration(),
        [this, life = lifetime_.token()](CaptureStream& stopped, const CaptureError&) {
            const CaptureStream* which = &stopped;
            if (!life.alive()) return;
            later([this, which] { handleStreamStopped(which); });
        });
    if (!stream) {
        context->isConfiguringStream = false;
        return;
    }
    // The queue handed to the stream keeps the frame analysis alive for as long as the stream may use it.
    FrameOutput* output = context->frameOutput.get();
    std::shared_ptr<SerialQueue> queue(context->frameOutput, &context->frameOutput->queue());
    auto handler = [output, results = context->frameResults](const CaptureFrame& frame) {
        if (!results) return output->receive(frame);
        results->runFrame([&] { output->receive(frame); });
    };
    if (stream->addStreamOutput(std::move(handler), std::move(queue))) {
        context->stream.reset();
        context->isConfiguringStream = false;
        return;
    }
    stream->startCapture([this, life = lifetime_.token(), weak = std::weak_ptr<StreamContext>(context),
                          screen, g, stream](std::optional<CaptureError> error) {
        if (!life.aliveHere()) {
            // Nobody will ever stop it otherwise.
            if (!error) stream->stopCapture({});
            return;
        }
        auto c = weak.lock();
        if (!c) {
            if (!error) stream->stopCapture({});
            return;
        }
        finishStart(screen, c, g, stream, error);
    });
}

void ScreenSampler::finishStart(const ScreenID& screen, const std::shared_ptr<StreamContext>& context,
                                std::int64_t g, std::shared_ptr<CaptureStream> stream,
                                std::optional<CaptureError> error) {
    if (error) {
        context->stream.reset();
        context->isConfiguringStream = false;
        return;
    }
    if (wantsCapture(screen) && isCurrent(screen, context) && context->configGeneration == g) {
        context->stream = std::move(stream);
        context->frameOutput->async([](FrameOutput& fo) { fo.forcePublish(); });
        ++state_->streams.streamStartsTotal;
        updateUndemandedLog();
        context->isConfiguringStream = false;
        return;
    }
    // Stale: the screen went, the context was replaced, capture is no longer wanted or the settings
    // changed. The new stream is never kept. Whether to start another is decided once the stop is done, on
    // the state of that moment, since a reconcile meanwhile could not start one while this start held the
    // context.
    stream->stopCapture([this, life = lifetime_.token(), weak = std::weak_ptr<StreamContext>(context),
                         screen](std::optional<CaptureError>) {
        if (!life.aliveHere()) return;
        auto c = weak.lock();
        if (!c) return;
        c->isConfiguringStream = false;
        if (wantsCapture(screen) && isCurrent(screen, c)) reconcile();
    });
}

ContentFilter ScreenSampler::makeContentFilter(const ShareableContent& content,
                                               const CaptureDisplay& display) {
    auto choice = velaro::makeContentFilter(content, display, services_.ownAppId,
                                            services_.workspace.ownProcessIdentifier(), storedSampleStop());
    state_->streams.appliedSampleStop = std::move(choice.appliedSampleStop);
    return std::move(choice.filter);
}

void ScreenSampler::stopStream(StreamContext& context) {
    if (!context.stream) return;
    auto stream = std::move(context.stream);
    context.stream.reset();
    if (context.feedsSingular) later([this] { beamColor = Color::clear(); });
    context.frameOutput->async([](FrameOutput& fo) {
        fo.holdBlurCommit();
        fo.resetPublishState();
    });
    updateUndemandedLog();
    later([stream = std::move(stream)] { stream->stopCapture({}); });
}

bool ScreenSampler::isAnyStreamConfiguring() const {
    for (const auto& c : allContexts())
        if (c->isConfiguringStream) return true;
    return false;
}

bool ScreenSampler::needsStreamRestart() const {
    const double now = loop().uptime();
    for (const auto& [id, c] : state_->streams.contexts) {
        if (c->stream || c->isConfiguringStream) continue;
        if (!(now - c->lastStartAttempt > kRestartThrottleSeconds)) continue;
        if (!c->geometry) continue;
        if (wantsCapture(id)) return true;
    }
    return false;
}

void ScreenSampler::handleStreamStopped(const CaptureStream* stream) {
    for (const auto& c : allContexts()) {
        if (c->stream && c->stream.get() == stream) {
            c->stream.reset();
            break;
        }
    }
    updateUndemandedLog();
    reconcile();
}

void ScreenSampler::idleTeardownFired() {
    state_->streams.idleTeardownTimer = Cancellable();
    reconcile();
}

void ScreenSampler::updateUndemandedLog() {
    const bool undemanded = hasActiveStream() && !state_->streams.captureDemand;
    if (undemanded && !state_->streams.undemandedOpenLogged)
        logLine("SAMPLER", "a stream runs while no feature asks for capture");
    state_->streams.undemandedOpenLogged = undemanded;
}

}  // namespace velaro
