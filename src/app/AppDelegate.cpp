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
#include "ui/settings/pages/UpdateCheckModel.h"

namespace velaro {

namespace {
// The detector's demand tag while no overlay controller holds it.
constexpr const char* kOverviewTag = "shell";
}  // namespace

AppDelegate::AppDelegate(AppDelegateServices services)
    : services_(std::move(services)),
      loop_(services_.loop),
      windowPolicy_(services_.taskbarPolicy, loop_),
      visibility_(loop_, [this] { return overlayController_.get(); }) {
    screenSampler_ = std::make_unique<ScreenSampler>(services_.sampler);
    overlaySettings_ = std::make_unique<OverlaySettings>(services_.defaults, loop_);
    loginItem_ = std::make_unique<LoginItemManager>(services_.loginItem);
    profileManager_ = std::make_unique<ProfileManager>(services_.defaults);
    services_.updater.start();
    // The settings navigation starts on the Appearance page (its own default).
    overviewDetector_ = std::make_unique<OverviewDetector>(
        services_.windowList, services_.sampler.screens, services_.sampler.workspace, loop_,
        services_.overviewShell, services_.desktopOverview);
    maximiseFill_ = std::make_unique<MaximiseFillController>(services_.maximiseButton);
    hotkeyCenter_ = std::make_unique<HotkeyCenter>(services_.hotkeys, loop_);
}

// The members' order is the teardown (see the header); the lifetime guard ends first.
AppDelegate::~AppDelegate() = default;

void AppDelegate::StopEngine::operator()(MusicVisualizerAudioEngine* engine) const {
    engine->stop();
    delete engine;
}

void AppDelegate::later(std::function<void()> block) {
    loop_.post(lifetime_.guard(std::move(block)));
}

void AppDelegate::afterFirstBand(std::function<void()> block) {
    if (!services_.afterWindowsShown) return later(std::move(block));
    services_.afterWindowsShown(lifetime_.guard(std::move(block)));
}

// ---- launch ----

void AppDelegate::applicationDidFinishLaunching() {
    screenSampler_->setMasterEnabled(overlaySettings_->masterEnabled());
    overlaySettings_->attachProfileManager(*profileManager_);
    hotkeyCenter_->start(*overlaySettings_);
    overlaySettings_->isEditingActive = [this, token = lifetime_.token()] {
        return token.aliveHere() && isEditingActive();
    };

    // With the tour done the band comes first: the server maps and exposes its windows while the status
    // item and the rest of the launch are built.
    const OnboardingStep step = storedOnboardingStep(services_.defaults);
    if (step == OnboardingStep::completed) startRuntimeOnce();
    // The desktop's icon theme is looked up once the band is out; the tray shows the app's own icon until
    // then.
    afterFirstBand([this] {
        if (services_.tray) services_.tray->useDesktopIcons();
    });
    setupStatusItem();
    if (step != OnboardingStep::completed) showOnboarding();
    applyTaskbarIconPolicy();

    // Outside an X11 session the tour's first pages say what is missing; the tour starts the runtime later.
    if (step != OnboardingStep::welcome && step != OnboardingStep::permissions) return startRuntimeOnce();
    services_.permissions.check(Capability::x11Session, lifetime_.guard([this](bool present) {
        if (present) startRuntimeOnce();
    }));
}

void AppDelegate::startRuntimeOnce() {
    if (runtimeStarted_) return;
    runtimeStarted_ = true;
    startRuntime();
}

void AppDelegate::startRuntime() {
    makeAppWatcher();
    makeMenuShapeGeometry();
    // The overlay's windows are made, stacked and mapped together when this ends: one restack for all of
    // them instead of one for each window as it is ordered in.
    services_.overlayHost.beginBatch();
    setupOverlayController();

    observeCaptureDemand();
    observeTaskbarIcon();
    observeMasterSwitch();
    observeLightReflections();
    observeMusicFeatures();
    observeDesktopAndAppSwitches();
    observeFrontApp();
    observePillGeometryInputs();
    observeOverlayVisibilityInputs();

    screenSampler_->setLightReflectionsEnabled(overlaySettings_->lightReflectionsEnabled());
    scheduleBeamSync();
    updateSamplerDemand();
    showReminderBannerIfDisabled();

    // The band shows now rather than when the first of the streams above delivers on a later turn: the
    // rule reads nothing those deliveries change.
    updateOverlayVisibility();
    services_.overlayHost.commitBatch();
    // The screen's corner windows follow the band's first picture. Asked here, the question goes to the
    // server right behind the band's windows, which are then mapped while the rest of the launch is built.
    afterFirstBand([this] {
        if (overlayController_) overlayController_->makeHeldWindows();
    });
    updateProgressEngineDemand();
    syncVisualizer();
    syncProgressBar();
    later([this] { computePillGeometries(); });
}

void AppDelegate::makeAppWatcher() {
    AppWatcherSamplerHooks hooks;
    hooks.refresh = [this] { screenSampler_->refresh(); };
    hooks.isEnabled = [this] { return screenSampler_->isEnabled(); };
    hooks.enableAndReconcile = [this] { screenSampler_->enable(); };
    appWatcher_ = std::make_unique<AppWatcher>(services_.sampler.workspace, services_.catalog,
                                               services_.windowEvents, loop_, std::move(hooks));
    appWatcher_->onFrontmostPID =
        lifetime_.guard([this](std::int32_t pid) { maximiseFill_->frontmostAppChanged(pid); });
    maximiseFill_->attach(*overlaySettings_);
}

void AppDelegate::makeMenuShapeGeometry() {
    menuShapeGeometry_ = std::make_unique<MenuShapeGeometry>(
        [this] { return services_.sampler.screens.screens(); }, services_.menuBarItems, loop_,
        [this, token = lifetime_.token()] {
            return token.aliveHere() ? overlaySettings_->corners() : CornerSettings{};
        },
        lifetime_.guard([this](PillGeometryByScreen pills) {
            overlaySettings_->pillGeometryByScreen = std::move(pills);
        }));
}

void AppDelegate::showReminderBannerIfDisabled() {
    if (overlaySettings_->masterEnabled() || isTourVisible() || isSettingsVisible()) return;
    reminderBanner_.reset();
    reminderBanner_ =
        std::make_unique<ReminderBannerWindow>(services_.overlayHost, loop_, services_.sampler.screens);
    reminderBanner_->show(bannerDuration);
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
        if (onboardingWindow_.get() == closed) onboardingWindow_.reset();
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
        bringForward(onboardingWindow_->window());
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
        StatusItemController::hooksFor(*this,
                                       {loop_,
                                        services_.permissions,
                                        lifetime_.guard([this] { services_.updater.checkForUpdates(); }),
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

void AppDelegate::applyTaskbarIconPolicy() {
    WindowNumber front = 0;
    if (isTourVisible() && onboardingWindow_->window())
        front = WindowNumber(onboardingWindow_->window()->winId());
    else if (isSettingsVisible())
        front = WindowNumber(settingsWindow_->winId());
    windowPolicy_.applyTaskbarIconPolicy(overlaySettings_->showTaskbarIcon(), isTourVisible(), front);
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
        auto content = std::make_unique<OnboardingRootView>(OnboardingRootView::Model{
            .settings = *overlaySettings_,
            .loginItem = {loginItem_->isEnabled(),
                          lifetime_.guard([this](bool on) { loginItem_->setEnabled(on); })},
            .permissions = services_.permissions,
            .loop = loop_,
            .openSettings = lifetime_.guard([this] { openSettings(); }),
            .finish = lifetime_.guard([this] {
                if (onboardingWindow_) onboardingWindow_->closeWindowAction();
            }),
            .startRuntime = lifetime_.guard([this] { tourRequestsRuntime(); }),
            .step = startPage(step),
            .persistsProgress = persistsProgress,
            .reduceMotion = services_.reduceMotion && services_.reduceMotion(),
        });
        onboardingWindow_ =
            std::make_unique<OnboardingWindowController>(std::move(content), services_.toolkitWindows);
        onboardingWindow_->onClose = lifetime_.guard([this] { tourWindowDidClose(); });
        // It keeps a taskbar entry while it can be minimised: a window manager that offers to minimise it
        // whatever it asks (openbox) would otherwise hide it where the user cannot find it.
        if (onboardingWindow_->window())
            windowPolicy_.follow(*onboardingWindow_->window(), TaskbarEntry::whileMinimisable);
    }
    onboardingWindow_->show();
    bringForward(onboardingWindow_->window());
}

void AppDelegate::openSettings(std::optional<SettingsCategory> section) {
    if (section) settingsNavigation_.selection = section;
    if (isTourVisible()) onboardingWindow_->closeWindowAction();
    if (!settingsWindow_) {
        auto* root = new SettingsRootView({
            .showWelcomeTour = lifetime_.guard([this] { showOnboarding(); }),
            .updateCheck = [this]() -> UpdateCheckModel& { return updateCheck(); },
            .settings = *overlaySettings_,
            .loginItem = {loginItem_->isEnabled(),
                          lifetime_.guard([this](bool on) { loginItem_->setEnabled(on); })},
            .profileManager = *profileManager_,
            .navigation = settingsNavigation_,
            .loop = loop_,
            .makeExcludedAppsModel =
                [this] {
                    return std::make_unique<ExcludedAppsModel>(services_.defaults, services_.catalog,
                                                               services_.sampler.workspace, loop_);
                },
            .about = AboutServices::standard(services_.defaults, &services_.sampler.topology),
            .topology = &services_.sampler.topology,
            .cornerPreview = {services_.wallpaper, &services_.sampler.screens, &services_.sampler.workspace},
            .shortcuts = {&services_.hotkeys, services_.keyboardLayout},
            .chooseApplication = standardApplicationChooser(services_.catalog),
        });
        settingsWindow_ = std::make_unique<SettingsWindow>(
            *overlaySettings_, *profileManager_, loop_, root,
            lifetime_.guard([this] { overlaySettings_->reapplyProfileOverrides(); }),
            ProfileSelectorServices::standard(&services_.catalog));
        settingsWindow_->onWillClose = lifetime_.guard(
            [this] { windowPolicy_.settingsWindowWillClose(*profileManager_, *overlaySettings_); });
        settingsWindow_->onDidBecomeKey =
            lifetime_.guard([this] { windowPolicy_.settingsWindowDidBecomeKey(*overlaySettings_); });
        if (!services_.toolkitWindows) settingsWindow_->setAttribute(Qt::WA_DontShowOnScreen, true);
        // It opens inside the primary screen's free area; later opens keep wherever the user moved it.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            settingsWindow_->placeInside(screen->availableGeometry());
        windowPolicy_.follow(*settingsWindow_, TaskbarEntry::byPolicy);
    }
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
    bringForward(settingsWindow_.get());
    overlaySettings_->reapplyProfileOverrides();
}

void AppDelegate::bringForward(QWidget* window) {
    if (!window) return;
    // A minimised window comes back as it was: the toolkit learns of it, and the window manager is asked.
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    windowPolicy_.bringForward(WindowNumber(window->winId()));
}

UpdateCheckModel& AppDelegate::updateCheck() {
    if (!updateCheck_) updateCheck_ = std::make_unique<UpdateCheckModel>(services_.updater);
    return *updateCheck_;
}

// ---- runtime wiring ----

void AppDelegate::setupOverlayController() {
    if (services_.makeOverlayController)
        overlayController_ =
            services_.makeOverlayController(*screenSampler_, *overlaySettings_, *appWatcher_);
    screenSampler_->setOnSlideGateChanged(lifetime_.guard([this] { slideGateChanged(); }));
    if (overlayController_) {
        overlayController_->setOnRevealPendingChanged(lifetime_.guard([this] { updateSamplerDemand(); }));
        overlayController_->setOnVisibilityChanged(lifetime_.guard([this](bool) { scheduleBeamSync(); }));
        overlayController_->attachOverviewDetector(*overviewDetector_);
    } else {
        // Without a controller nobody else holds the detector; the music features still follow it.
        overviewDetector_->acquire(kOverviewTag);
    }
    overviewObserver_ = overviewDetector_->isOverviewActive.changes().receiveOn(loop_).sink(
        lifetime_.guard([this](bool active) { overviewChanged(active); }));
}

namespace {
// A stream reduced to "something changed", so streams of different types merge.
template <class Stream>
auto signal(const Stream& stream) {
    return stream.map([](const auto&) { return 0; });
}
}  // namespace

// Anything that changes whether capture is needed.
void AppDelegate::observeCaptureDemand() {
    OverlaySettings& s = *overlaySettings_;
    cancellables_.push_back(merge(signal(s.style.stream()), signal(s.autoSample.stream()),
                                  signal(s.blurEnabled.stream()), signal(s.overlayEnabled.stream()),
                                  signal(s.keepOverlayAlwaysOn.stream()), signal(s.emptyDesktopMode.stream()),
                                  signal(s.lightReflectionsEnabled.stream()), signal(s.corners.stream()),
                                  signal(s.manualSeparateCorners.stream()), signal(s.vizEnabled.stream()),
                                  signal(s.progressEnabled.stream()))
                                .receiveOn(loop_)
                                .sink(lifetime_.guard([this](int) { updateSamplerDemand(); })));
}

void AppDelegate::observeTaskbarIcon() {
    cancellables_.push_back(
        overlaySettings_->showTaskbarIcon.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
            lifetime_.guard([this](bool) { applyTaskbarIconPolicy(); })));
}

void AppDelegate::observeMasterSwitch() {
    cancellables_.push_back(overlaySettings_->masterEnabled.stream().removeDuplicates().receiveOn(loop_).sink(
        lifetime_.guard([this](bool enabled) { applyMasterEnabled(enabled); })));
}

// The beam follows its switch and the pointer entering or leaving its band.
void AppDelegate::observeLightReflections() {
    cancellables_.push_back(
        overlaySettings_->lightReflectionsEnabled.stream().removeDuplicates().receiveOn(loop_).sink(
            lifetime_.guard([this](bool) {
                screenSampler_->setLightReflectionsEnabled(overlaySettings_->lightReflectionsEnabled());
                scheduleBeamSync();
            })));
    // The sync is deferred by itself, so this handler may run at once; triggers of one turn share a sync.
    cancellables_.push_back(screenSampler_->pointerInBeamBand.stream().removeDuplicates().sink(
        lifetime_.guard([this](bool) { scheduleBeamSync(); })));
}

// The visualizer, the progress bar and the now-playing engine they share.
void AppDelegate::observeMusicFeatures() {
    OverlaySettings& s = *overlaySettings_;
    cancellables_.push_back(s.vizEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        lifetime_.guard([this](bool) {
            updateProgressEngineDemand();
            syncVisualizer();
        })));
    cancellables_.push_back(s.progressEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        lifetime_.guard([this](bool) {
            updateProgressEngineDemand();
            syncProgressBar();
        })));
    cancellables_.push_back(s.masterEnabled.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
        lifetime_.guard([this](bool) {
            updateProgressEngineDemand();
            syncVisualizer();
            syncProgressBar();
        })));
}

