// The application's spine: creates every long-lived object in a fixed order, runs the launch steps, starts
// the runtime exactly once (from the launch or from the tour, whichever comes first), wires the settings,
// the sampler, the app watcher and the overlay controller together, and applies the demand rules that
// start and stop capture, the light beam and the music features.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/HotkeyCenter.h"
#include "app/LoginItemManager.h"
#include "app/MaximiseFillController.h"
#include "app/OverlayVisibility.h"
#include "app/WindowPolicy.h"
#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "onboarding/OnboardingStep.h"
#include "overlay/OverlayControllerPort.h"
#include "sampling/AppWatcher.h"
#include "sampling/OverviewDetector.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/SettingsNavigation.h"

class QWidget;

namespace velaro {

class AppCatalog;
class DesktopAppearance;
class DesktopOverview;
class Hotkeys;
class KeyboardLayout;
class LightBeamWindow;
class LoginItem;
class MenuBarItems;
class MenuShapeGeometry;
class MusicProgressEngine;
class MusicVisualizerAudioEngine;
class OnboardingWindowController;
class OverlayWindowHost;
class Permissions;
class Updater;
class WallpaperPictureSource;
class ProgressBarController;
class ReminderBannerWindow;
class SettingsWindow;
class StatusItemController;
class Tray;
class UpdateCheckModel;
class VizRenderController;
class WindowEvents;
class WindowList;

// The platform services and factories the delegate builds its objects over; each service outlives it.
struct AppDelegateServices {
    MainLoop& loop;
    DefaultsStore& defaults;
    ScreenSampler::Services sampler;
    WindowList& windowList;
    const AppCatalog& catalog;
    WindowEvents& windowEvents;
    MenuBarItems& menuBarItems;
    LoginItem& loginItem;
    Hotkeys& hotkeys;
    Permissions& permissions;
    // The software updater; the delegate starts it once, at creation.
    Updater& updater;
    OverlayWindowHost& overlayHost;
    // The now-playing engine, started while a music feature wants it; the progress bar reads it.
    MusicProgressEngine& progressEngine;
    MaximiseFillServices maximiseButton;
    // The desktop's overview shell, if it has one.
    std::optional<OverviewShell> overviewShell;
    // The desktop's published overview state, followed instead of the shell's windows while it publishes.
    const DesktopOverview* desktopOverview = nullptr;
    // The desktop's light or dark preference, for the music features' ink; without it they go by the
    // colours sampled under the menu bar.
    const DesktopAppearance* desktopAppearance = nullptr;
    // Builds the overlay controller when the runtime starts; without one the runtime runs with no overlay.
    OverlayControllerFactory makeOverlayController;
    // Builds the visualizer's audio engine; without one the visualizer cannot start.
    std::function<std::unique_ptr<MusicVisualizerAudioEngine>()> makeVisualizerEngine;
    // Whether the desktop asks for reduced motion, read as the tour opens; none reads as no.
    std::function<bool()> reduceMotion = nullptr;
    // Whether the shell's own windows (tour, settings) are real toolkit windows; tests leave them out.
    bool toolkitWindows = true;
    // The panel's tray for the status item; without one the app runs with no status item.
    Tray* tray = nullptr;
    // Whether the app shows in the taskbar, and the activation of its windows.
    TaskbarPolicy& taskbarPolicy;
    // Pictures of the desktop's wallpaper for the Corner Rounding page; without them it shows a stand-in.
    WallpaperPictureSource* wallpaper = nullptr;
    // The keyboard's layout, for recording shortcuts and naming their keys; without one none can be recorded.
    const KeyboardLayout* keyboardLayout = nullptr;
    // Runs a block on a later turn once the windows shown so far have their first picture (or never will).
    // Without it, launch work that waits for the first band runs on the next turn.
    std::function<void(std::function<void()>)> afterWindowsShown = nullptr;
};

class AppDelegate {
public:
    // The text the visualizer's page shows when its engine does not start.
    static constexpr const char* vizStartFailure =
        "Couldn't start — the sound server (PulseAudio or PipeWire) may be unavailable. Toggle off and on to "
        "retry.";
    static constexpr double bannerDuration = 3.5;

    // Creates, in order: the sampler, the settings, the login item, the profiles, then starts the updater;
    // then the settings navigation, the overview detector, the green-button fill and the hot keys.
    explicit AppDelegate(AppDelegateServices services);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch steps; the runtime starts here unless the tour waits for an X11 session.
    void applicationDidFinishLaunching();
    // Another launch asked us to come forward: bring the tour back if it shows, else open the settings.
    // Returns false, as nothing else needs doing.
    bool applicationShouldHandleReopen();
    void applicationWillTerminate();
    // Closing the last window never ends the process.
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

    // True while the settings window shows and the tour window does not.
    bool isEditingActive() const;

    // The tour's hooks: it starts the runtime before a style or feature page, and its window closing starts
    // it too if nothing did yet.
    void tourRequestsRuntime();
    void tourWindowDidClose();

