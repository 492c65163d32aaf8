// The owner of every overlay window: per screen a band window (where the screen shows a panel) and its
// corner windows, in one of two render modes, kept in step with the screens, the settings and the sampler.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "overlay/ColorMemory.h"
#include "overlay/CornerOverlayWindow.h"
#include "overlay/HueDriftClock.h"
#include "overlay/MenuBarOverlayWindow.h"
#include "overlay/OverlayControllerPort.h"
#include "overlay/OverlayFeed.h"
#include "overlay/UnifiedPresenter.h"
#include "overlay/WindowOrdering.h"
#include "platform/OverlayWindowHost.h"
#include "platform/Screens.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"

namespace velaro {

class AppWatcher;
class OverviewDetector;
class Workspace;

// `unified`: one window per screen draws the band and the two ears below it, four corner windows the bottom
// and screen-top corners. `separate`: a band window and six corner windows, the ears included.
enum class OverlayRenderMode { unified, separate };

// One screen's band window, whichever mode made it.
class OverlayBandWindow {
public:
    virtual ~OverlayBandWindow() = default;
    virtual OverlayWindow& window() = 0;
    // The unified window's presenter; none in the separate mode.
    virtual UnifiedPresenter* presenter() { return nullptr; }
};

struct OverlayControllerServices {
    MainLoop& loop;
    OverlayWindowHost& host;
    const Screens& screens;
    Workspace& workspace;
    // The window list the corners set below the active window are ordered against; without it they are not.
    WindowList* windowList = nullptr;
    // In the unified mode the corner windows are left out until makeHeldWindows(): the launch makes and
    // maps the band first, the screen's corners right after its first picture.
    bool holdCornerWindows = false;
};

// What a unified band window is built from: the screen it hangs from, its frame and level, and what its view
// reads. The presenter belongs to the window.
struct UnifiedBandInputs {
    ScreenInfo screen;
    Rect frame;
    int level = OverlayWindowLevel::belowPanel;
    double earDepth = 0;  // the part of the window below the band, where the ears hang
    const OverlayFeed& feed;
};
using UnifiedBandFactory = std::function<std::unique_ptr<OverlayBandWindow>(const UnifiedBandInputs&)>;

// How the unified windows' reveal is decided once they are on screen (without hooks: at once, animated).
// The hooks reveal through `MenuBarOverlayController::revealUnifiedWindows` and report every change of their
// pending state through `MenuBarOverlayController::revealPendingChanged`.
struct UnifiedRevealHooks {
    std::function<void()> begin;    // reveal now, or once fresh colours came
    std::function<void()> clear;    // the overlay hides: drop a waiting reveal without revealing
    std::function<bool()> pending;  // a reveal is waiting
};

class MenuBarOverlayController;

// The unified render mode's choices: how its band windows are made and how their reveal is decided.
struct UnifiedMode {
    UnifiedBandFactory makeBand;
    UnifiedRevealHooks reveal;
};
// Makes the unified mode for the controller being built, which its windows and hooks may use; the
// controller calls it once, from its constructor.
using UnifiedModeFactory = std::function<UnifiedMode(MenuBarOverlayController&)>;

// The sampler's values and one screen's channel as the overlay views read them.
OverlayFeed overlayFeed(ScreenSampler& sampler, ScreenSampler::ScreenChannel& channel);

// What the application shell builds the controller with once its runtime starts.
OverlayControllerFactory overlayControllerFactory(OverlayControllerServices services);

class MenuBarOverlayController final : public OverlayControllerPort {
public:
    // The sampler, the settings, the app watcher (may be null) and the services outlive the controller.
    // Builds the windows for the current screens, hidden, and starts following the settings and sampler;
    // the unified render mode is the one `unifiedMode` makes.
    MenuBarOverlayController(ScreenSampler& sampler, OverlaySettings& settings, AppWatcher* appWatcher,
                             OverlayControllerServices services, const UnifiedModeFactory& unifiedMode);
    ~MenuBarOverlayController() override;
    MenuBarOverlayController(const MenuBarOverlayController&) = delete;
    MenuBarOverlayController& operator=(const MenuBarOverlayController&) = delete;

