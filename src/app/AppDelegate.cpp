// Start-up order, the one-time runtime start, the runtime's change streams and the demand rules.
#include "app/AppDelegate.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/StatusItemController.h"
#include "music/MusicProgressEngine.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "music/ProgressBarController.h"
#include "music/VizRenderController.h"
#include "onboarding/OnboardingWindowController.h"
#include "overlay/LightBeam.h"
#include "overlay/MenuShapeGeometry.h"
#include "overlay/OverlayDisabledBanner.h"
#include "platform/Permissions.h"
#include "platform/Updater.h"
#include "platform/Workspace.h"
#include "sampling/ExcludedAppsModel.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/UpdateCheckModel.h"

namespace velaro {

namespace {
// The detector's demand tag while no overlay controller holds it.
constexpr const char* kOverviewTag = "shell";
}  // namespace

AppDelegate::AppDelegate(AppDelegateServices services)
    : services_(std::move(services)),
      loop_(services_.loop),
      windowPolicy_(services_.dockPolicy, loop_),
      visibility_(loop_, [this] { return overlayController_.get(); }) {
    screenSampler_ = std::make_unique<ScreenSampler>(services_.sampler);
    overlaySettings_ = std::make_unique<OverlaySettings>(services_.defaults, loop_);
    loginItem_ = std::make_unique<LoginItemManager>(services_.loginItem);
    profileManager_ = std::make_unique<ProfileManager>(services_.defaults);
    services_.updater.start();
    // The settings navigation starts on the Appearance page (its own default).
    missionControlDetector_ =
        std::make_unique<MissionControlDetector>(services_.windowList, services_.sampler.screens,
                                                 services_.sampler.workspace, loop_, services_.overviewShell);
    greenButtonFill_ = std::make_unique<GreenButtonFillController>(services_.greenButton);
    hotkeyCenter_ = std::make_unique<HotkeyCenter>(services_.hotkeys, loop_);
}

AppDelegate::~AppDelegate() {
    *alive_ = false;
    // The popover's views read the sampler, the settings and the app watcher.
    statusItem_.reset();
    // The windows and the controller read the sampler and the settings: they go first.
    lightBeamWindow_.reset();
    reminderBanner_.reset();
    cancellables_.clear();
    overviewObserver_.cancel();
    spaceObserver_.cancel();
    vizRenderController_.reset();
    progressBarController_.reset();
    if (vizAudioEngine_) vizAudioEngine_->stop();
    vizAudioEngine_.reset();
    if (engineDemandActive_) MusicProgressEngine::shared().stop();
    overlayController_.reset();
    menuShapeGeometry_.reset();
    appWatcher_.reset();
    onboardingWindow_.reset();
    settingsWindow_.reset();
    if (overlaySettings_) overlaySettings_->isEditingActive = nullptr;
}

void AppDelegate::later(std::function<void()> block) {
    loop_.post([alive = std::weak_ptr<bool>(alive_), block = std::move(block)] {
        if (alive.lock()) block();
    });
}

// ---- launch ----

void AppDelegate::applicationDidFinishLaunching() {
    setSamplerMaster(overlaySettings_->masterEnabled());
    setupStatusItem();
    overlaySettings_->attachProfileManager(*profileManager_);
    hotkeyCenter_->start(*overlaySettings_);
    overlaySettings_->isEditingActive = [this, alive = std::weak_ptr<bool>(alive_)] {
        return alive.lock() && isEditingActive();
    };

    const OnboardingStep step = storedOnboardingStep(services_.defaults);
    if (step != OnboardingStep::completed) showOnboarding();
    applyDockIconPolicy();

    // Before the capture is allowed, the tour's first pages explain it; the tour starts the runtime later.
    if ((step == OnboardingStep::welcome || step == OnboardingStep::permissions) &&
        !services_.permissions.screenCaptureAllowed())
        return;
    startRuntimeOnce();
}

void AppDelegate::startRuntimeOnce() {
    if (runtimeStarted_) return;
    runtimeStarted_ = true;
    startRuntime();
}

void AppDelegate::startRuntime() {
    AppWatcherSamplerHooks hooks;
    hooks.refresh = [this] { screenSampler_->refresh(); };
    hooks.isEnabled = [this] { return screenSampler_->enabled; };
    hooks.enableAndReconcile = [this] {
        screenSampler_->enabled = true;
        screenSampler_->reconcile();
    };
    appWatcher_ = std::make_unique<AppWatcher>(services_.sampler.workspace, services_.catalog,
                                               services_.windowEvents, loop_, std::move(hooks));
    appWatcher_->onFrontmostPID = [this, alive = std::weak_ptr<bool>(alive_)](std::int32_t pid) {
        if (alive.lock()) greenButtonFill_->frontmostAppChanged(pid);
    };
    greenButtonFill_->attach(*overlaySettings_);

    const auto weak = std::weak_ptr<bool>(alive_);
    menuShapeGeometry_ = std::make_unique<MenuShapeGeometry>(
        [this] { return services_.sampler.screens.screens(); }, services_.menuBarItems,
        [this, weak] { return weak.lock() ? overlaySettings_->corners() : CornerSettings{}; },
        [this, weak](PillGeometryByScreen pills) {
            if (weak.lock()) overlaySettings_->pillGeometryByScreen = std::move(pills);
        });

    setupOverlayController();
    installSettingsObservers();

    setSamplerLightReflections(overlaySettings_->lightReflectionsEnabled());
    scheduleBeamSync();
    updateSamplerDemand();

    if (!overlaySettings_->masterEnabled() && !isTourVisible() && !isSettingsVisible()) {
        reminderBanner_.reset();
        reminderBanner_ =
            std::make_unique<ReminderBannerWindow>(services_.overlayHost, loop_, services_.sampler.screens);
        reminderBanner_->show(bannerDuration);
    }

    updateProgressEngineDemand();
    syncVisualizer();
    syncProgressBar();
    later([this] { computePillGeometries(); });
}

bool AppDelegate::isEditingActive() const {
    if (isTourVisible()) return false;
    return isSettingsVisible();
}

void AppDelegate::tourRequestsRuntime() {
    startRuntimeOnce();
}

void AppDelegate::tourWindowDidClose() {
    OnboardingWindowController* closed = onboardingWindow_.get();
    later([this, closed] {
        if (onboardingWindow_.get() == closed) {
            if (closed && closed->window())
                windowPolicy_.removeWindow(WindowNumber(closed->window()->winId()));
            onboardingWindow_.reset();
        }
        startRuntimeOnce();
        if (isSettingsVisible()) {
            overlaySettings_->reapplyProfileOverrides();
            return;
        }
        // A tray-only app gives the focus back once the tour that held it is gone.
        windowPolicy_.tourDidClose();
    });
}

bool AppDelegate::applicationShouldHandleReopen() {
    closePopover();
    if (isTourVisible()) {
        onboardingWindow_->show();
    } else {
        openSettings();
    }
    return false;
}

void AppDelegate::applicationWillTerminate() {
    closePopover();
}

// ---- windows ----

void AppDelegate::setupStatusItem() {
    if (!services_.tray) return;
    statusItem_ = std::make_unique<StatusItemController>(
        *services_.tray, *overlaySettings_,
        StatusItemController::hooksFor(*this, {loop_,
                                               services_.permissions,
                                               [this, weak = std::weak_ptr<bool>(alive_)] {
                                                   if (weak.lock()) services_.updater.checkForUpdates();
                                               },
                                               {}}));
    // Its first look follows the stored master switch.
    statusItem_->setup();
}

void AppDelegate::updateStatusItemAppearance(bool active) {
    if (statusItem_) statusItem_->updateAppearance(active);
}

void AppDelegate::closePopover() {
    if (statusItem_) statusItem_->closePopover();
    setPopoverOpen(false);
}

void AppDelegate::setPopoverOpen(bool open) {
    if (popoverOpen_ == open) return;
    popoverOpen_ = open;
    updateSamplerDemand();
}

void AppDelegate::applyDockIconPolicy() {
    WindowNumber front = 0;
    if (isTourVisible() && onboardingWindow_->window())
        front = WindowNumber(onboardingWindow_->window()->winId());
    else if (isSettingsVisible())
        front = WindowNumber(settingsWindow_->winId());
    windowPolicy_.applyDockIconPolicy(overlaySettings_->showDockIcon(), isTourVisible(), front);
}

bool AppDelegate::isTourVisible() const {
    return onboardingWindow_ && onboardingWindow_->isVisible();
}

bool AppDelegate::isSettingsVisible() const {
    return settingsWindow_ && settingsWindow_->isVisible();
}

void AppDelegate::showOnboarding(std::optional<OnboardingStep> startStep, std::optional<bool> persists) {
    // At most one of the tour and the settings shows.
    if (settingsWindow_) settingsWindow_->hide();
    if (!onboardingWindow_) {
        const OnboardingStep step = startStep.value_or(storedOnboardingStep(services_.defaults));
        // A replay after completion shows the tour from its start without moving the stored step back.
        const bool persistsProgress = persists.value_or(step != OnboardingStep::completed);
        const auto weak = std::weak_ptr<bool>(alive_);
        auto content = std::make_unique<OnboardingRootView>(OnboardingRootView::Model{
            .settings = *overlaySettings_,
            .loginItem = *loginItem_,
            .permissions = services_.permissions,
            .loop = loop_,
            .openSettings =
                [this, weak] {
                    if (weak.lock()) openSettings();
                },
            .finish =
                [this, weak] {
                    if (weak.lock() && onboardingWindow_) onboardingWindow_->closeWindowAction();
                },
            .startRuntime =
                [this, weak] {
                    if (weak.lock()) tourRequestsRuntime();
                },
            .step = startPage(step),
            .persistsProgress = persistsProgress,
            .reduceMotion = services_.reduceMotion && services_.reduceMotion(),
        });
        onboardingWindow_ =
            std::make_unique<OnboardingWindowController>(std::move(content), services_.toolkitWindows);
        onboardingWindow_->onClose = [this, weak] {
            if (weak.lock()) tourWindowDidClose();
        };
        if (onboardingWindow_->window())
            windowPolicy_.addWindow(WindowNumber(onboardingWindow_->window()->winId()));
    }
    onboardingWindow_->show();
}

void AppDelegate::openSettings(std::optional<SettingsCategory> section) {
    if (section) settingsNavigation_.selection = section;
    if (isTourVisible()) onboardingWindow_->closeWindowAction();
    if (!settingsWindow_) {
        const auto weak = std::weak_ptr<bool>(alive_);
        auto* root = new SettingsRootView({
            .showWelcomeTour =
                [this, weak] {
                    if (weak.lock()) showOnboarding();
                },
            .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck(); },
            .settings = *overlaySettings_,
            .loginItem = {loginItem_->isEnabled(),
                          [this, weak](bool on) {
                              if (weak.lock()) loginItem_->setEnabled(on);
                          }},
            .profileManager = *profileManager_,
            .navigation = settingsNavigation_,
            .loop = loop_,
            .makeExcludedAppsModel =
                [this] {
                    return std::make_unique<ExcludedAppsModel>(services_.defaults, services_.catalog,
                                                               services_.sampler.workspace, loop_);
                },
            .about = AboutServices::standard(services_.defaults, &services_.sampler.topology),
        });
        settingsWindow_ =
            std::make_unique<SettingsWindow>(*overlaySettings_, *profileManager_, loop_, root, [this, weak] {
                if (weak.lock()) overlaySettings_->reapplyProfileOverrides();
            });
        settingsWindow_->onWillClose = [this, weak] {
            if (weak.lock()) windowPolicy_.settingsWindowWillClose(*profileManager_, *overlaySettings_);
        };
        settingsWindow_->onDidBecomeKey = [this, weak] {
            if (weak.lock()) windowPolicy_.settingsWindowDidBecomeKey(*overlaySettings_);
        };
        if (!services_.toolkitWindows) settingsWindow_->setAttribute(Qt::WA_DontShowOnScreen, true);
        // It opens centred on the primary screen; later opens keep wherever the user moved it.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = settingsWindow_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            settingsWindow_->move(frame.topLeft());
        }
        windowPolicy_.addWindow(WindowNumber(settingsWindow_->winId()));
    }
    // A minimised window comes back as it was.
    if (settingsWindow_->isMinimized())
        settingsWindow_->setWindowState(settingsWindow_->windowState() & ~Qt::WindowMinimized);
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
    overlaySettings_->reapplyProfileOverrides();
}

