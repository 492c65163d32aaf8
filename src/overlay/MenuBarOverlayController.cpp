// The controller's construction, the window build per screen and render mode, showing and hiding, and the
// colour memory of the unified mode.
#include "overlay/MenuBarOverlayController.h"

#include "overlay/UnifiedOverlayWindow.h"

#include <algorithm>

#include "sampling/OverviewDetector.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// How long after the filled window changed owner no appearance is recorded and colours snap.
constexpr double kOwnerEdgeWindow = 0.5;

const std::vector<ScreenCorner>& cornersOf(OverlayRenderMode mode) {
    static const std::vector<ScreenCorner> separate{
        ScreenCorner::topLeft,     ScreenCorner::topRight,      ScreenCorner::bottomLeft,
        ScreenCorner::bottomRight, ScreenCorner::screenTopLeft, ScreenCorner::screenTopRight};
    static const std::vector<ScreenCorner> unified{ScreenCorner::bottomLeft, ScreenCorner::bottomRight,
                                                   ScreenCorner::screenTopLeft, ScreenCorner::screenTopRight};
    return mode == OverlayRenderMode::separate ? separate : unified;
}

class SeparateBandWindow final : public OverlayBandWindow {
public:
    template <class... Args>
    explicit SeparateBandWindow(Args&&... args) : bar_(std::forward<Args>(args)...) {}
    OverlayWindow& window() override { return bar_.window(); }

private:
    MenuBarOverlayWindow bar_;
};

}  // namespace

OverlayFeed overlayFeed(ScreenSampler& sampler, ScreenSampler::ScreenChannel& channel) {
    OverlayFeed feed;
    feed.sampler = SamplerFeed{
        &sampler.dominantColor,        &sampler.zoneColors,           &sampler.liveLine,
        &sampler.blurredBackdropImage, &sampler.blurredTopLeftCorner, &sampler.blurredTopRightCorner,
        &sampler.liveLeftCornerColor,  &sampler.liveRightCornerColor, &sampler.strokeInkIsDark,
        &sampler.isFilledWindowActive, &sampler.recolorSnapUntil()};
    feed.channel = ChannelFeed{
        &channel.dominantColor,        &channel.zoneColors,           &channel.liveLine,
        &channel.blurredBackdropImage, &channel.liveLeftCornerColor,  &channel.liveRightCornerColor,
        &channel.blurredTopLeftCorner, &channel.blurredTopRightCorner};
    return feed;
}

OverlayControllerFactory overlayControllerFactory(OverlayControllerServices services) {
    return [services](ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher) {
        // The app draws the band and its ears in one window per screen, revealed through the gate.
        return std::make_unique<MenuBarOverlayController>(sampler, settings, &appWatcher, services,
                                                          unifiedOverlayMode(sampler, settings, services));
    };
}

MenuBarOverlayController::MenuBarOverlayController(ScreenSampler& sampler, OverlaySettings& settings,
                                                   AppWatcher* appWatcher, OverlayControllerServices services,
                                                   const UnifiedModeFactory& unifiedMode)
    : sampler_(sampler),
      settings_(settings),
      appWatcher_(appWatcher),
      services_(services),
      driftClock_(settings, services.loop),
      holdCorners_(services.holdCornerWindows) {
    // First: building the windows already asks the monitor to start or stop.
    ordering_ = std::make_unique<WindowOrdering>(
        settings_, sampler_,
        WindowOrderingServices{services_.loop, services_.workspace, services_.windowList, {}},
        [this] {
            std::vector<PlacedCorner> corners;
            for (auto& s : screens_)
                for (auto& corner : s.corners) corners.push_back({corner->corner(), &corner->window()});
            return corners;
        },
        [this] { return overviewActive_; });
    unifiedMode_ = unifiedMode(*this);
    updateBeamBandHeight();
    pushInitialCaptureSettings();
    sampler_.setOnMenuBarActivityEnded(lifetime_.guard([this] {
        if (sampler_.isSamplingFrozen() || sampler_.isForeignMenuOpen()) return;
        refreshWindows();
        orderFrontBarWindows();
    }));
    rebuildWindows();
    installObservers();
    installSubscriptions();
}

MenuBarOverlayController::~MenuBarOverlayController() {
    cancellables_.clear();
    observers_.clear();
    overviewObserver_.cancel();
    holdCheckEarly_.cancel();
    holdCheckLate_.cancel();
    screens_.clear();
}

void MenuBarOverlayController::later(std::function<void()> block) {
    services_.loop.post(lifetime_.guard(std::move(block)));
}

std::vector<ScreenInfo> MenuBarOverlayController::currentScreens() const {
    return services_.screens.screens();
}

