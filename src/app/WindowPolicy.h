// The rules for the settings and tour windows: where a tour starts and whether it keeps its progress, when
// the settings follow the profile chosen in the settings window, what closing or focusing that window does
// to the profile scope, and the taskbar policy (a tray-only app, or a regular one while `showTaskbarIcon` is
// on) with the focus hand-back that waits for the tour.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/Lifetime.h"

#include "onboarding/OnboardingStep.h"
#include "platform/TaskbarPolicy.h"

class QWidget;

namespace velaro {

class MainLoop;
class OverlaySettings;
class ProfileManager;

struct TourLaunch {
    OnboardingStep step;
    bool persistsProgress;

    friend bool operator==(const TourLaunch&, const TourLaunch&) = default;
};

// Without a start step the stored one is resumed; progress is kept unless the tour starts completed, or as
// the caller says.
TourLaunch tourLaunch(std::optional<OnboardingStep> startStep, std::optional<bool> persistsProgress,
                      std::int64_t storedStep);

// The settings follow the profile chosen in the settings window only while that window shows and the tour
// does not.
constexpr bool isEditingActive(bool settingsVisible, bool tourVisible) {
    return settingsVisible && !tourVisible;
}

class WindowPolicy {
public:
    WindowPolicy(TaskbarPolicy& dock, MainLoop& loop);
    ~WindowPolicy();
    WindowPolicy(const WindowPolicy&) = delete;
    WindowPolicy& operator=(const WindowPolicy&) = delete;

    // The settings and tour windows follow the policy from the moment they exist until they are destroyed,
    // by whichever native window they have: the toolkit destroys a top-level's native window when it closes
    // and makes a new one, with a new number, when it shows again.
    void follow(QWidget& window, TaskbarEntry entry);
    // Brings a shown window forward with the focus, restoring it first when it is minimised: the windows
    // stay out of the taskbar, so this is the user's only way back to a minimised one.
    void bringForward(WindowNumber window) {
        if (window != 0) dock_.activate(window);
    }

    // At launch and on every change of `showTaskbarIcon`. `frontWindow` is our window to bring forward when
    // the app becomes regular (0 when none shows). Turned off while the tour shows, the focus stays with the
    // tour until it closes.
    void applyTaskbarIconPolicy(bool showTaskbarIcon, bool tourVisible, WindowNumber frontWindow);
    // The tour closed: give the focus away now if the policy waited for it.
    void tourDidClose();

    // The settings window is closing: back to the global scope, and once it has closed the front app's own
    // profile applies again.
    void settingsWindowWillClose(ProfileManager& profiles, OverlaySettings& settings);
    // The settings window took the focus: show the profile chosen in it.
    void settingsWindowDidBecomeKey(OverlaySettings& settings);

private:
    TaskbarPolicy& dock_;
    MainLoop& loop_;
    bool deactivateDeferredForTour_ = false;
    Lifetime lifetime_;
};

}  // namespace velaro