UpdateCheckModel& AppDelegate::updateCheck() {
    if (!updateCheck_) updateCheck_ = std::make_unique<UpdateCheckModel>(services_.updater);
    return *updateCheck_;
}

// ---- runtime wiring ----

void AppDelegate::setSamplerMaster(bool enabled) {
    const bool was = screenSampler_->masterEnabled;
    screenSampler_->masterEnabled = enabled;
    screenSampler_->setSamplingActive(was);
}

void AppDelegate::setSamplerLightReflections(bool enabled) {
    const bool was = screenSampler_->lightReflectionsEnabled;
    screenSampler_->lightReflectionsEnabled = enabled;
    screenSampler_->lightReflectionsDidChange(was);
}

void AppDelegate::setupOverlayController() {
    if (services_.makeOverlayController)
        overlayController_ =
            services_.makeOverlayController(*screenSampler_, *overlaySettings_, *appWatcher_);
    const auto weak = std::weak_ptr<bool>(alive_);
    screenSampler_->onSlideGateChanged = [this, weak] {
        if (weak.lock()) slideGateChanged();
    };
    if (overlayController_) {
        overlayController_->setOnRevealPendingChanged([this, weak] {
            if (weak.lock()) updateSamplerDemand();
        });
        overlayController_->setOnVisibilityChanged([this, weak](bool) {
            if (weak.lock()) scheduleBeamSync();
        });
        overlayController_->attachOverviewDetector(*missionControlDetector_);
    } else {
        // Without a controller nobody else holds the detector; the music features still follow it.
        missionControlDetector_->acquire(kOverviewTag);
    }
    overviewObserver_ =
        missionControlDetector_->isOverviewActive.changes().receiveOn(loop_).sink([this, weak](bool active) {
            if (weak.lock()) overviewChanged(active);
        });
}