// A desktop switch or a new front app defers the overlay's next show a little.
void AppDelegate::observeDesktopAndAppSwitches() {
    spaceObserver_ =
        services_.sampler.workspace.events()
            .filter(
                [](const WorkspaceEvent& e) { return e.kind == WorkspaceEvent::Kind::activeSpaceDidChange; })
            .sink(lifetime_.guard([this](const WorkspaceEvent&) { visibility_.noteSpaceChange(); }));
    cancellables_.push_back(
        appWatcher_->activeAppId.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
            lifetime_.guard([this](const std::optional<std::string>&) { visibility_.noteAppSwitch(); })));
}

// The settings' per-app overrides follow the front app and the app whose window fills the top.
void AppDelegate::observeFrontApp() {
    cancellables_.push_back(
        appWatcher_->activeAppId.stream().removeDuplicates().receiveOn(loop_).sink(lifetime_.guard(
            [this](const std::optional<std::string>& id) { overlaySettings_->setRuntimeAppId(id); })));
    cancellables_.push_back(
        screenSampler_->filledOwnerAppId.stream().removeDuplicates().receiveOn(loop_).sink(lifetime_.guard(
            [this](const std::optional<std::string>& id) { overlaySettings_->setRuntimeFilledOwner(id); })));
}

// The pills' geometry follows the front app's menus, the pill numbers and the screens.
void AppDelegate::observePillGeometryInputs() {
    cancellables_.push_back(
        appWatcher_->activeAppId.stream().dropFirst().removeDuplicates().receiveOn(loop_).sink(
            lifetime_.guard([this](const std::optional<std::string>&) { computePillGeometries(); })));
    // The pill numbers, once the user stops dragging.
    cancellables_.push_back(
        overlaySettings_->corners.stream()
            .map([](const CornerSettings& k) {
                return std::vector<double>{k.pillHPadding, k.pillLeftHOffset, k.pillRightHOffset,
                                           k.pillSeparateSides ? 1.0 : 0.0};
            })
            .removeDuplicates()
            .dropFirst()
            .debounce(loop_, 0.2)
            .sink(lifetime_.guard([this](const std::vector<double>&) { computePillGeometries(); })));
    cancellables_.push_back(services_.sampler.screens.parametersChanged().receiveOn(loop_).sink(
        lifetime_.guard([this](const auto&) { computePillGeometries(); })));
}

