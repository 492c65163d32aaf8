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

#include "app/GreenButtonFillController.h"
#include "app/HotkeyCenter.h"
#include "app/LoginItemManager.h"
#include "app/OverlayVisibility.h"
#include "app/WindowPolicy.h"
#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "onboarding/OnboardingStep.h"
#include "overlay/OverlayControllerPort.h"
#include "sampling/AppWatcher.h"
#include "sampling/MissionControlDetector.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "ui/settings/SettingsNavigation.h"

class QWidget;

namespace velaro {

class AppCatalog;
class Hotkeys;
class LightBeamWindow;
class LoginItem;
class MenuBarItems;
class MenuShapeGeometry;
class MusicVisualizerAudioEngine;
class OnboardingWindowController;
class OverlayWindowHost;
class Permissions;
class Updater;
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
    GreenButtonFillServices greenButton;
    // The desktop's overview shell, if it has one.
    std::optional<OverviewShell> overviewShell;
    // Builds the overlay controller when the runtime starts; without one the runtime runs with no overlay.
    OverlayControllerFactory makeOverlayController;
    // Builds the visualizer's audio engine; without one the visualizer cannot start.
    std::function<std::unique_ptr<MusicVisualizerAudioEngine>()> makeVisualizerEngine;
    // Whether the desktop asks for reduced motion, read as the tour opens; none reads as no.
    std::function<bool()> reduceMotion;
    // Whether the shell's own windows (tour, settings) are real toolkit windows; tests leave them out.
    bool toolkitWindows = true;
    // The panel's tray for the status item; without one the app runs with no status item.
    Tray* tray = nullptr;
    // Whether the app shows in the taskbar, and the activation of its windows.
    DockPolicy& dockPolicy;
};

class AppDelegate {
public:
    // The text the visualizer's page shows when its engine does not start.
    static constexpr const char* vizStartFailure =
        "Couldn't start — System Audio Recording may be unavailable (Settings → Sound). Toggle off and on to "
        "retry.";
    static constexpr double bannerDuration = 3.5;

    // Creates, in order: the sampler, the settings, the login item, the profiles, then starts the updater;
    // then the settings navigation, the overview detector, the green-button fill and the hot keys.
    explicit AppDelegate(AppDelegateServices services);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch steps; the runtime starts here unless the tour waits for the screen-capture permission.
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
    void applyDockIconPolicy();
    void setPopoverOpen(bool open);
    bool isTourVisible() const;
    bool isSettingsVisible() const;

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

    // ---- what tests and the status item read ----
    ScreenSampler& screenSampler() { return *screenSampler_; }
    OverlaySettings& overlaySettings() { return *overlaySettings_; }
    ProfileManager& profileManager() { return *profileManager_; }
    LoginItemManager& loginItem() { return *loginItem_; }
    Updater& updater() { return services_.updater; }
    SettingsNavigation& settingsNavigation() { return settingsNavigation_; }
    SettingsWindow* settingsWindow() { return settingsWindow_.get(); }
    // The About page's view of the updater, made the first time it is asked for.
    UpdateCheckModel& updateCheck();
    MissionControlDetector& missionControlDetector() { return *missionControlDetector_; }
    GreenButtonFillController& greenButtonFill() { return *greenButtonFill_; }
    HotkeyCenter& hotkeyCenter() { return *hotkeyCenter_; }
    AppWatcher* appWatcher() { return appWatcher_.get(); }
    MenuShapeGeometry* menuShapeGeometry() { return menuShapeGeometry_.get(); }
    OverlayControllerPort* overlayController() { return overlayController_.get(); }
    OverlayVisibility& overlayVisibility() { return visibility_; }
    LightBeamWindow* lightBeamWindow() { return lightBeamWindow_.get(); }
    ReminderBannerWindow* reminderBanner() { return reminderBanner_.get(); }
    MusicVisualizerAudioEngine* vizAudioEngine() { return vizAudioEngine_.get(); }
    VizRenderController* vizRenderController() { return vizRenderController_.get(); }
    ProgressBarController* progressBarController() { return progressBarController_.get(); }
    OnboardingWindowController* onboardingWindow() { return onboardingWindow_.get(); }
    StatusItemController* statusItem() { return statusItem_.get(); }
    bool runtimeStarted() const { return runtimeStarted_; }
    bool engineDemandActive() const { return engineDemandActive_; }
    int lightBeamSyncCount() const { return beamSyncCount_; }
    bool popoverOpen() const { return popoverOpen_; }

private:
    void startRuntime();
    void startRuntimeOnce();
    void setupStatusItem();
    void updateStatusItemAppearance(bool active);
    void setupOverlayController();
    void installSettingsObservers();
    void slideGateChanged();
    void overviewChanged(bool active);
    void computePillGeometries();
    void setSamplerMaster(bool enabled);
    void setSamplerLightReflections(bool enabled);
    // The audio engine stopped by itself: drop it and the visualizer, and say why as a failed start would.
    void visualizerEngineStopped();
    // Runs `block` on a later turn of the main loop unless the delegate is gone by then.
    void later(std::function<void()> block);

    AppDelegateServices services_;
    MainLoop& loop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Created in this order by the constructor and kept for the life of the process.
    std::unique_ptr<ScreenSampler> screenSampler_;
    std::unique_ptr<OverlaySettings> overlaySettings_;
    std::unique_ptr<LoginItemManager> loginItem_;
    std::unique_ptr<ProfileManager> profileManager_;
    SettingsNavigation settingsNavigation_;
    std::unique_ptr<MissionControlDetector> missionControlDetector_;
    std::unique_ptr<GreenButtonFillController> greenButtonFill_;
    std::unique_ptr<HotkeyCenter> hotkeyCenter_;

    // Made when the runtime starts.
    std::unique_ptr<AppWatcher> appWatcher_;
    std::unique_ptr<MenuShapeGeometry> menuShapeGeometry_;
    std::unique_ptr<OverlayControllerPort> overlayController_;
    std::vector<Subscription> cancellables_;
    Subscription overviewObserver_;
    Subscription spaceObserver_;

    // The shell's windows.
    std::unique_ptr<StatusItemController> statusItem_;
    std::unique_ptr<OnboardingWindowController> onboardingWindow_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    std::unique_ptr<UpdateCheckModel> updateCheck_;
    WindowPolicy windowPolicy_;
    std::unique_ptr<LightBeamWindow> lightBeamWindow_;
    std::unique_ptr<ReminderBannerWindow> reminderBanner_;

    // Music features, made and dropped by their demand rules.
    std::unique_ptr<MusicVisualizerAudioEngine> vizAudioEngine_;
    std::unique_ptr<VizRenderController> vizRenderController_;
    std::unique_ptr<ProgressBarController> progressBarController_;

    OverlayVisibility visibility_;
    bool runtimeStarted_ = false;
    bool beamSyncScheduled_ = false;
    bool engineDemandActive_ = false;
    bool popoverOpen_ = false;
    int beamSyncCount_ = 0;
};

}  // namespace velaro