std::optional<ScreenInfo> MenuBarOverlayController::primaryScreen() const {
    auto list = currentScreens();
    if (list.empty()) return std::nullopt;
    return list.front();
}

double MenuBarOverlayController::statusBarThickness() const {
    return services_.screens.statusBarThickness();
}

void MenuBarOverlayController::updateBeamBandHeight() {
    auto primary = primaryScreen();
    sampler_.setBeamBandMenuBarHeight(primary ? menuBarHeight(*primary, statusBarThickness())
                                              : statusBarThickness());
}

void MenuBarOverlayController::setBlurCapture(bool on) {
    sampler_.setBlurCaptureEnabled(on);
}

void MenuBarOverlayController::setLiveCapture(bool on) {
    sampler_.setLiveCaptureEnabled(on);
}

void MenuBarOverlayController::setLiveCaptureFPS(int fps) {
    sampler_.setLiveCaptureFPS(fps);
}

void MenuBarOverlayController::pushInitialCaptureSettings() {
    sampler_.setSmoothingEnabled(settings_.smoothColors());
    sampler_.setHoverGuardEnabled(settings_.pauseOnMenuBarHover());
    sampler_.setBlurRadius(settings_.blurRadius());
    setBlurCapture(settings_.blurActive());
    setLiveCapture(settings_.style() == MenuBarStyle::live);
    setLiveCaptureFPS(settings_.liveCaptureFPS());
}

const MenuBarOverlayController::ScreenWindows* MenuBarOverlayController::windowsOf(
    const ScreenID& screen) const {
    for (const auto& s : screens_)
        if (s.screen.id == screen) return &s;
    return nullptr;
}

OverlayWindow* MenuBarOverlayController::bandWindowOf(const ScreenWindows& s) const {
    return s.band ? &s.band->window() : nullptr;
}

std::vector<UnifiedPresenter*> MenuBarOverlayController::presenters() const {
    std::vector<UnifiedPresenter*> out;
    for (const auto& s : screens_)
        if (s.band)
            if (auto* p = s.band->presenter()) out.push_back(p);
    return out;
}

void MenuBarOverlayController::checkRenderMode() {
    const auto wanted =
        settings_.usesUnifiedRenderer() ? OverlayRenderMode::unified : OverlayRenderMode::separate;
    if (wanted != renderMode_) rebuildWindows();
}

void MenuBarOverlayController::rebuildWindows() {
    clearRevealPending();
    if (memory_.isHolding()) {
        memory_.endHold();
        applyMemoryHold(std::nullopt);
    }
    for (auto& s : screens_)
        if (auto* band = bandWindowOf(s)) band->orderOut();
    for (auto& s : screens_)
        for (auto& corner : s.corners) corner->window().orderOut();
    screens_.clear();

    updateBeamBandHeight();
    renderMode_ = settings_.usesUnifiedRenderer() ? OverlayRenderMode::unified : OverlayRenderMode::separate;
    for (const auto& screen : currentScreens()) buildScreen(screen);

    refreshWindows();
    if (isVisible_) {
        if (renderMode_ == OverlayRenderMode::unified)
            presentUnifiedWindows(false);
        else
            fadeInCornerWindows();
    }
}

void MenuBarOverlayController::buildScreen(const ScreenInfo& screen) {
    auto channel = sampler_.channel(screen.id);

    ScreenWindows s;
    s.screen = screen;
    s.channel = channel;
    s.feed = std::make_unique<OverlayFeed>(overlayFeed(sampler_, *channel));
    if (showsMenuBar(screen)) {
        const Rect frame = barFrame(screen);
        if (renderMode_ == OverlayRenderMode::separate) {
            s.band = std::make_unique<SeparateBandWindow>(services_.host, services_.loop, settings_, *s.feed,
                                                          driftClock_, frame, barLevel());
            s.band->window().setAlphaValue(0);
        } else {
            s.band = unifiedMode_.makeBand(
                UnifiedBandInputs{screen, frame, barLevel(), unifiedBottomCornerDepth(screen), *s.feed});
        }
    }
    if (!holdCorners_ || renderMode_ != OverlayRenderMode::unified) buildCorners(s);
    screens_.push_back(std::move(s));
}

void MenuBarOverlayController::buildCorners(ScreenWindows& s) {
    for (ScreenCorner corner : cornersOf(renderMode_))
        s.corners.push_back(std::make_unique<CornerOverlayWindow>(corner, services_.host, services_.loop,
                                                                  settings_, *s.feed, driftClock_,
                                                                  Rect{0, 0, 48, 48}, cornerLevel(corner)));
}