    // ---- what the application shell uses ----
    bool isVisible() const override { return isVisible_; }
    // Does nothing unless the master switch and the overlay are on and the overlay is hidden.
    void show(bool immediate) override;
    void hide(bool immediate) override;
    bool unifiedRevealPending() const override {
        return unifiedMode_.reveal.pending && unifiedMode_.reveal.pending();
    }
    void resetPrevTickOwner() override { memory_.resetPrevTickOwner(); }
    // Brings the wallpaper and screen-top corners forward (the screen-top ones just below their band).
    void orderFrontCornerWindows() override;
    void makeHeldWindows() override;
    // Follows the detector's overview flag, and asks it to probe while the overlay needs it. The detector
    // must outlive the controller.
    void attachOverviewDetector(OverviewDetector& detector) override;
    void setOnVisibilityChanged(std::function<void(bool visible)> callback) override {
        onVisibilityChanged_ = std::move(callback);
    }
    void setOnRevealPendingChanged(std::function<void()> callback) override {
        onRevealPendingChanged_ = std::move(callback);
    }

    // ---- what the unified mode uses ----
    // Tells the shell that `unifiedRevealPending()` changed.
    void revealPendingChanged() {
        if (onRevealPendingChanged_) onRevealPendingChanged_();
    }
    void revealUnifiedWindows(bool instant);
    // The band's height on the screen: at least 4 pt, and never taller than the screen.
    double overlayHeight(const ScreenInfo& screen) const;
    HueDriftClock& driftClock() { return driftClock_; }

    // ---- the window set ----
    struct ScreenWindows {
        ScreenInfo screen;
        std::shared_ptr<ScreenSampler::ScreenChannel> channel;  // before the windows: they read it
        std::unique_ptr<OverlayFeed> feed;
        std::unique_ptr<OverlayBandWindow> band;  // null on a screen without a panel
        std::vector<std::unique_ptr<CornerOverlayWindow>> corners;
    };
    const ScreenWindows* windowsOf(const ScreenID& screen) const;
    bool overviewActive() const { return overviewActive_; }
    // How far the unified band window reaches below the band on the screen for its ears; 0 in the separate
    // mode. The band and its ears together are never taller than the screen.
    double unifiedBottomCornerDepth(const ScreenInfo& screen) const;
    // The radius of the unified band's ear at `corner` (a top corner) on the screen.
    double earRadius(ScreenCorner corner, const ScreenInfo& screen) const;

private:
    // Discards every window and builds them again for the current screens and the wanted render mode.
    void rebuildWindows();
    // Rebuilds when the settings now want the other render mode.
    void checkRenderMode();

    // ---- geometry and levels ----
    Rect barFrame(const ScreenInfo& screen) const;
    // The r × r frame of a corner on the screen.
    Rect cornerFrame(ScreenCorner corner, const ScreenInfo& screen, double radius) const;
    int barLevel() const;
    int cornerLevel(ScreenCorner corner) const;
    BottomCornerZ cornerZ(ScreenCorner corner) const;
    // A corner's radius as the screen can show it: none past the middle of the screen's shorter side, and an
    // ear (a top corner, hanging below the band) no deeper than the room left below the band.
    double cornerRadius(ScreenCorner corner, const ScreenInfo& screen) const;
    double earRadiusOnScreen(double radius, const ScreenInfo& screen) const;

    void applyLevelsAndFrames();
    // Re-fits every band window to its height now (animated beyond 5 pt), then the corners.
    void updateBarFrames();
    // The corner pass: frames, alpha and order of the corners that are not laid out with the band.
    void refreshWindows();
    void updateTopBlurGeometry();
    // Tells the sampler which strip to capture on each screen with a panel.
    void pushCaptureGeometry();
    void updateOverviewDemand();
    void clearRevealPending();
    bool shouldRunDriftClock() const;