void AppDelegate::installSettingsObservers() {
    OverlaySettings& s = *overlaySettings_;
    ScreenSampler& sampler = *screenSampler_;
    const auto weak = std::weak_ptr<bool>(alive_);
    // Every handler is queued to a later turn of the loop: values notify before they are stored.
    auto on = [this, weak](std::function<void()> block) {
        return [this, weak, block = std::move(block)](const auto&) {
            if (weak.lock()) block();
        };
    };
    auto signal = [](const auto& stream) { return stream.map([](const auto&) { return 0; }); };
    auto& c = cancellables_;

    // 1: anything that changes whether capture is needed.
    c.push_back(merge(signal(s.style.stream()), signal(s.autoSample.stream()), signal(s.blurEnabled.stream()),
                      signal(s.overlayEnabled.stream()), signal(s.keepOverlayAlwaysOn.stream()),
                      signal(s.emptyDesktopMode.stream()), signal(s.lightReflectionsEnabled.stream()),
                      signal(s.corners.stream()), signal(s.manualSeparateCorners.stream()),
                      signal(s.vizEnabled.stream()), signal(s.progressEnabled.stream()))
                    .receiveOn(loop_)
                    .sink(on([this] { updateSamplerDemand(); })));
    // 2
    c.push_back(s.showDockIcon.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        on([this] { applyDockIconPolicy(); })));
    // 3
    c.push_back(s.lightReflectionsEnabled.stream().removeDuplicates().receiveOn(loop_).sink(on([this] {
        setSamplerLightReflections(overlaySettings_->lightReflectionsEnabled());
        scheduleBeamSync();
    })));
    // 4
    c.push_back(s.vizEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(on([this] {
        updateProgressEngineDemand();
        syncVisualizer();
    })));
    // 5
    c.push_back(s.progressEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(on([this] {
        updateProgressEngineDemand();
        syncProgressBar();
    })));
    // 6
    c.push_back(s.masterEnabled.stream().removeDuplicates().receiveOn(loop_).sink([this, weak](bool enabled) {
        if (weak.lock()) applyMasterEnabled(enabled);
    }));
    // 7
    c.push_back(s.masterEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(on([this] {
        updateProgressEngineDemand();
        syncVisualizer();
        syncProgressBar();
    })));
    // 8: the sync is deferred by itself, so the handler may run at once; triggers of one turn share a sync.
    c.push_back(
        sampler.pointerInBeamBand.stream().removeDuplicates().sink(on([this] { scheduleBeamSync(); })));
    // 9: a desktop switch.
    spaceObserver_ = services_.sampler.workspace.events()
                         .filter([](const WorkspaceEvent& e) {
                             return e.kind == WorkspaceEvent::Kind::activeSpaceDidChange;
                         })
                         .sink(on([this] { visibility_.noteSpaceChange(); }));

    if (!appWatcher_) return;
    AppWatcher& watcher = *appWatcher_;
    // 10
    c.push_back(watcher.activeBundleID.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        on([this] { visibility_.noteAppSwitch(); })));
    // 11
    c.push_back(watcher.activeBundleID.stream().removeDuplicates().receiveOn(loop_).sink(
        [this, weak](const std::optional<std::string>& id) {
            if (weak.lock()) overlaySettings_->setRuntimeBundleID(id);
        }));
    // 12
    c.push_back(sampler.filledOwnerBundleID.stream().removeDuplicates().receiveOn(loop_).sink(
        [this, weak](const std::optional<std::string>& id) {
            if (weak.lock()) overlaySettings_->setRuntimeFilledOwner(id);
        }));
    // 13
    c.push_back(watcher.activeBundleID.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        on([this] { computePillGeometries(); })));
    // 14: the pill numbers, once the user stops dragging.
    c.push_back(s.corners.stream()
                    .map([](const CornerSettings& k) {
                        return std::vector<double>{k.pillHPadding, k.pillLeftHOffset, k.pillRightHOffset,
                                                   k.pillSeparateSides ? 1.0 : 0.0};
                    })
                    .removeDuplicates()
                    .dropFirst()
                    .debounce(loop_, 0.2)
                    .sink(on([this] { computePillGeometries(); })));
    // 15
    c.push_back(services_.sampler.screens.parametersChanged().receiveOn(loop_).sink(
        on([this] { computePillGeometries(); })));
    // 16
    c.push_back(combineLatest(sampler.colorPulse.stream(), sampler.isFilledWindowActive.stream(),
                              watcher.usingOverride.stream(), watcher.activeBundleID.stream())
                    .receiveOn(loop_)
                    .sink(on([this] { updateOverlayVisibility(); })));
    // 17
    c.push_back(s.layerPosition.stream().receiveOn(loop_).sink(on([this] { updateOverlayVisibility(); })));
    // 18
    c.push_back(sampler.excludedAppCovering.stream().receiveOn(loop_).sink(
        on([this] { updateOverlayVisibility(); })));
    // 19
    c.push_back(merge(signal(s.keepOverlayAlwaysOn.stream()), signal(s.emptyDesktopMode.stream()))
                    .receiveOn(loop_)
                    .sink(on([this] { updateOverlayVisibility(); })));
    // 20
    c.push_back(s.overlayEnabled.stream().removeDuplicates().receiveOn(loop_).sink(
        on([this] { updateOverlayVisibility(); })));
}

