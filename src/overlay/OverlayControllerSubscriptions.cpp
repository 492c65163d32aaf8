// The change streams the controller follows: which setting or sampler value drives which reaction, shaped by
// which operators. Values are published before they are stored, so every reaction that reads the settings
// or the sampler again runs a turn of the loop later, when the new value is in place.
#include <variant>

#include "overlay/MenuBarOverlayController.h"

namespace velaro {

namespace {

// Several sources merged only say that one of them changed; the reaction reads the values itself.
template <class T>
Stream<std::monostate> changed(const Stream<T>& stream) {
    return stream.map([](const T&) { return std::monostate{}; });
}

}  // namespace

void MenuBarOverlayController::installSubscriptions() {
    MainLoop& loop = services_.loop;
    auto& s = settings_;
    auto& cs = cancellables_;
    auto refit = [this](const auto&) { updateBarFrames(); };

    cs.push_back(s.smoothColors.stream().receiveOn(loop).sink(
        [this](const bool& on) { sampler_.setSmoothingEnabled(on); }));
    cs.push_back(s.pauseOnMenuBarHover.stream().receiveOn(loop).sink(
        [this](const bool& on) { sampler_.setHoverGuardEnabled(on); }));
    cs.push_back(velaro::merge(changed(s.blurEnabled.stream()), changed(s.blurTopCorners.stream()),
                               changed(s.keepOverlayAlwaysOn.stream()), changed(s.emptyDesktopMode.stream()))
                     .receiveOn(loop)
                     .sink([this](const std::monostate&) {
                         setBlurCapture(settings_.blurActive());
                         updateTopBlurGeometry();
                         checkRenderMode();
                     }));
    cs.push_back(
        s.manualSeparateCorners.stream().receiveOn(loop).sink([this](const bool&) { checkRenderMode(); }));
    cs.push_back(s.blurRadius.stream().receiveOn(loop).sink(
        [this](const double& radius) { sampler_.setBlurRadius(radius); }));
    cs.push_back(s.style.stream().receiveOn(loop).sink(
        [this](const MenuBarStyle& style) { setLiveCapture(style == MenuBarStyle::live); }));
    cs.push_back(s.liveCaptureFPS.stream().removeDuplicates().receiveOn(loop).sink(
        [this](const int& fps) { setLiveCaptureFPS(fps); }));
    cs.push_back(velaro::merge(changed(s.layerPosition.stream()), changed(s.cornerScreenTopLeftZ.stream()),
                               changed(s.cornerScreenTopRightZ.stream()),
                               changed(s.cornerBottomLeftZ.stream()), changed(s.cornerBottomRightZ.stream()))
                     .receiveOn(loop)
                     .sink([this](const std::monostate&) { applyLevelsAndFrames(); }));
    cs.push_back(s.masterEnabled.stream().receiveOn(loop).removeDuplicates().sink([this](const bool&) {
        refreshWindows();
        updateOverviewDemand();
    }));
    cs.push_back(velaro::merge(changed(s.hueDrift.stream()), changed(s.autoSample.stream()),
                               changed(s.style.stream()), changed(s.overlayColorZones.stream()),
                               changed(s.masterEnabled.stream()))
                     .receiveOn(loop)
                     .sink([this](const std::monostate&) { updateDriftClock(); }));
    cs.push_back(sampler_.screensAsleep.stream().receiveOn(loop).removeDuplicates().sink([this](const bool&) {
        updateOverviewDemand();
        scheduleBelowActiveRepair();
        updateDriftClock();
    }));
    cs.push_back(s.overlayExtraDepth.stream().receiveOn(loop).sink(refit));
    cs.push_back(sampler_.seamSuppressed.stream().removeDuplicates().dropFirst().sink(
        [this](const bool&) { later([this] { updateBarFrames(); }); }));
    cs.push_back(s.seamCoverDepth.stream().receiveOn(loop).sink(refit));
    cs.push_back(sampler_.colorPulse.stream().receiveOn(loop).sink([this](const std::int64_t&) {
        scheduleColorFlush();
        releaseMemoryHoldIfSettled();
    }));
    // No hop: the edge needs the previous owner, which the sampler still holds while it announces the new
    // one.
    cs.push_back(sampler_.filledOwnerAppId.stream().sink(
        [this](const std::optional<std::string>& owner) { handleOwnerEdge(owner); }));
    sampler_.setOnOwnerTick(
        lifetime_.guard([this](const std::optional<std::string>& owner) { recordOwnerTick(owner); }));
    cs.push_back(s.corners.stream().receiveOn(loop).sink([this](const CornerSettings&) {
        checkRenderMode();
        updateBarFrames();
    }));
    cs.push_back(
        velaro::merge(changed(s.alwaysOnOverlayHeight.stream()), changed(s.alwaysOnCornerRadius.stream()))
            .dropFirst()
            .receiveOn(loop)
            .sink(refit));
    cs.push_back(s.keepOverlayAlwaysOn.stream().dropFirst().removeDuplicates().receiveOn(loop).sink(refit));
}

}  // namespace velaro