    // ---- ordering ----
    void orderFrontBarWindows();
    // Corners set below the active window are ordered by the window-ordering monitor; the corner pass and
    // the sleep reaction call this wherever that monitor must start, stop or re-check.
    void scheduleBelowActiveRepair();
    // An app was activated or the desktop switched: the bands go back in front.
    void handleActivation();

    // ---- presentation ----
    // The band windows and the ears and above-stacked bottom corners in use: what fades in the separate mode.
    std::vector<OverlayWindow*> separateModeWindows() const;
    void showCornerWindowsImmediately();
    void fadeInCornerWindows();
    void hideCornerWindowsImmediately();
    void fadeOutCornerWindows();
    // Frames the ears and above-stacked bottom corners in use under the band; orders them in only while the
    // overlay shows and the master switch is on.
    void layoutCornerWindows();
    void presentUnifiedWindows(bool instant);
    void hideUnifiedWindows();
    void applyMemoryHold(const std::optional<RevealColorHold>& hold);
    void scheduleMemoryHoldChecks();
    void flushColors();
    void animateFrame(const Rect& frame, OverlayWindow& window);
    void setOverviewActive(bool active);
    std::vector<OverlayWindow*> allOverlayWindows() const;

    // ---- colour memory ----
    // The filled window's owner changes to `owner` (the sampler still holds the previous one).
    void handleOwnerEdge(const std::optional<std::string>& owner);
    void recordOwnerTick(const std::optional<std::string>& owner);
    void releaseMemoryHoldIfSettled();
    // At most one colour flush is pending; only while the overlay shows.
    void scheduleColorFlush();
    // The colours on screen now, from the sampler's own values.
    RevealColorHold currentColors() const;

    void buildScreen(const ScreenInfo& screen);
    void buildCorners(ScreenWindows& s);
    void installObservers();
    void installSubscriptions();
    void pushInitialCaptureSettings();
    void setBlurCapture(bool on);
    void setLiveCapture(bool on);
    void setLiveCaptureFPS(int fps);
    void updateBeamBandHeight();
    void setVisible(bool visible);
    void updateDriftClock();
    // Orders the windows out at alpha 0 in one frame and drops the sampler's frosted images.
    void withdrawSeparateWindows(const std::vector<OverlayWindow*>& windows);
    std::vector<ScreenInfo> currentScreens() const;
    std::optional<ScreenInfo> primaryScreen() const;
    double statusBarThickness() const;
    std::vector<UnifiedPresenter*> presenters() const;
    OverlayWindow* bandWindowOf(const ScreenWindows& s) const;
    // Runs `block` on a later turn of the loop unless the controller is gone by then.
    void later(std::function<void()> block);

    ScreenSampler& sampler_;
    OverlaySettings& settings_;
    AppWatcher* appWatcher_;
    OverlayControllerServices services_;
    Lifetime lifetime_;
    HueDriftClock driftClock_;
    UnifiedMode unifiedMode_;
    std::function<void(bool visible)> onVisibilityChanged_;
    std::function<void()> onRevealPendingChanged_;

    std::vector<ScreenWindows> screens_;
    std::unique_ptr<WindowOrdering> ordering_;  // after the windows: gone before them
    OverlayRenderMode renderMode_ = OverlayRenderMode::separate;
    bool isVisible_ = false;
    bool colorFlushScheduled_ = false;
    OverviewDetector* overviewDetector_ = nullptr;
    bool overviewActive_ = false;
    bool holdCorners_ = false;  // corner windows of the unified mode wait for makeHeldWindows()
    ColorMemory memory_;
    Cancellable holdCheckEarly_, holdCheckLate_;
    Subscription overviewObserver_;
    std::vector<Subscription> observers_;
    std::vector<Subscription> cancellables_;  // last: ended first, before anything they reach
};

}  // namespace velaro