// Everything the overlay's show-or-hide rule reads.
void AppDelegate::observeOverlayVisibilityInputs() {
    OverlaySettings& s = *overlaySettings_;
    const ScreenSampler& sampler = *screenSampler_;
    auto update = [this] { return lifetime_.guard([this](const auto&) { updateOverlayVisibility(); }); };
    cancellables_.push_back(combineLatest(sampler.colorPulse.stream(), sampler.isFilledWindowActive.stream(),
                                          appWatcher_->usingOverride.stream(),
                                          appWatcher_->activeAppId.stream())
                                .receiveOn(loop_)
                                .sink(update()));
    cancellables_.push_back(s.layerPosition.stream().receiveOn(loop_).sink(update()));
    cancellables_.push_back(sampler.excludedAppCovering.stream().receiveOn(loop_).sink(update()));
    cancellables_.push_back(merge(signal(s.keepOverlayAlwaysOn.stream()), signal(s.emptyDesktopMode.stream()))
                                .receiveOn(loop_)
                                .sink(update()));
    cancellables_.push_back(s.overlayEnabled.stream().removeDuplicates().receiveOn(loop_).sink(update()));
}

void AppDelegate::applyMasterEnabled(bool enabled) {
    screenSampler_->setMasterEnabled(enabled);
    updateOverlayVisibility();
    scheduleBeamSync();
    updateStatusItemAppearance(enabled);
}

