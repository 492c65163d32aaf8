// Putting the overlay windows on screen and taking them off: fades, the corner layout under the band, the
// unified windows and their colour hold, the coalesced colour flush, and the overview's withdrawal.
#include "overlay/MenuBarOverlayController.h"
#include "platform/Workspace.h"

namespace velaro {

namespace {

constexpr OverlayAnimation kCornerFadeIn{0.35, TimingCurve::easeOut};
constexpr OverlayAnimation kCornerFadeOut{0.35, TimingCurve::easeIn};
constexpr OverlayAnimation kFrameSlide{0.3, TimingCurve::easeOut};
// The colour hold is checked just after each of its limits.
constexpr double kEarlyHoldCheck = ColorMemory::kMinHold;
constexpr double kLateHoldCheck = ColorMemory::kMaxHold + 0.05;

bool isTopCorner(ScreenCorner c) {
    return c == ScreenCorner::topLeft || c == ScreenCorner::topRight;
}
bool isBottomCorner(ScreenCorner c) {
    return c == ScreenCorner::bottomLeft || c == ScreenCorner::bottomRight;
}

// Orders the windows in front at `alpha`, all in one frame.
void orderInTogether(OverlayWindowHost& host, const std::vector<OverlayWindow*>& windows, double alpha) {
    auto batch = host.batch();
    for (auto* w : windows) {
        w->setAlphaValue(alpha);
        w->orderFrontRegardless();
    }
    for (auto* w : windows) w->displayIfNeeded();
}

}  // namespace

std::vector<OverlayWindow*> MenuBarOverlayController::separateModeWindows() const {
    std::vector<OverlayWindow*> out;
    for (const auto& s : screens_)
        if (auto* band = bandWindowOf(s)) out.push_back(band);
    for (const auto& s : screens_) {
        for (const auto& corner : s.corners) {
            const ScreenCorner c = corner->corner();
            const bool stacked = isTopCorner(c) || (isBottomCorner(c) && cornerZ(c) == BottomCornerZ::above);
            if (stacked && cornerRadius(c, s.screen) > 0) out.push_back(&corner->window());
        }
    }
    return out;
}

void MenuBarOverlayController::showCornerWindowsImmediately() {
    if (overviewActive_) return;
    orderInTogether(services_.host, separateModeWindows(), 1.0);
}

void MenuBarOverlayController::fadeInCornerWindows() {
    if (overviewActive_) return;
    if (settings_.keepOverlayAlwaysOn()) {
        showCornerWindowsImmediately();
        return;
    }
    const auto list = separateModeWindows();
    orderInTogether(services_.host, list, 0);
    std::vector<OverlayWindowChange> changes;
    for (auto* w : list) changes.push_back({w, 1.0, std::nullopt});
    services_.host.animate(kCornerFadeIn, changes);
}

void MenuBarOverlayController::hideCornerWindowsImmediately() {
    withdrawSeparateWindows(separateModeWindows());
}

void MenuBarOverlayController::withdrawSeparateWindows(const std::vector<OverlayWindow*>& windows) {
    auto batch = services_.host.batch();
    for (auto* w : windows) {
        w->orderOut();
        w->setAlphaValue(0);
    }
    // Nothing shows the frosted images any more; they must not flash in when the overlay shows again.
    sampler_.clearBlurredBackdrops();
    sampler_.clearBlurredCorners(true, true);
    for (auto* w : windows) w->displayIfNeeded();
}

void MenuBarOverlayController::fadeOutCornerWindows() {
    const auto list = separateModeWindows();
    std::vector<OverlayWindowChange> changes;
    std::vector<WindowNumber> faded;
    for (auto* w : list) {
        changes.push_back({w, 0.0, std::nullopt});
        faded.push_back(w->windowNumber());
    }
    // The fade may end because a rebuild destroyed its windows: find them again by number, later, and leave
    // alone whatever is gone by then.
    services_.host.animate(kCornerFadeOut, changes, lifetime_.guard([this, faded] {
        later([this, faded] {
            if (isVisible_) return;
            std::vector<OverlayWindow*> windows;
            for (WindowNumber n : faded)
                if (auto* w = services_.host.windowWithNumber(n)) windows.push_back(w);
            withdrawSeparateWindows(windows);
        });
    }));
}

void MenuBarOverlayController::layoutCornerWindows() {
    // Hidden overlay or master switch off: the ears follow the band's height, but stay out.
    const bool orderIn = isVisible_ && settings_.masterEnabled();
    for (auto& s : screens_) {
        for (auto& cornerWindow : s.corners) {
            const ScreenCorner c = cornerWindow->corner();
            if (!isTopCorner(c) && !(isBottomCorner(c) && cornerZ(c) == BottomCornerZ::above)) continue;
            if (overviewActive_) continue;
            auto& w = cornerWindow->window();
            const double r = cornerRadius(c, s.screen);
            if (r <= 0) {
                w.orderOut();
                continue;
            }
            w.setFrame(cornerFrame(c, s.screen, r), true);
            if (orderIn) {
                w.setAlphaValue(1.0);
                w.orderFrontRegardless();
            }
        }
    }
    updateTopBlurGeometry();
}

void MenuBarOverlayController::orderFrontBarWindows() {
    if (!isVisible_ || !settings_.masterEnabled()) return;
    if (!overviewActive_)
        for (auto& s : screens_)
            if (auto* band = bandWindowOf(s)) band->orderFrontRegardless();
    layoutCornerWindows();
}

void MenuBarOverlayController::orderFrontCornerWindows() {
    if (!settings_.masterEnabled()) return;
    for (auto& s : screens_) {
        auto* band = bandWindowOf(s);
        for (auto& cornerWindow : s.corners) {
            const ScreenCorner c = cornerWindow->corner();
            const BottomCornerZ z = isTopCorner(c) ? BottomCornerZ::above : cornerZ(c);
            const bool bottomOnWallpaper = isBottomCorner(c) && z == BottomCornerZ::wallpaper;
            const bool screenTop = !isTopCorner(c) && !isBottomCorner(c) && z != BottomCornerZ::belowActive;
            if (!(bottomOnWallpaper || screenTop) || cornerRadius(c, s.screen) <= 0 || overviewActive_)
                continue;
            auto& w = cornerWindow->window();
            w.setAlphaValue(1.0);
            if (screenTop && band && band->isVisible() && band->level() == w.level())
                w.orderBelow(band->windowNumber());
            else
                w.orderFrontRegardless();
        }
    }
}

void MenuBarOverlayController::handleActivation() {
    if (!isVisible_) return;
    if (sampler_.isSamplingFrozen() || sampler_.isForeignMenuOpen()) return;
    refreshWindows();
    orderFrontBarWindows();
}

void MenuBarOverlayController::presentUnifiedWindows(bool instant) {
    std::vector<std::pair<OverlayWindow*, UnifiedPresenter*>> unified;
    for (auto& s : screens_)
        if (s.band && s.band->presenter()) unified.emplace_back(&s.band->window(), s.band->presenter());
    auto makeVisible = [this](OverlayWindow& w) {
        auto batch = services_.host.batch();
        w.setAlphaValue(1.0);
        w.orderFrontRegardless();
        w.displayIfNeeded();
    };
    if (settings_.keepOverlayAlwaysOn()) {
        for (auto& [w, p] : unified)
            if (!overviewActive_) makeVisible(*w);
        layoutCornerWindows();
        // Mark them shown as well: otherwise turning "always on" off while a window fills the top leaves a
        // band that was never revealed.
        revealUnifiedWindows(true);
        return;
    }
    for (auto& [w, p] : unified) {
        if (p->shown()) {
            layoutCornerWindows();
            return;
        }
    }
    for (auto& [w, p] : unified)
        if (!overviewActive_) makeVisible(*w);
    layoutCornerWindows();
    if (!instant && unifiedMode_.reveal.begin)
        unifiedMode_.reveal.begin();
    else
        revealUnifiedWindows(instant);
}

void MenuBarOverlayController::revealUnifiedWindows(bool instant) {
    for (auto* p : presenters()) {
        p->revealInstant = instant;
        p->shown = true;
    }
}

void MenuBarOverlayController::clearRevealPending() {
    if (unifiedMode_.reveal.clear) unifiedMode_.reveal.clear();
}

void MenuBarOverlayController::hideUnifiedWindows() {
    clearRevealPending();
    if (memory_.isHolding()) {
        memory_.endHold();
        applyMemoryHold(std::nullopt);
    }
    for (auto& s : screens_) {
        if (!s.band || !s.band->presenter()) continue;
        auto batch = services_.host.batch();
        s.band->window().orderOut();
        s.band->presenter()->shown = false;
    }
}

void MenuBarOverlayController::applyMemoryHold(const std::optional<RevealColorHold>& hold) {
    for (auto* p : presenters()) {
        p->memoryHold = hold;
        p->memoryGeneration = p->memoryGeneration() + 1;
    }
}

void MenuBarOverlayController::scheduleMemoryHoldChecks() {
    const auto generation = memory_.edgeGeneration();
    auto check = [this, generation] {
        if (generation == memory_.edgeGeneration()) releaseMemoryHoldIfSettled();
    };
    holdCheckEarly_ = services_.loop.postAfter(kEarlyHoldCheck, check);
    holdCheckLate_ = services_.loop.postAfter(kLateHoldCheck, check);
}

void MenuBarOverlayController::flushColors() {
    colorFlushScheduled_ = false;
    if (!isVisible_) return;
    auto batch = services_.host.batch();
    for (auto& s : screens_)
        if (auto* band = bandWindowOf(s)) band->displayIfNeeded();
}

void MenuBarOverlayController::animateFrame(const Rect& frame, OverlayWindow& window) {
    services_.host.animate(kFrameSlide, {OverlayWindowChange{&window, std::nullopt, frame}});
}

std::vector<OverlayWindow*> MenuBarOverlayController::allOverlayWindows() const {
    std::vector<OverlayWindow*> out;
    for (const auto& s : screens_)
        if (auto* band = bandWindowOf(s)) out.push_back(band);
    for (const auto& s : screens_)
        for (const auto& corner : s.corners) out.push_back(&corner->window());
    return out;
}

void MenuBarOverlayController::setOverviewActive(bool active) {
    if (active == overviewActive_) return;
    overviewActive_ = active;
    updateDriftClock();
    if (active) {
        const auto all = allOverlayWindows();
        if (all.empty()) return;
        auto batch = services_.host.batch();
        for (auto* w : all) w->orderOut();
        for (auto* w : all) w->displayIfNeeded();
        return;
    }
    {
        auto batch = services_.host.batch();
        for (auto& s : screens_)
            if (auto* band = bandWindowOf(s)) band->setAlphaValue(1.0);
        for (auto& s : screens_)
            if (auto* band = bandWindowOf(s)) band->displayIfNeeded();
    }
    refreshWindows();
    orderFrontBarWindows();
}

void MenuBarOverlayController::installObservers() {
    observers_.push_back(services_.workspace.events().sink([this](const WorkspaceEvent& event) {
        if (event.kind == WorkspaceEvent::Kind::didActivateApplication ||
            event.kind == WorkspaceEvent::Kind::activeSpaceDidChange)
            handleActivation();
    }));
    observers_.push_back(
        services_.screens.parametersChanged().sink([this](const int&) { rebuildWindows(); }));
}

}  // namespace velaro