void MenuBarOverlayController::makeHeldWindows() {
    if (!std::exchange(holdCorners_, false)) return;
    bool made = false;
    for (auto& s : screens_) {
        if (!s.corners.empty()) continue;
        buildCorners(s);
        made = true;
    }
    // Levels, frames and order as every change of them applies them: where the corners would be now.
    if (made) applyLevelsAndFrames();
}

void MenuBarOverlayController::scheduleBelowActiveRepair() {
    if (ordering_) ordering_->scheduleBelowActiveRepair();
}

// ---- visibility ----

void MenuBarOverlayController::setVisible(bool visible) {
    isVisible_ = visible;
    if (onVisibilityChanged_) onVisibilityChanged_(visible);
}

bool MenuBarOverlayController::shouldRunDriftClock() const {
    return settings_.masterEnabled() && !sampler_.screensAsleep() && settings_.isHueDriftEffective() &&
           isVisible_ && !overviewActive_;
}

void MenuBarOverlayController::updateDriftClock() {
    driftClock_.setRunning(shouldRunDriftClock());
}

void MenuBarOverlayController::show(bool immediate) {
    if (!settings_.masterEnabled() || !settings_.overlayEnabled() || isVisible_) return;
    setVisible(true);
    updateDriftClock();
    const bool unified = renderMode_ == OverlayRenderMode::unified;
    if (!immediate) {
        refreshWindows();
        if (unified)
            presentUnifiedWindows(false);
        else
            fadeInCornerWindows();
    } else {
        orderFrontCornerWindows();
        if (unified)
            presentUnifiedWindows(true);
        else
            showCornerWindowsImmediately();
    }
}

void MenuBarOverlayController::hide(bool immediate) {
    if (!isVisible_) return;
    setVisible(false);
    updateDriftClock();
    if (memory_.isHolding()) {
        memory_.endHold();
        applyMemoryHold(std::nullopt);
    }
    if (renderMode_ == OverlayRenderMode::separate) {
        if (!immediate) {
            fadeOutCornerWindows();
            refreshWindows();
            return;
        }
        hideCornerWindowsImmediately();
    } else {
        hideUnifiedWindows();
        if (!immediate) {
            refreshWindows();
            return;
        }
    }
    for (auto& s : screens_)
        for (auto& corner : s.corners) corner->window().orderOut();
}

// ---- colour memory ----

RevealColorHold MenuBarOverlayController::currentColors() const {
    return RevealColorHold{sampler_.dominantColor(), sampler_.zoneColors(), sampler_.liveLine(),
                           sampler_.liveLeftCornerColor(), sampler_.liveRightCornerColor()};
}

void MenuBarOverlayController::recordOwnerTick(const std::optional<std::string>& owner) {
    memory_.recordOwnerTick(owner, services_.loop.uptime(), sampler_.isFilledWindowActive(),
                            sampler_.colorCacheFrozenUntil(), [this] { return currentColors(); });
}

void MenuBarOverlayController::handleOwnerEdge(const std::optional<std::string>& owner) {
    const std::optional<std::string> previous = sampler_.filledOwnerAppId();
    if (!owner || !previous || *owner == *previous) return;
    const double now = services_.loop.uptime();
    sampler_.freezeColorCacheUntil(now + kOwnerEdgeWindow);
    if (renderMode_ != OverlayRenderMode::unified || !isVisible_ || settings_.keepOverlayAlwaysOn()) return;
    sampler_.snapRecolorsUntil(now + kOwnerEdgeWindow);
    sampler_.forcePublishNextFrame(true);

    memory_.beginHold(services_.loop.uptime(), sampler_.colorPublishSeq());
    const auto* cached = memory_.cache().find(*owner);
    applyMemoryHold(cached ? cached->hold : currentColors());
    scheduleMemoryHoldChecks();
}

void MenuBarOverlayController::releaseMemoryHoldIfSettled() {
    if (!memory_.holdSettled(services_.loop.uptime(), sampler_.colorPublishSeq())) return;
    memory_.endHold();
    applyMemoryHold(std::nullopt);
}

void MenuBarOverlayController::scheduleColorFlush() {
    if (!isVisible_ || colorFlushScheduled_) return;
    colorFlushScheduled_ = true;
    later([this] { flushColors(); });
}

void MenuBarOverlayController::attachOverviewDetector(OverviewDetector& detector) {
    overviewDetector_ = &detector;
    overviewObserver_ =
        detector.isOverviewActive.stream().receiveOn(services_.loop).sink([this](const bool& active) {
            setOverviewActive(active);
        });
    updateOverviewDemand();
}

void MenuBarOverlayController::updateOverviewDemand() {
    if (!overviewDetector_) return;
    if (settings_.masterEnabled() && !sampler_.screensAsleep())
        overviewDetector_->acquire("overlay");
    else
        overviewDetector_->release("overlay");
}

}  // namespace velaro