void AppDelegate::applyMasterEnabled(bool enabled) {
    setSamplerMaster(enabled);
    updateOverlayVisibility();
    scheduleBeamSync();
    updateStatusItemAppearance(enabled);
}

void AppDelegate::updateSamplerDemand() {
    ScreenSampler& sampler = *screenSampler_;
    const bool demand = overlaySettings_->needsScreenCapture() || popoverOpen_ ||
                        (overlayController_ && overlayController_->unifiedRevealPending());
    const bool changed = sampler.captureDemand != demand;
    sampler.captureDemand = demand;
    if (!changed) return;
    sampler.reconcile();
    // A stream left open with nothing demanding it is logged once by the sampler.
    sampler.undemandedOpenLogged = sampler.hasActiveStream() ? !demand : false;
}

void AppDelegate::updateProgressEngineDemand() {
    const OverlaySettings& s = *overlaySettings_;
    const bool wanted = s.masterEnabled() && (s.progressEnabled() || s.vizEnabled());
    if (wanted == engineDemandActive_) return;
    engineDemandActive_ = wanted;
    if (wanted)
        MusicProgressEngine::shared().start();
    else
        MusicProgressEngine::shared().stop();
}

void AppDelegate::syncVisualizer() {
    OverlaySettings& s = *overlaySettings_;
    if (s.masterEnabled() && s.vizEnabled()) {
        if (vizAudioEngine_) return;
        auto engine = services_.makeVisualizerEngine ? services_.makeVisualizerEngine() : nullptr;
        if (engine) engine->start();
        if (!engine || !engine->isRunning()) {
            s.vizStatus = std::optional<std::string>(vizStartFailure);
            return;
        }
        vizAudioEngine_ = std::move(engine);
        // An engine that stops by itself (its capture could not be rebuilt) is dropped as a failed start.
        vizAudioEngine_->setOnFailure([this] { later([this] { visualizerEngineStopped(); }); });
        vizRenderController_ = std::make_unique<VizRenderController>(
            VizRenderServices::make(services_.loop, services_.overlayHost, services_.sampler.screens,
                                    *vizAudioEngine_, *screenSampler_),
            s);
        vizRenderController_->setOverviewActive(missionControlDetector_->isOverviewActive());
        s.vizStatus = std::nullopt;
        return;
    }
    if (vizRenderController_) {
        vizRenderController_->stop();
        vizRenderController_.reset();
    }
    if (vizAudioEngine_) {
        vizAudioEngine_->stop();
        vizAudioEngine_.reset();
    }
    s.vizStatus = std::nullopt;
}