    // ---- the window-facing parts the status item and the windows build on ----
    void showOnboarding(std::optional<OnboardingStep> startStep = std::nullopt,
                        std::optional<bool> persistsProgress = std::nullopt);
    void openSettings(std::optional<SettingsCategory> section = std::nullopt);
    void closePopover();
    void applyTaskbarIconPolicy();
    void setPopoverOpen(bool open);
    bool isTourVisible() const;
    bool isSettingsVisible() const;

    // ---- what the status item builds its popover on ----
    ScreenSampler& screenSampler() { return *screenSampler_; }
    OverlaySettings& overlaySettings() { return *overlaySettings_; }
    // The app watcher, made when the runtime starts; null before.
    AppWatcher* appWatcher() { return appWatcher_.get(); }
    // The About page's view of the updater, made the first time it is asked for.
    UpdateCheckModel& updateCheck();

private:
    // A visualizer engine that is stopped whenever it is let go, by a demand rule or by the teardown.
    struct StopEngine {
        void operator()(MusicVisualizerAudioEngine* engine) const;
    };
    using RunningVisualizerEngine = std::unique_ptr<MusicVisualizerAudioEngine, StopEngine>;

    // ---- the runtime, started once ----
    void startRuntimeOnce();
    void startRuntime();
    void makeAppWatcher();
    void makeMenuShapeGeometry();
    void setupOverlayController();
    void showReminderBannerIfDisabled();

    // ---- the runtime's change streams, one function per concern ----
    void observeCaptureDemand();
    void observeTaskbarIcon();
    void observeMasterSwitch();
    void observeLightReflections();
    void observeMusicFeatures();
    void observeDesktopAndAppSwitches();
    void observeFrontApp();
    void observePillGeometryInputs();
    void observeOverlayVisibilityInputs();

    // ---- the status item and our windows ----
    void setupStatusItem();
    // Brings one of our shown windows forward with the focus, un-minimised: they stay out of the taskbar, so
    // this is the user's way back to a minimised one.
    void bringForward(QWidget* window);
    void updateStatusItemAppearance(bool active);

    // ---- demand rules ----
    void applyMasterEnabled(bool enabled);
    void updateSamplerDemand();
    void updateProgressEngineDemand();
    void syncVisualizer();
    void syncProgressBar();
    void scheduleBeamSync();
    void syncLightBeamWindow();
    bool shouldShowLightBeam() const;
    void updateOverlayVisibility();
    void slideGateChanged();
    void overviewChanged(bool active);
    void computePillGeometries();
    // The audio engine stopped by itself: drop it and the visualizer, and say why as a failed start would.
    void visualizerEngineStopped();
    // Runs `block` on a later turn of the main loop unless the delegate is gone by then.
    void later(std::function<void()> block);
    // Runs `block` once the band the launch shows has its first picture out (on the next turn when the
    // launch shows none), unless the delegate is gone by then: launch work the band need not wait for.
    void afterFirstBand(std::function<void()> block);

    // The members are destroyed in the reverse of this order, which is the teardown: the status item and
    // the windows first, as they read the sampler and the settings, the long-lived models last.
    AppDelegateServices services_;
    MainLoop& loop_;

    // Created in this order by the constructor and kept for the life of the process.
    std::unique_ptr<ScreenSampler> screenSampler_;
    std::unique_ptr<OverlaySettings> overlaySettings_;
    std::unique_ptr<LoginItemManager> loginItem_;
    std::unique_ptr<ProfileManager> profileManager_;
    SettingsNavigation settingsNavigation_;
    std::unique_ptr<OverviewDetector> overviewDetector_;
    std::unique_ptr<MaximiseFillController> maximiseFill_;
    std::unique_ptr<HotkeyCenter> hotkeyCenter_;
    WindowPolicy windowPolicy_;
    OverlayVisibility visibility_;

    // The tour and the settings window, which reads the update check.
    std::unique_ptr<UpdateCheckModel> updateCheck_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    std::unique_ptr<OnboardingWindowController> onboardingWindow_;

    // Made when the runtime starts.
    std::unique_ptr<AppWatcher> appWatcher_;
    std::unique_ptr<MenuShapeGeometry> menuShapeGeometry_;
    std::unique_ptr<OverlayControllerPort> overlayController_;

    // Music features, made and dropped by their demand rules. While the delegate holds the progress
    // engine's demand, `progressEngineDemand_` gives it back when it goes.
    Cancellable progressEngineDemand_;
    RunningVisualizerEngine vizAudioEngine_;
    std::unique_ptr<ProgressBarController> progressBarController_;
    std::unique_ptr<VizRenderController> vizRenderController_;

    // The runtime's subscriptions.
    std::vector<Subscription> cancellables_;
    Subscription overviewObserver_;
    Subscription spaceObserver_;

    // The overlay's own shell windows and the status item.
    std::unique_ptr<ReminderBannerWindow> reminderBanner_;
    std::unique_ptr<LightBeamWindow> lightBeamWindow_;
    std::unique_ptr<StatusItemController> statusItem_;

    bool runtimeStarted_ = false;
    bool beamSyncScheduled_ = false;
    bool popoverOpen_ = false;

    // Last, so it ends first: no posted block runs once the teardown has begun.
    Lifetime lifetime_;
};

}  // namespace velaro
