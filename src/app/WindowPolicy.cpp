// The settings and tour windows' rules and the taskbar policy.
#include "app/WindowPolicy.h"

#include "base/MainLoop.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"

#include <utility>

namespace velaro {

TourLaunch tourLaunch(std::optional<OnboardingStep> startStep, std::optional<bool> persistsProgress,
                      std::int64_t storedStep) {
    const OnboardingStep step = startStep.value_or(resumedOnboardingStep(storedStep));
    return {step, persistsProgress.value_or(step != OnboardingStep::completed)};
}

WindowPolicy::WindowPolicy(TaskbarPolicy& dock, MainLoop& loop) : dock_(dock), loop_(loop) {}

WindowPolicy::~WindowPolicy() = default;

void WindowPolicy::applyTaskbarIconPolicy(bool showTaskbarIcon, bool tourVisible, WindowNumber frontWindow) {
    if (showTaskbarIcon) {
        dock_.setActivationPolicy(ActivationPolicy::regular);
        if (frontWindow != 0) dock_.activate(frontWindow);
        deactivateDeferredForTour_ = false;
        return;
    }
    dock_.setActivationPolicy(ActivationPolicy::accessory);
    if (tourVisible) {
        deactivateDeferredForTour_ = true;
        return;
    }
    dock_.deactivate();
}

void WindowPolicy::tourDidClose() {
    if (!std::exchange(deactivateDeferredForTour_, false)) return;
    // Switched back to a regular app meanwhile: keep the focus.
    if (dock_.activationPolicy() == ActivationPolicy::accessory) dock_.deactivate();
}

void WindowPolicy::settingsWindowWillClose(ProfileManager& profiles, OverlaySettings& settings) {
    if (!profiles.selectedScope().isGlobal()) profiles.selectedScope = ProfileScope::global();
    loop_.post(lifetime_.guard([&settings] { settings.reapplyProfileOverrides(); }));
}

void WindowPolicy::settingsWindowDidBecomeKey(OverlaySettings& settings) {
    settings.reapplyProfileOverrides();
}

}  // namespace velaro
