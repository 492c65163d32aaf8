// The screen sampler: start-up, the switches other subsystems set, the streams it starts and stops as the
// reconciler decides, the per-frame publishers, the clearing operations, the freezes and the refresh that
// turns the window list into the capture state.
#include "sampling/ScreenSampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "base/AppId.h"
#include "base/Log.h"
#include "platform/DefaultsStore.h"
#include "platform/Workspace.h"
#include "sampling/LightReflections.h"
#include "sampling/SamplerState.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"

namespace velaro {

namespace {

constexpr double kPollSeconds = 0.5;
constexpr double kPointerPollSeconds = 0.1;
constexpr double kFilledConfirmSeconds = 0.1;
constexpr int kMaxReconcilePasses = 4;
// Ink thresholds, kept at the single precision they were tuned in.
const double kInkDarkAbove = static_cast<double>(0.6f);
const double kInkLightBelow = static_cast<double>(0.4f);
constexpr double kBeamMoveEpsilon = 0.0005;
// Coverage of a screen that makes a window count as filling it, and the lower one that keeps it counted.
constexpr double kEnterCoverage = 0.9;
constexpr double kStayCoverage = 0.5;

bool hysteresis(bool current, double coverage) {
    return coverage >= (current ? kStayCoverage : kEnterCoverage);
}

}  // namespace

ScreenSampler::ScreenSampler(Services services)
    : pointerBand_(services.pointer,
                   [this] {
                       std::vector<FrameOutput*> outputs;
                       for (const auto& c : allContexts()) outputs.push_back(c->frameOutput.get());
                       return outputs;
                   }),
      pointerInBeamBand(pointerBand_.pointerInBeamBand),
      services_(std::move(services)),
      state_(std::make_unique<State>(services_.loop, *this)) {
    // Black has luminance 0: light ink. The start-up rule has no earlier state to hold.
    const double L = relativeLuminance(dominantColor());
    strokeInkIsDark.set(L > kInkDarkAbove || (L >= kInkLightBelow && L >= 0.5));
    state_->streams.primaryContext =
        std::make_shared<StreamContext>(makeFrameOutput(VELARO_APP_ID ".frames"));
    wireCallbacks(state_->streams.primaryContext);
    registerObservers();
    startPollTimer();
    refresh();
}

ScreenSampler::~ScreenSampler() {
    lifetime_.end();
    state_->cycle.observers.clear();
    pointerBand_.removePointerMonitors();
    state_->streams.pointerPoll.cancel();
    state_->cycle.pollTimer.cancel();
    state_->cycle.resumeTimer.cancel();
    stopParking();
    // Streams still running would keep delivering into outputs nobody reads.
    for (const auto& c : allContexts()) {
        if (auto stream = std::move(c->stream)) stream->stopCapture({});
    }
}

std::shared_ptr<FrameOutput> ScreenSampler::makeFrameOutput(const std::string& label) {
    FrameOutput::Dependencies deps;
    deps.loop = &services_.loop;
    deps.queueLabel = label;
    deps.pointer = &services_.pointer;
    deps.isForeignMenuOpen = [scans = &services_.scans] { return scans->isForeignMenuOpen(); };
    return std::make_shared<FrameOutput>(std::move(deps));
}

void ScreenSampler::after(double seconds, std::function<void()> block) {
    const auto id = ++state_->cycle.nextDelayed;
    state_->cycle.delayed[id] = loop().postAfter(seconds, [this, id, block = std::move(block)] {
        // The handle goes on a later turn: dropping it here would destroy the closure that is running.
        later([this, id] { state_->cycle.delayed.erase(id); });
        block();
    });
}

SamplerState::SamplerState(MainLoop& loop, ScreenSampler& sampler)
    : slideGate(
          loop, [&sampler] { sampler.announceSlideGate(); },
          [&sampler] { sampler.forcePublishNextFrame(true); }),
      seam(loop, sampler.seamSuppressed),
      freezes(sampler.isSamplingFrozen, [&sampler](bool frozen) {
          sampler.forEachFrameOutput([frozen](FrameOutput& fo) { fo.setExternalFreeze(frozen); });
      }),
      ownMenu(sampler.services_.menus, loop,
              [this](bool frozen) { freezes.set(frozen, kOwnMenuFreezeReason); }) {}

void ScreenSampler::later(std::function<void()> block) {
    loop().post(lifetime_.guard(std::move(block)));
}

std::vector<std::shared_ptr<StreamContext>> ScreenSampler::allContexts() const {
    std::vector<std::shared_ptr<StreamContext>> out{state_->streams.primaryContext};
    for (const auto& [id, c] : state_->streams.contexts)
        if (c != state_->streams.primaryContext) out.push_back(c);
    return out;
}

void ScreenSampler::forEachFrameOutput(const std::function<void(FrameOutput&)>& block) const {
    for (const auto& c : allContexts()) c->frameOutput->async(block);
}

void ScreenSampler::bumpConfigGenerations() {
    for (const auto& c : allContexts()) ++c->configGeneration;
}

// ---- what the sampler tells ----

bool ScreenSampler::isEnabled() const {
    return state_->streams.enabled;
}

bool ScreenSampler::isSlideGateOpen() const {
    return state_->slideGate.isOpen();
}

std::optional<bool> ScreenSampler::pendingFilledState() const {
    return state_->filled.pending;
}

std::int64_t ScreenSampler::colorPublishSeq() const {
    return state_->filled.colorPublishSeq;
}

bool ScreenSampler::colorPublishedSinceFillStart() const {
    return state_->filled.colorSeqAtFillStart < state_->filled.colorPublishSeq;
}

const double& ScreenSampler::recolorSnapUntil() const {
    return state_->filled.recolorSnapUntil;
}

double ScreenSampler::colorCacheFrozenUntil() const {
    return state_->filled.cacheFreezeUntil;
}

std::shared_ptr<ScreenSampler::ScreenChannel> ScreenSampler::channel(const ScreenID& screen) {
    auto& channel = state_->streams.channelsByScreen[screen];
    if (!channel) channel = std::make_shared<ScreenChannel>();
    return channel;
}

void ScreenSampler::snapRecolorsUntil(double uptime) {
    state_->filled.recolorSnapUntil = uptime;
}

void ScreenSampler::freezeColorCacheUntil(double uptime) {
    state_->filled.cacheFreezeUntil = uptime;
}

void ScreenSampler::setTopBlurGeometry(const TopBlurGeometry& geometry) {
    if (geometry == state_->streams.topBlurGeometry) return;
    state_->streams.topBlurGeometry = geometry;
    clearBlurredCorners(geometry.leftCornerRadius <= 0, geometry.rightCornerRadius <= 0);
}

void ScreenSampler::setBeamBandMenuBarHeight(double height) {
    pointerBand_.beamBandMenuBarHeight = height;
}

void ScreenSampler::setOnMenuBarActivityEnded(std::function<void()> handler) {
    state_->hooks.menuBarActivityEnded = std::move(handler);
}

void ScreenSampler::setOnOwnerTick(std::function<void(const std::optional<std::string>&)> handler) {
    state_->hooks.ownerTick = std::move(handler);
}

void ScreenSampler::setOnSlideGateChanged(std::function<void()> handler) {
    state_->hooks.slideGateChanged = std::move(handler);
}

void ScreenSampler::announceSlideGate() {
    if (state_->hooks.slideGateChanged) state_->hooks.slideGateChanged();
}

bool ScreenSampler::hasActiveStream() const {
    // Asked several times in every 0.5 s check: looked up in place rather than through allContexts().
    const auto& streams = state_->streams;
    if (streams.primaryContext && streams.primaryContext->stream) return true;
    return std::any_of(streams.contexts.begin(), streams.contexts.end(),
                       [](const auto& entry) { return entry.second && entry.second->stream; });
}

bool ScreenSampler::isForeignMenuOpen() const {
    return services_.scans.isForeignMenuOpen();
}

std::optional<Color> ScreenSampler::averageColor(const QImage& image) {
    return velaro::averageColor(image);
}

Color ScreenSampler::vividBeamColor(const Color& color) {
    return velaro::vividBeamColor(color);
}

// ---- publishing ----

std::shared_ptr<ScreenSampler::ScreenChannel> ScreenSampler::channelFor(StreamContext& context) {
    if (!context.capturedScreen) return nullptr;
    const bool listed = services_.topology.contains(*context.capturedScreen);
    auto it = state_->streams.channelsByScreen.find(context.capturedScreen->id);
    auto channel = listed && it != state_->streams.channelsByScreen.end() ? it->second : nullptr;
    const bool missing = channel == nullptr;
    if (missing != context.channelMissingLogged) {
        if (missing)
            qCWarning(lcSampling) << tagged("SAMPLER", "no channel for screen " + context.capturedScreen->id);
        context.channelMissingLogged = missing;
    }
    return channel;
}

void ScreenSampler::dominantColorDidSet(const Color& color) {
    const double L = relativeLuminance(color);
    const bool dark = L > kInkDarkAbove || (L >= kInkLightBelow && strokeInkIsDark());
    if (dark != strokeInkIsDark()) strokeInkIsDark = dark;
}

void ScreenSampler::publishDominant(const Color& color, StreamContext* from) {
    if (from) {
        if (auto channel = channelFor(*from)) channel->dominantColor = color;
        if (!from->feedsSingular) return;
    }
    dominantColor = color;
    dominantColorDidSet(color);
    colorPulse = colorPulse() + 1;
}

void ScreenSampler::wireCallbacks(const std::shared_ptr<StreamContext>& context) {
    FrameOutput& fo = *context->frameOutput;
    const Lifetime::Token life = lifetime_.token();
    const std::weak_ptr<StreamContext> weak = context;
    // Every result is copied into a block for the main loop; the block does nothing once the sampler or the
    // context is gone. A frame's blocks go out together, in the order its results were made.
    context->frameResults = std::make_shared<FrameResultBatch>(services_.loop);
    auto onMain = [life, weak, results = context->frameResults](auto body) {
        results->add([life, weak, body = std::move(body)] {
            if (!life.aliveHere()) return;
            if (auto c = weak.lock()) body(*c);
        });
    };

    fo.onUpdate = [this, onMain](const Color& dominant, const std::vector<Color>& zones) {
        onMain([this, dominant, zones](StreamContext& c) {
            if (!isLive(c)) return;
            if (c.capturedScreen && captureStopScreens().contains(c.capturedScreen->id)) return;
            publishDominant(dominant, &c);
            if (auto channel = channelFor(c)) channel->zoneColors = zones;
            if (c.feedsSingular) {
                zoneColors = zones;
                ++state_->filled.colorPublishSeq;
            }
        });
    };
    fo.onLine = [this, onMain](const LiveLine& line, int generation) {
        onMain([this, line, generation](StreamContext& c) {
            if (!isLive(c) || !state_->streams.liveCaptureEnabled) return;
            if (c.capturedScreen && captureStopScreens().contains(c.capturedScreen->id)) return;
            if (generation != c.lineConfigGeneration) return;
            if (auto channel = channelFor(c)) channel->liveLine = line;
            if (c.feedsSingular) liveLine = line;
        });
    };
    fo.onBackdrop = [this, onMain](const BackdropImage& bar) {
        onMain([this, bar](StreamContext& c) {
            if (!isLive(c) || !state_->streams.blurCaptureEnabled) return;
            if (auto channel = channelFor(c)) channel->blurredBackdropImage = bar;
            if (c.feedsSingular) blurredBackdropImage = bar;
        });
    };
    fo.onCornerBackdrops = [this, onMain](const std::optional<BackdropImage>& left,
                                          const std::optional<BackdropImage>& right) {
        onMain([this, left, right](StreamContext& c) {
            if (!isLive(c) || !state_->streams.blurCaptureEnabled) return;
            if (auto channel = channelFor(c)) {
                if (left) channel->blurredTopLeftCorner = left;
                if (right) channel->blurredTopRightCorner = right;
            }
            if (c.feedsSingular) {
                if (left) blurredTopLeftCorner = left;
                if (right) blurredTopRightCorner = right;
            }
        });
    };
    fo.onEdgeColors = [this, onMain](const Color& left, const Color& right) {
        onMain([this, left, right](StreamContext& c) {
            if (!isLive(c)) return;
            if (auto channel = channelFor(c)) {
                channel->liveLeftCornerColor = left;
                channel->liveRightCornerColor = right;
            }
            if (c.feedsSingular) {
                liveLeftCornerColor = left;
                liveRightCornerColor = right;
            }
        });
    };
    fo.onBeam = [this, onMain](const Color& color, double x) {
        onMain([this, color, x](StreamContext& c) {
            if (!isLive(c) || !c.feedsSingular || !state_->streams.lightReflectionsEnabled) return;
            if (color.alpha == 0) {
                if (beamColor().alpha != 0) beamColor = Color::clear();
                return;
            }
            if (!(beamColor() == color)) {
                beamColor = color;
                beamVividColor = vividBeamColor(color);
            }
            if (std::abs(beamNormalizedX() - x) > kBeamMoveEpsilon) beamNormalizedX = x;
        });
    };
    fo.onActivityEnded = [this, onMain] {
        onMain([this](StreamContext& c) {
            if (!isLive(c) || !c.feedsSingular) return;
            if (state_->hooks.menuBarActivityEnded) state_->hooks.menuBarActivityEnded();
            refresh();
            after(0.2, [this] { refresh(); });
            after(0.5, [this] { refresh(); });
        });
    };
    fo.onWaitsForPointer = [this, onMain](bool waits) {
        onMain([this, waits](StreamContext& c) {
            c.waitsForPointer = waits;
            followPointer();
        });
    };
    fo.onForceUnfreeze = [this, onMain] {
        onMain([this](StreamContext& c) {
            if (!isLive(c)) return;
            state_->freezes.clearAll();
            forEachFrameOutput([](FrameOutput& out) { out.unfreeze(); });
        });
    };
}

// ---- settings pushed into every frame analysis ----

void ScreenSampler::setOverviewActive(bool active) {
    state_->frames.overviewActive = active;
    if (active) {
        forEachFrameOutput([](FrameOutput& fo) { fo.setOverviewActive(true); });
        state_->freezes.set(true, "overview");
    } else {
        state_->freezes.set(false, "overview");
        forEachFrameOutput([](FrameOutput& fo) { fo.setOverviewActive(false); });
    }
}

namespace {
FrameOutput::Settings currentSettings(const FrameOutput& fo) {
    FrameOutput::Settings s;
    s.blurRadius = fo.blurRadius();
    s.smoothingEnabled = fo.smoothingEnabled();
    s.hoverGuardEnabled = fo.hoverGuardEnabled();
    s.overviewActive = fo.overviewActive();
    s.externallyFrozen = fo.isExternallyFrozen();
    return s;
}
}  // namespace

void ScreenSampler::setSmoothingEnabled(bool on) {
    state_->frames.smoothingEnabled = on;
    forEachFrameOutput([on](FrameOutput& fo) {
        auto s = currentSettings(fo);
        s.smoothingEnabled = on;
        fo.applySettings(s);
    });
}

void ScreenSampler::setHoverGuardEnabled(bool on) {
    state_->frames.hoverGuardEnabled = on;
    forEachFrameOutput([on](FrameOutput& fo) { fo.setHoverGuardEnabled(on); });
}

void ScreenSampler::setBlurRadius(double radius) {
    state_->frames.blurRadius = radius;
    forEachFrameOutput([radius](FrameOutput& fo) {
        auto s = currentSettings(fo);
        s.blurRadius = radius;
        fo.applySettings(s);
    });
}

void ScreenSampler::forcePublishNextFrame(bool snapSmoothing) {
    forEachFrameOutput([snapSmoothing](FrameOutput& fo) { fo.forcePublish(snapSmoothing); });
}

void ScreenSampler::setCaptureGeometry(std::map<ScreenID, CaptureGeometry> geometry) {
    state_->streams.captureGeometryByScreen = std::move(geometry);
    bool changed = false;
    for (auto& [id, c] : state_->streams.contexts) {
        auto it = state_->streams.captureGeometryByScreen.find(id);
        if (it == state_->streams.captureGeometryByScreen.end()) continue;
        if (c->geometry && *c->geometry == it->second) continue;
        c->geometry = it->second;
        ++c->configGeneration;
        stopStream(*c);
        changed = true;
    }
    if (changed) reconcile();
}

void ScreenSampler::setLiveCaptureEnabled(bool on) {
    if (on == state_->streams.liveCaptureEnabled) return;
    state_->streams.liveCaptureEnabled = on;
    bumpConfigGenerations();
    if (!state_->streams.liveCaptureEnabled) clearLiveLines();
    if (hasActiveStream()) stopAllStreams();
    reconcile();
}

void ScreenSampler::setLiveCaptureFPS(int fps) {
    if (fps == state_->streams.liveCaptureFPS) return;
    state_->streams.liveCaptureFPS = fps;
    bumpConfigGenerations();
    if (hasActiveStream()) stopAllStreams();
    reconcile();
}

void ScreenSampler::setBlurCaptureEnabled(bool on) {
    if (on == state_->streams.blurCaptureEnabled) return;
    state_->streams.blurCaptureEnabled = on;
    bumpConfigGenerations();
    if (!state_->streams.blurCaptureEnabled) {
        clearBlurredBackdrops();
        clearBlurredCorners(true, true);
        forEachFrameOutput([](FrameOutput& fo) { fo.holdBlurCommit(); });
    }
    if (hasActiveStream()) stopAllStreams();
    reconcile();
}

void ScreenSampler::setLightReflectionsEnabled(bool on) {
    if (on == state_->streams.lightReflectionsEnabled) return;
    state_->streams.lightReflectionsEnabled = on;
    bumpConfigGenerations();
    if (!state_->streams.lightReflectionsEnabled) beamColor = Color::clear();
    followPointer();
    if (hasActiveStream()) stopAllStreams();
    reconcile();
}

void ScreenSampler::setMasterEnabled(bool on) {
    if (on == state_->streams.masterEnabled) return;
    state_->streams.masterEnabled = on;
    if (state_->streams.masterEnabled) {
        startPollTimer();
        refresh();
    } else {
        stopPollTimer();
        state_->filled.pending.reset();
        state_->filled.confirmTimer.cancel();
        state_->seam.cancelRelease();
    }
    followPointer();
    reconcile();
}

void ScreenSampler::setCaptureDemand(bool demand) {
    if (demand == state_->streams.captureDemand) return;
    state_->streams.captureDemand = demand;
    reconcile();
    // A stream left open with nothing demanding it is logged once.
    state_->streams.undemandedOpenLogged = hasActiveStream() ? !demand : false;
}

void ScreenSampler::enable() {
    state_->streams.enabled = true;
    reconcile();
}

// ---- capture streams: the reconciler decides, the sampler carries it out ----

CaptureWish ScreenSampler::captureWish() const {
    CaptureWish wish;
    wish.masterEnabled = state_->streams.masterEnabled;
    wish.screensAsleep = screensAsleep();
    wish.captureDemand = state_->streams.captureDemand;
    wish.enabled = state_->streams.enabled;
    wish.filledWindowActive = isFilledWindowActive();
    wish.fillPending = state_->filled.pending.value_or(false);
    wish.lastFilledActivity = state_->filled.lastActivity;
    wish.now = loop().uptime();
    return wish;
}

bool ScreenSampler::shouldCapture() const {
    return StreamReconciler::shouldCapture(captureWish());
}

bool ScreenSampler::wantsCapture(const ScreenID& screen) const {
    return state_->streams.reconciler.wantsCapture(screen, captureWish(), captureStopScreens());
}

bool ScreenSampler::isCurrent(const ScreenID& screen, const std::shared_ptr<StreamContext>& context) const {
    if (!context || context->retired) return false;
    auto it = state_->streams.contexts.find(screen);
    return it != state_->streams.contexts.end() && it->second == context;
}

void ScreenSampler::reconcile() {
    if (const auto delay = StreamReconciler::idleTeardownDelay(captureWish()))
        scheduleIdleTeardown(*delay);
    else
        state_->streams.idleTeardownTimer.cancel();

    if (state_->streams.isReconciling) {
        state_->streams.reconcileDirty = true;
        return;
    }
    state_->streams.isReconciling = true;
    state_->streams.reconcileDirty = false;
    int passes = 0;
    do {
        state_->streams.reconcileDirty = false;
        reconcilePass();
        ++passes;
    } while (state_->streams.reconcileDirty && passes < kMaxReconcilePasses);
    state_->streams.isReconciling = false;
    // A switch turned on may start a stream the next check would look after.
    if (state_->cycle.parked && !canParkPoll()) resumePoll(loop().uptime());
}

void ScreenSampler::reconcilePass() {
    auto& streams = state_->streams;
    // The main display is the primary monitor, the first of the live list.
    std::optional<ScreenID> main;
    if (const auto& all = services_.topology.screens(); !all.empty()) main = all.front().id;
    const auto arrangement = streams.reconciler.arrange(services_.topology.screenDescriptions(), main);

    for (const auto& id : arrangement.closed) {
        const auto it = streams.contexts.find(id);
        if (it == streams.contexts.end()) continue;
        auto context = it->second;
        stopStream(*context);
        context->retired = true;
        if (context->feedsSingular) {
            clearChannel(id);
            context->feedsSingular = false;
        }
        streams.contexts.erase(id);
    }
    for (const auto& s : arrangement.opened) {
        streams.contexts[s.id] = makeContext(s);
        ++streams.contextsOpenedTotal;
    }
    for (auto& [id, context] : streams.contexts) {
        const bool feeds = arrangement.feeder == id;
        if (feeds && arrangement.feederChanged)
            context->frameOutput->async([](FrameOutput& fo) { fo.forcePublish(); });
        context->feedsSingular = feeds;
    }
    if (!arrangement.opened.empty()) pointerBand_.cachePointerPosition();

    if (!shouldCapture()) {
        stopAllStreams();
        return;
    }
    for (auto& [id, context] : streams.contexts) {
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
            VELARO_APP_ID ".frames." +
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
    if (!isCurrent(screen.id, context)) return;
    switch (state_->streams.reconciler.startFor(screen.id, context->facts(), captureWish(),
                                                captureStopScreens())) {
        case StreamReconciler::Start::no:
            return;
        case StreamReconciler::Start::waitForGeometry:
            if (!context->geometryMissingLogged)
                qCInfo(lcSampling) << tagged(
                    "SAMPLER", "no capture geometry for screen " + screen.id + "; not capturing it yet");
            context->geometryMissingLogged = true;
            return;
        case StreamReconciler::Start::go:
            break;
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
        if (!context->displayMissLogged)
            qCWarning(lcSampling) << tagged("SAMPLER", "no display to capture for screen " + screen);
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
    // The analysis asks this stream for the frames it wants again; queued before any frame of it.
    context->frameOutput->async([weak = std::weak_ptr<CaptureStream>(stream)](FrameOutput& fo) {
        fo.onWantsFrame = [weak] {
            if (auto s = weak.lock()) s->requestFrame();
        };
    });
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
    const bool current = isCurrent(screen, context) && context->configGeneration == g;
    if (state_->streams.reconciler.keepsStart(screen, current, captureWish(), captureStopScreens())) {
        context->stream = std::move(stream);
        context->frameOutput->async([](FrameOutput& fo) { fo.forcePublish(); });
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

void ScreenSampler::followPointer() {
    auto& streams = state_->streams;
    pointerBand_.update(streams.lightReflectionsEnabled, streams.masterEnabled);
    bool framesWait = false;
    for (const auto& c : allContexts()) framesWait = framesWait || (c->stream && c->waitsForPointer);
    framesWait = framesWait && streams.masterEnabled;
    pointerBand_.setFramesWaitForPointer(framesWait);
    // A pointer another program warps moves no input device, so no watch hears of it: while a change waits
    // for the pointer, it is also read now and then, which brings a warp to the analyses like a move.
    if (!framesWait)
        streams.pointerPoll.cancel();
    else if (!streams.pointerPoll.isActive())
        streams.pointerPoll = loop().every(kPointerPollSeconds, [this] { pointerBand_.cachePointerPosition(); });
}

void ScreenSampler::stopStream(StreamContext& context) {
    if (!context.stream) return;
    auto stream = std::move(context.stream);
    context.stream.reset();
    if (context.waitsForPointer) {
        context.waitsForPointer = false;
        followPointer();
    }
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
    const CaptureWish wish = captureWish();
    for (const auto& [id, c] : state_->streams.contexts)
        if (state_->streams.reconciler.retryDue(id, c->facts(), wish, captureStopScreens())) return true;
    return false;
}

void ScreenSampler::handleStreamStopped(const CaptureStream* stream) {
    for (const auto& c : allContexts()) {
        if (c->stream && c->stream.get() == stream) {
            c->stream.reset();
            c->waitsForPointer = false;
            followPointer();
            break;
        }
    }
    updateUndemandedLog();
    reconcile();
}

void ScreenSampler::stopAllStreams() {
    for (const auto& c : allContexts()) stopStream(*c);
}

void ScreenSampler::scheduleIdleTeardown(double delay) {
    if (state_->streams.idleTeardownTimer.isActive()) return;
    state_->streams.idleTeardownTimer = loop().postAfter(delay, [this] { idleTeardownFired(); });
}

void ScreenSampler::idleTeardownFired() {
    state_->streams.idleTeardownTimer = Cancellable();
    reconcile();
}

void ScreenSampler::updateUndemandedLog() {
    const bool undemanded = hasActiveStream() && !state_->streams.captureDemand;
    if (undemanded && !state_->streams.undemandedOpenLogged)
        qCWarning(lcSampling) << tagged("SAMPLER", "a stream runs while no feature asks for capture");
    state_->streams.undemandedOpenLogged = undemanded;
}

// ---- clearing ----

std::shared_ptr<ScreenSampler::ScreenChannel> ScreenSampler::liveContextScreenValue() {
    for (const auto& [id, c] : state_->streams.contexts) {
        if (!c->feedsSingular) continue;
        if (!c->capturedScreen || !services_.topology.contains(*c->capturedScreen)) return nullptr;
        auto it = state_->streams.channelsByScreen.find(c->capturedScreen->id);
        return it == state_->streams.channelsByScreen.end() ? nullptr : it->second;
    }
    return nullptr;
}

void ScreenSampler::clearBlurredBackdrops() {
    for (auto& [id, ch] : state_->streams.channelsByScreen)
        if (ch->blurredBackdropImage()) ch->blurredBackdropImage = std::nullopt;
    blurredBackdropImage = std::nullopt;
}

void ScreenSampler::clearBlurredCorners(bool left, bool right) {
    for (auto& [id, ch] : state_->streams.channelsByScreen) {
        if (left && ch->blurredTopLeftCorner()) ch->blurredTopLeftCorner = std::nullopt;
        if (right && ch->blurredTopRightCorner()) ch->blurredTopRightCorner = std::nullopt;
    }
    if (left) blurredTopLeftCorner = std::nullopt;
    if (right) blurredTopRightCorner = std::nullopt;
}

void ScreenSampler::clearLiveLines() {
    for (auto& [id, ch] : state_->streams.channelsByScreen)
        if (ch->liveLine()) ch->liveLine = std::nullopt;
    liveLine = std::nullopt;
}

void ScreenSampler::clearChannel(const ScreenID& screen) {
    auto it = state_->streams.channelsByScreen.find(screen);
    if (it == state_->streams.channelsByScreen.end()) return;
    auto ch = it->second;  // a handler may drop the map entry meanwhile
    if (ch->liveLeftCornerColor()) ch->liveLeftCornerColor = std::nullopt;
    if (ch->liveRightCornerColor()) ch->liveRightCornerColor = std::nullopt;
    if (ch->blurredBackdropImage()) ch->blurredBackdropImage = std::nullopt;
    if (ch->blurredTopLeftCorner()) ch->blurredTopLeftCorner = std::nullopt;
    if (ch->blurredTopRightCorner()) ch->blurredTopRightCorner = std::nullopt;
    if (ch->dominantColor()) ch->dominantColor = std::nullopt;
    if (ch->zoneColors()) ch->zoneColors = std::nullopt;
    if (ch->liveLine()) ch->liveLine = std::nullopt;
}

void ScreenSampler::pruneScreens(const std::set<ScreenID>& keeping) {
    auto channels = state_->streams.channelsByScreen;
    std::erase_if(channels, [&](const auto& e) { return !keeping.contains(e.first); });
    if (channels.size() != state_->streams.channelsByScreen.size())
        state_->streams.channelsByScreen = std::move(channels);
    std::erase_if(state_->filled.lastGoodByScreen, [&](const auto& e) { return !keeping.contains(e.first); });
    auto stopped = captureStopScreens();
    std::erase_if(stopped, [&](const ScreenID& id) { return !keeping.contains(id); });
    if (stopped.size() != captureStopScreens().size()) captureStopScreens = std::move(stopped);
}

void ScreenSampler::startPollTimer() {
    stopPollTimer();
    state_->cycle.anchor = loop().uptime();
    state_->cycle.pollTimer = loop().every(kPollSeconds, [this] { pollTick(); });
}

void ScreenSampler::stopPollTimer() {
    state_->cycle.pollTimer.cancel();
    state_->cycle.resumeTimer.cancel();
    stopParking();
    state_->menuPoll.release();
}

void ScreenSampler::pollTick() {
    state_->cycle.anchor = loop().uptime();
    refresh();
}

// ---- the parked poll ----

bool ScreenSampler::canParkPoll() const {
    // Plainly idle: nothing fills the top or waits to, no stream runs or may start, and the menu poll, the
    // slide gate and the seam have nothing left to time. The owner is absent, so the owner ticks a parked
    // poll leaves out would record nothing.
    const State& s = *state_;
    return !isFilledWindowActive() && !s.filled.pending && !s.filled.confirmTimer.isActive() &&
           !filledOwnerAppId() && !shouldCapture() && !hasActiveStream() && !s.streams.isUpdatingFilter &&
           !isAnyStreamConfiguring() && !s.slideGate.isOpen() && s.menuPoll.settled() &&
           !s.seam.glassSurfaceOverTopStrip() && !s.seam.releasePending() && !seamSuppressed();
}

void ScreenSampler::settlePoll(bool scanSettled) {
    auto& cycle = state_->cycle;
    const bool quiet = scanSettled && canParkPoll();
    if (quiet && !cycle.parked && cycle.pollTimer.isActive())
        parkPoll();
    else if (!quiet && cycle.parked)
        resumePoll(loop().uptime());
}

void ScreenSampler::parkPoll() {
    auto& cycle = state_->cycle;
    cycle.pollTimer.cancel();
    cycle.parked = true;
    const std::uint64_t seq = ++cycle.parkSeq;
    // Rung on whichever thread moved an input; the first ring of this park posts the one wake.
    auto told = std::make_shared<std::atomic<bool>>(false);
    auto resume = lifetime_.guard([this, seq](double changedAt) {
        if (state_->cycle.parked && state_->cycle.parkSeq == seq) resumePoll(changedAt);
    });
    auto wake = [told, loop = &loop(), resume] {
        if (told->exchange(true)) return;
        const double changedAt = loop->uptime();
        loop->post([resume, changedAt]() mutable { resume(changedAt); });
    };
    if (!services_.scans.callOnNextInputChange(wake)) resumePoll(loop().uptime());
}

void ScreenSampler::resumePoll(double changedAt) {
    auto& cycle = state_->cycle;
    stopParking();
    // The first tick the running poll would have made after the change, so every delay and hysteresis
    // counts from the same ticks as if it had never slept.
    const double ticks = std::max(std::floor((changedAt - cycle.anchor) / kPollSeconds) + 1, 1.0);
    const double due = cycle.anchor + ticks * kPollSeconds;
    cycle.resumeTimer = loop().postAfter(std::max(due - loop().uptime(), 0.0), [this] {
        state_->cycle.pollTimer = loop().every(kPollSeconds, [this] { pollTick(); });
        pollTick();
    });
}

void ScreenSampler::stopParking() {
    auto& cycle = state_->cycle;
    if (!cycle.parked) return;
    cycle.parked = false;
    ++cycle.parkSeq;
    services_.scans.callOnNextInputChange(nullptr);
}

// ---- refresh ----

std::set<std::string> ScreenSampler::storedSampleStop() const {
    auto list =
        services_.defaults.stringArrayValue(kExcludedSampleStopKey).value_or(std::vector<std::string>{});
    return {list.begin(), list.end()};
}

std::optional<std::string> ScreenSampler::appIdOf(std::int32_t pid) {
    if (pid < 1) return std::nullopt;
    if (pid == state_->filled.lastResolvedPID) return state_->filled.lastResolvedAppId;
    auto app = services_.workspace.runningApplication(pid);
    state_->filled.lastResolvedPID = pid;
    state_->filled.lastResolvedAppId = app ? app->appId : std::nullopt;
    return state_->filled.lastResolvedAppId;
}

void ScreenSampler::refresh() {
    if (!state_->streams.masterEnabled || screensAsleep()) return;
    const double now = loop().uptime();
    if (isFilledWindowActive()) state_->filled.lastActivity = now;

    // Filter check: a changed sample-stop set reaches the running streams without restarting them.
    if (hasActiveStream() && !isAnyStreamConfiguring() && !state_->streams.isUpdatingFilter &&
        storedSampleStop() != state_->streams.appliedSampleStop)
        later([this] { updateContentFilters(); });

    const WindowScanResult r = services_.scans.scanWindows(state_->slideGate.previousPositions());
    // The slide moves of a repeat are measured against these positions: the same, they stay at 0.
    const bool samePositions = r.windowPositions == state_->slideGate.previousPositions();
    state_->menuPoll.track(hasActiveStream(), r.foreignMenuSeen, now,
                           [this](double delay) { notifyMenuBarActivityEnded(delay); });
    state_->slideGate.update(r);

    std::optional<std::string> owner;
    if (isFilledWindowActive() && r.filledCoverage >= kStayCoverage) owner = appIdOf(r.filledPID);
    if (owner != filledOwnerAppId()) filledOwnerAppId = owner;
    if (state_->hooks.ownerTick) state_->hooks.ownerTick(filledOwnerAppId());

    state_->seam.update(r.foreignMenuSeen, services_.defaults);

    const bool covering = hysteresis(excludedAppCovering(), r.overlayHideCoverage);
    if (covering != excludedAppCovering()) excludedAppCovering = covering;
    std::set<ScreenID> hide;
    for (const auto& [id, coverage] : r.overlayHideCoverageByScreen)
        if (hysteresis(state_->filled.overlayHideScreens.contains(id), coverage)) hide.insert(id);
    if (hide != state_->filled.overlayHideScreens) state_->filled.overlayHideScreens = std::move(hide);

    for (const auto& [id, c] : state_->streams.contexts) {
        auto cov = r.captureStopCoverageByScreen.find(id);
        if (cov != r.captureStopCoverageByScreen.end() && cov->second >= kStayCoverage) continue;
        auto ch = state_->streams.channelsByScreen.find(id);
        if (ch != state_->streams.channelsByScreen.end() && ch->second->dominantColor())
            state_->filled.lastGoodByScreen[id] =
                State::Filled::LastGood{*ch->second->dominantColor(), ch->second->liveLine()};
    }

    std::set<ScreenID> stopped;
    for (const auto& [id, coverage] : r.captureStopCoverageByScreen)
        if (hysteresis(captureStopScreens().contains(id), coverage)) stopped.insert(id);
    if (stopped != captureStopScreens()) {
        std::set<ScreenID> released;
        std::set_difference(captureStopScreens().begin(), captureStopScreens().end(), stopped.begin(),
                            stopped.end(), std::inserter(released, released.end()));
        captureStopScreens = stopped;
        for (const auto& id : released) {
            auto cit = state_->streams.contexts.find(id);
            auto good = state_->filled.lastGoodByScreen.find(id);
            if (cit == state_->streams.contexts.end() || good == state_->filled.lastGoodByScreen.end())
                continue;
            auto context = cit->second;
            const State::Filled::LastGood last = good->second;
            publishDominant(last.color, context.get());
            if (state_->streams.liveCaptureEnabled) {
                if (auto channel = channelFor(*context)) channel->liveLine = last.line;
                if (context->feedsSingular) liveLine = last.line;
            }
        }
        reconcile();
    }

    const double c = r.filledCoverage;
    const bool seen = hysteresis(isFilledWindowActive(), c);
    if (seen == isFilledWindowActive()) {
        state_->filled.pending.reset();
        state_->filled.confirmTimer.cancel();
        if (shouldCapture() && needsStreamRestart()) reconcile();
    } else if (seen) {
        if (!state_->filled.pending.value_or(false)) {
            state_->filled.pending = true;
            state_->filled.colorSeqAtFillStart = state_->filled.colorPublishSeq;
            forcePublishNextFrame(false);
            reconcile();
            state_->filled.confirmTimer =
                loop().postAfter(kFilledConfirmSeconds, [this] { confirmPendingFilledState(); });
        }
    } else {
        state_->filled.pending.reset();
        state_->filled.confirmTimer.cancel();
        isFilledWindowActive = false;
        reconcile();
    }

    if (state_->slideGate.takePendingClose()) {
        announceSlideGate();
        forcePublishNextFrame(true);
    }
    settlePoll(samePositions && r.maxSlideMoves == 0 && !r.foreignMenuSeen);
}

bool ScreenSampler::isFilledNow() {
    const auto r = services_.scans.scanWindows({});
    return hysteresis(isFilledWindowActive(), r.filledCoverage);
}

void ScreenSampler::confirmPendingFilledState() {
    state_->filled.confirmTimer = Cancellable();
    const auto p = state_->filled.pending;
    state_->filled.pending.reset();
    if (!p) return;
    if (!state_->streams.masterEnabled || screensAsleep()) return;
    const bool f = isFilledNow();
    if (f != *p) return;
    if (f != isFilledWindowActive()) {
        isFilledWindowActive = f;
        reconcile();
    }
}

void ScreenSampler::notifyMenuBarActivityEnded(double delay) {
    after(delay, [this] {
        if (state_->hooks.menuBarActivityEnded) state_->hooks.menuBarActivityEnded();
    });
}

// ---- the filter update ----

void ScreenSampler::updateContentFilters() {
    if (!hasActiveStream() || state_->streams.isUpdatingFilter || isAnyStreamConfiguring()) return;
    state_->streams.isUpdatingFilter = true;
    services_.capture.getShareableContent(
        false, false,
        [this, life = lifetime_.token()](std::optional<ShareableContent> content,
                                         std::optional<CaptureError> error) {
            if (!life.aliveHere()) return;
            if (error || !content) {
                failFilterUpdate();
                return;
            }
            applyFiltersTo(*content);
        });
}

void ScreenSampler::applyFiltersTo(const ShareableContent& content) {
    // A reconcile may replace or retire contexts while the updates wait, so the walk works on a snapshot
    // and checks each context again before touching it.
    struct Target {
        ScreenID screen;
        std::weak_ptr<StreamContext> context;
        std::shared_ptr<CaptureStream> stream;
    };
    std::vector<Target> targets;
    for (const auto& [id, c] : state_->streams.contexts)
        if (c->stream) targets.push_back({id, c, c->stream});

    auto remaining = std::make_shared<int>(1);
    auto failed = std::make_shared<bool>(false);
    auto done = [this, life = lifetime_.token(), remaining, failed] {
        if (--*remaining > 0 || !life.aliveHere()) return;
        if (*failed)
            failFilterUpdate();
        else
            state_->streams.isUpdatingFilter = false;
    };
    for (const auto& t : targets) {
        auto c = t.context.lock();
        if (!c || !isCurrent(t.screen, c) || c->stream != t.stream) continue;
        const CaptureDisplay* display = nullptr;
        for (const auto& d : content.displays) {
            auto s = screenForDisplayNumber(services_.screens, d.displayID);
            if (s && s->id == t.screen) {
                display = &d;
                break;
            }
        }
        if (!display) {
            stopStream(*c);
            continue;
        }
        ++*remaining;
        t.stream->updateContentFilter(makeContentFilter(content, *display),
                                      [failed, done](std::optional<CaptureError> error) {
                                          if (error) *failed = true;
                                          done();
                                      });
    }
    done();
}

void ScreenSampler::failFilterUpdate() {
    bumpConfigGenerations();
    stopAllStreams();
    reconcile();
    state_->streams.isUpdatingFilter = false;
}

// ---- observers ----

void ScreenSampler::registerObservers() {
    state_->cycle.observers.push_back(services_.workspace.events().sink([this](const WorkspaceEvent& e) {
        using K = WorkspaceEvent::Kind;
        switch (e.kind) {
            case K::didActivateApplication:
            case K::didLaunchApplication:
            case K::didTerminateApplication:
            case K::didHideApplication:
            case K::didUnhideApplication:
            case K::activeSpaceDidChange:
                // A process that ended or was named anew (an app installed while it runs) is asked again.
                if (e.kind == K::didLaunchApplication || e.kind == K::didTerminateApplication)
                    state_->filled.lastResolvedPID = 0;
                refresh();
                after(0.1, [this] { refresh(); });
                if (e.kind == K::didActivateApplication) after(0.01, [this] { refresh(); });
                break;
            case K::willSleep:
                stopAllStreams();
                break;
            case K::didWake:
                stopAllStreams();
                refresh();
                reconcile();
                break;
            case K::screensDidSleep:
                screensAsleep = true;
                stopAllStreams();
                stopPollTimer();
                state_->filled.pending.reset();
                state_->filled.confirmTimer.cancel();
                state_->seam.cancelRelease();
                state_->streams.idleTeardownTimer.cancel();
                break;
            case K::screensDidWake:
                screensAsleep = false;
                stopAllStreams();
                if (state_->streams.masterEnabled) {
                    startPollTimer();
                    refresh();
                    reconcile();
                }
                break;
        }
    }));
    state_->cycle.observers.push_back(
        services_.screens.parametersChanged().sink([this](int) { handleScreenParametersChanged(); }));
}

void ScreenSampler::handleScreenParametersChanged() {
    bumpConfigGenerations();
    std::set<ScreenID> keep;
    for (const auto& s : services_.topology.screens()) keep.insert(s.id);
    pruneScreens(keep);
    if (hasActiveStream()) stopAllStreams();
    refresh();
    reconcile();
}

}  // namespace velaro
