// The application delegate on the virtual loop over fake platform services, with a stand-in overlay
// controller that records what the shell asks of it; the rig also reads the objects the delegate owns.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "music/MusicProgressEngine.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "onboarding/OnboardingStep.h"
#include "overlay/OverlayControllerPort.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeAudioCapture.h"
#include "support/FakeCaptureService.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeEventTap.h"
#include "support/FakeHotkeys.h"
#include "support/FakeKeyboardLayout.h"
#include "support/FakeLoginItem.h"
#include "support/FakeMenuBarItems.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakePermissions.h"
#include "support/FakePointerSource.h"
#include "support/FakeProcessLauncher.h"
#include "support/FakeScreens.h"
#include "support/FakeTaskbarPolicy.h"
#include "support/FakeTray.h"
#include "support/FakeUpdater.h"
#include "support/FakeWindowControl.h"
#include "support/FakeWindowEvents.h"
#include "support/FakeWindowList.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

class FakeOverlayController final : public OverlayControllerPort {
public:
    bool isVisible() const override { return visible; }
    void show(bool immediate) override {
        calls.push_back(immediate ? "show immediate" : "show");
        if (!visible) setVisible(true);
    }
    void hide(bool immediate) override {
        calls.push_back(immediate ? "hide immediate" : "hide");
        if (visible) setVisible(false);
    }
    bool unifiedRevealPending() const override { return revealPending; }
    void resetPrevTickOwner() override { calls.push_back("reset owner"); }
    void orderFrontCornerWindows() override { calls.push_back("corners front"); }
    void makeHeldWindows() override { calls.push_back("held windows"); }
    void attachOverviewDetector(OverviewDetector&) override { ++attachCount; }
    void setOnRevealPendingChanged(std::function<void()> callback) override {
        onRevealPending = std::move(callback);
    }
    void setOnVisibilityChanged(std::function<void(bool)> callback) override {
        onVisibility = std::move(callback);
    }

    void setVisible(bool v) {
        visible = v;
        if (onVisibility) onVisibility(v);
    }
    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    bool visible = false;
    bool revealPending = false;
    int attachCount = 0;
    std::vector<std::string> calls;
    std::function<void()> onRevealPending;
    std::function<void(bool)> onVisibility;
};

class AppDelegateRig {
public:
    VirtualLoop loop;
    FakeCaptureService capture{loop};
    FakeScreens screens;
    FakeWindowList windows;
    FakeDefaultsStore defaults;
    FakeWorkspace workspace;
    FakePointerSource pointer{982};
    FakeAppCatalog catalog;
    FakeWindowEvents windowEvents;
    FakeMenuBarItems menuBarItems;
    FakeLoginItem loginItem;
    FakeHotkeys hotkeys;
    FakeKeyboardLayout keyboardLayout;
    FakePermissions permissions;
    FakeUpdater updater;
    FakeOverlayWindowHost host{loop};
    FakeEventTap eventTap;
    FakeWindowControl windowControl;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    // The now-playing engine the delegate starts and stops; it finds no adapter, so it launches nothing.
    FakeProcessLauncher processes{loop};
    MusicProgressEngine progressEngine{
        {.loop = loop, .launcher = processes, .locateAdapter = {}, .onWillTerminate = {}}};

    // What the factories made.
    std::vector<FakeOverlayController*> controllers;
    bool provideController = true;
    // The tray the delegate puts its status item in; none unless a test asks.
    FakeTray tray;
    FakeTaskbarPolicy taskbarPolicy;
    bool provideTray = false;
    // How the delegate learns that the windows it has shown have their first picture; none: the next turn.
    std::function<void(std::function<void()>)> afterWindowsShown;
    // The visualizer's engines are real, over fake captures that work or not as the test says.
    bool vizEngineWorks = true;
    int vizEnginesMade = 0;
    FakeAudioCapture* vizCapture = nullptr;  // the newest engine's
    std::shared_ptr<FakeAudioCapture::Record> vizCaptureRecord = std::make_shared<FakeAudioCapture::Record>();

    std::unique_ptr<AppDelegate> delegate;