void AppDelegate::visualizerEngineStopped() {
    if (!vizAudioEngine_ || vizAudioEngine_->isRunning()) return;
    if (vizRenderController_) vizRenderController_->stop();
    vizRenderController_.reset();
    vizAudioEngine_.reset();
    overlaySettings_->vizStatus = std::optional<std::string>(vizStartFailure);
}

void AppDelegate::syncProgressBar() {
    OverlaySettings& s = *overlaySettings_;
    if (s.masterEnabled() && s.progressEnabled()) {
        if (progressBarController_) return;
        progressBarController_ =
            std::make_unique<ProgressBarController>(MusicProgressEngine::shared(), *screenSampler_, s);
        progressBarController_->setOverviewActive(missionControlDetector_->isOverviewActive());
        return;
    }
    if (progressBarController_) {
        progressBarController_->stop();
        progressBarController_.reset();
    }
}

void AppDelegate::scheduleBeamSync() {
    if (beamSyncScheduled_) return;
    beamSyncScheduled_ = true;
    later([this] {
        beamSyncScheduled_ = false;
        syncLightBeamWindow();
    });
}

bool AppDelegate::shouldShowLightBeam() const {
    if (!overlaySettings_->masterEnabled()) return false;
    if (!overlaySettings_->lightReflectionsEnabled()) return false;
    if (!overlayController_ || !overlayController_->isVisible()) return false;
    if (!screenSampler_->pointerInBeamBand()) return false;
    return !missionControlDetector_->isOverviewActive();
}