void AppDelegate::updateSamplerDemand() {
    screenSampler_->setCaptureDemand(overlaySettings_->needsScreenCapture() || popoverOpen_ ||
                                     (overlayController_ && overlayController_->unifiedRevealPending()));
}

void AppDelegate::updateProgressEngineDemand() {
    const OverlaySettings& s = *overlaySettings_;
    const bool wanted = s.masterEnabled() && (s.progressEnabled() || s.vizEnabled());
    if (wanted == progressEngineDemand_.isActive()) return;
    if (!wanted) {
        progressEngineDemand_.cancel();
        return;
    }
    MusicProgressEngine& engine = services_.progressEngine;
    engine.start();
    progressEngineDemand_ = Cancellable([&engine] { engine.stop(); });
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
        vizAudioEngine_.reset(engine.release());
        // An engine that stops by itself (its capture could not be rebuilt) is dropped as a failed start.
        vizAudioEngine_->setOnFailure([this] { later([this] { visualizerEngineStopped(); }); });
        vizRenderController_ = std::make_unique<VizRenderController>(
            VizRenderServices::make(services_.loop, services_.overlayHost, services_.sampler.screens,
                                    *vizAudioEngine_, *screenSampler_, services_.desktopAppearance,
                                    &services_.progressEngine),
            s);
        vizRenderController_->setOverviewActive(overviewDetector_->isOverviewActive());
        s.vizStatus = std::nullopt;
        return;
    }
    if (vizRenderController_) {
        vizRenderController_->stop();
        vizRenderController_.reset();
    }
    vizAudioEngine_.reset();
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
        progressBarController_ = std::make_unique<ProgressBarController>(
            ProgressBarServices::make(loop_, services_.overlayHost, services_.sampler.screens,
                                      services_.sampler.pointer, services_.hotkeys, services_.progressEngine,
                                      *screenSampler_, services_.desktopAppearance),
            s);
        progressBarController_->setOverviewActive(overviewDetector_->isOverviewActive());
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
    return !overviewDetector_->isOverviewActive();
}

void AppDelegate::syncLightBeamWindow() {
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
    in.slideGateOpen = sampler.isSlideGateOpen();
    in.keepOverlayAlwaysOn = s.keepOverlayAlwaysOn();
    in.filledWindowActive = sampler.isFilledWindowActive();
    in.pendingFilledState = sampler.pendingFilledState();
    visibility_.update(in);
    scheduleBeamSync();
}

void AppDelegate::slideGateChanged() {
    if (!screenSampler_->isSlideGateOpen()) {
        if (overlayController_) {
            overlayController_->resetPrevTickOwner();
            overlayController_->orderFrontCornerWindows();
        }
        updateOverlayVisibility();
        if (!screenSampler_->pendingFilledState().value_or(false)) visibility_.clearHidUnderSlideGate();
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