    AppDelegateRig() {
        screens.setScreens({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)});
        topology = std::make_unique<ScreenTopology>(screens, &workspace);
        scans = std::make_unique<WindowListScans>(windows, screens, defaults, workspace, workspace.ownPID);
    }
    ~AppDelegateRig() { delegate.reset(); }

    // How many captures the visualizer's engines closed (each stop of a running engine closes one).
    int vizCaptureCloses() const { return vizCaptureRecord->closes; }

    void storeStep(OnboardingStep step) {
        defaults.set(onboardingStepKey, PlistValue(static_cast<std::int64_t>(step)));
    }

    AppDelegate& make() {
        AppDelegateServices services{
            .loop = loop,
            .defaults = defaults,
            .sampler = {.loop = loop,
                        .capture = capture,
                        .screens = screens,
                        .topology = *topology,
                        .scans = *scans,
                        .defaults = defaults,
                        .workspace = workspace,
                        .pointer = pointer},
            .windowList = windows,
            .catalog = catalog,
            .windowEvents = windowEvents,
            .menuBarItems = menuBarItems,
            .loginItem = loginItem,
            .hotkeys = hotkeys,
            .permissions = permissions,
            .updater = updater,
            .overlayHost = host,
            .progressEngine = progressEngine,
            .maximiseButton = {eventTap, windows, windowControl, loop, workspace.ownPID},
            .overviewShell = std::nullopt,
            .makeOverlayController = [this](ScreenSampler&, OverlaySettings&,
                                            AppWatcher&) -> std::unique_ptr<OverlayControllerPort> {
                if (!provideController) return nullptr;
                auto c = std::make_unique<FakeOverlayController>();
                controllers.push_back(c.get());
                return c;
            },
            .makeVisualizerEngine = [this]() -> std::unique_ptr<MusicVisualizerAudioEngine> {
                ++vizEnginesMade;
                auto capture = std::make_unique<FakeAudioCapture>(vizCaptureRecord);
                if (!vizEngineWorks) capture->failure = AudioCapture::Failure{"tap-create", 6};
                vizCapture = capture.get();
                return std::make_unique<MusicVisualizerAudioEngine>(loop, std::move(capture));
            },
            .toolkitWindows = false,
            .tray = provideTray ? &tray : nullptr,
            .taskbarPolicy = taskbarPolicy,
            .keyboardLayout = &keyboardLayout,
            .afterWindowsShown = afterWindowsShown,
        };
        delegate = std::make_unique<AppDelegate>(std::move(services));
        return *delegate;
    }

    // Made and launched, with the first turn of the loop (where the streams deliver their current values)
    // run.
    AppDelegate& launch() {
        make().applicationDidFinishLaunching();
        loop.runUntilIdle();
        return *delegate;
    }

    FakeOverlayController& controller() { return *controllers.at(0); }
    ScreenSampler& sampler() { return delegate->screenSampler(); }
    OverlaySettings& settings() { return delegate->overlaySettings(); }

    // ---- what the delegate owns ----
    bool runtimeStarted() const { return delegate->runtimeStarted_; }
    bool popoverOpen() const { return delegate->popoverOpen_; }
    bool engineDemandActive() const { return delegate->progressEngineDemand_.isActive(); }
    int lightBeamSyncCount() const { return delegate->beamSyncCount_; }
    AppWatcher* appWatcher() { return delegate->appWatcher_.get(); }
    SettingsNavigation& settingsNavigation() { return delegate->settingsNavigation_; }
    SettingsWindow* settingsWindow() { return delegate->settingsWindow_.get(); }
    OverviewDetector& overviewDetector() { return *delegate->overviewDetector_; }
    OverlayControllerPort* overlayController() { return delegate->overlayController_.get(); }
    OverlayVisibility& overlayVisibility() { return delegate->visibility_; }
    LightBeamWindow* lightBeamWindow() { return delegate->lightBeamWindow_.get(); }
    ReminderBannerWindow* reminderBanner() { return delegate->reminderBanner_.get(); }
    MusicVisualizerAudioEngine* vizAudioEngine() { return delegate->vizAudioEngine_.get(); }
    VizRenderController* vizRenderController() { return delegate->vizRenderController_.get(); }
    ProgressBarController* progressBarController() { return delegate->progressBarController_.get(); }
    OnboardingWindowController* onboardingWindow() { return delegate->onboardingWindow_.get(); }
    StatusItemController* statusItem() { return delegate->statusItem_.get(); }
    // The delegate's demand rules, run as its change streams would.
    void syncLightBeamWindow() { delegate->syncLightBeamWindow(); }
    void applyMasterEnabled(bool enabled) { delegate->applyMasterEnabled(enabled); }
    bool shouldShowLightBeam() const { return delegate->shouldShowLightBeam(); }
};

}  // namespace velaro::test