void AppDelegate::syncLightBeamWindow() {
    ++beamSyncCount_;
    if (!shouldShowLightBeam()) {
        if (lightBeamWindow_) {
            lightBeamWindow_->window().orderOut();
            lightBeamWindow_.reset();
        }
        return;
    }
    const auto main = services_.sampler.screens.mainScreen();
    if (!main) return;
    if (!lightBeamWindow_) {
        const ScreenSampler& sampler = *screenSampler_;
        lightBeamWindow_ = LightBeamWindow::make(
            services_.overlayHost, loop_, *main,
            BeamFeed{&sampler.beamColor, &sampler.beamVividColor, &sampler.beamNormalizedX},
            *overlaySettings_);
    }
    lightBeamWindow_->window().setFrame(LightBeamWindow::frameOver(*main), true);
    lightBeamWindow_->window().orderFrontRegardless();
}

void AppDelegate::updateOverlayVisibility() {
    const ScreenSampler& sampler = *screenSampler_;
    const OverlaySettings& s = *overlaySettings_;
    OverlayVisibility::Inputs in;
    in.masterEnabled = s.masterEnabled();
    in.overlayEnabled = s.overlayEnabled();
    in.excludedAppCovering = sampler.excludedAppCovering();
    in.slideGateOpen = sampler.isSlideGateOpen;
    in.keepOverlayAlwaysOn = s.keepOverlayAlwaysOn();
    in.filledWindowActive = sampler.isFilledWindowActive();
    in.pendingFilledState = sampler.pendingFilledState;
    visibility_.update(in);
    scheduleBeamSync();
}

void AppDelegate::slideGateChanged() {
    if (!screenSampler_->isSlideGateOpen) {
        if (overlayController_) {
            overlayController_->resetPrevTickOwner();
            overlayController_->orderFrontCornerWindows();
        }
        updateOverlayVisibility();
        if (!screenSampler_->pendingFilledState.value_or(false)) visibility_.clearHidUnderSlideGate();
        return;
    }
    updateOverlayVisibility();
}

void AppDelegate::overviewChanged(bool active) {
    scheduleBeamSync();
    if (progressBarController_) progressBarController_->setOverviewActive(active);
    if (vizRenderController_) vizRenderController_->setOverviewActive(active);
    screenSampler_->setOverviewActive(active);
}

void AppDelegate::computePillGeometries() {
    if (menuShapeGeometry_) menuShapeGeometry_->computePillGeometries();
}

}  // namespace velaro
