// The settings and tour windows' rules and the taskbar policy.
#include "app/WindowPolicy.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

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

namespace {

// Lives as a child of the window it follows, hearing of every change of its native window.
class NativeWindowFollower final : public QObject {
public:
    NativeWindowFollower(QWidget& window, TaskbarPolicy& dock, TaskbarEntry entry, Lifetime::Token policy)
        : QObject(&window), window_(&window), dock_(dock), entry_(entry), policy_(std::move(policy)) {
        window.installEventFilter(this);
        // Made now if it is not yet, so that the window is under the policy before it first shows.
        follow(WindowNumber(window.winId()));
    }
    ~NativeWindowFollower() override { follow(0); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::WinIdChange)
            follow(WindowNumber(window_->internalWinId()));
        return QObject::eventFilter(watched, event);
    }

private:
    void follow(WindowNumber now) {
        if (now == current_ || !policy_.aliveHere()) return;
        if (current_ != 0) dock_.removeWindow(current_);
        current_ = now;
        if (current_ != 0) dock_.addWindow(current_, entry_);
    }

    QPointer<QWidget> window_;
    TaskbarPolicy& dock_;
    TaskbarEntry entry_;
    Lifetime::Token policy_;
    WindowNumber current_ = 0;
};

}  // namespace

void WindowPolicy::follow(QWidget& window, TaskbarEntry entry) {
    new NativeWindowFollower(window, dock_, entry, lifetime_.token());
}

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
