// The tour's content: the page of the current step over its background, and the chrome that moves between
// pages ("Let’s Start" on the welcome page; Back, the page dots and Next or Done on the others). It owns the
// navigation: it stores the reached step, starts the runtime before the first feature page, and ends the
// tour. From the keyboard: Tab walks the page's controls and then the chrome, Space presses the focused one,
// Left and Right turn the page, Return is Next (or Done) and Escape closes the tour.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Cancellable.h"
#include "base/MainLoop.h"
#include "base/Published.h"
#include "onboarding/OnboardingStep.h"
#include "onboarding/TourEntrance.h"
#include "onboarding/TourPermissionModel.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

class OverlaySettings;
class Permissions;

namespace tour {
class TourButton;
class TourPageIndicator;
}  // namespace tour

class OnboardingRootView : public QWidget {
public:
    // What the shell builds the tour with.
    struct Model {
        OverlaySettings& settings;
        LoginItemControl loginItem;
        Permissions& permissions;
        MainLoop& loop;
        // Opens the settings window on the page it last showed.
        std::function<void()> openSettings;
        // Closes the tour window.
        std::function<void()> finish;
        // Starts the runtime unless it runs already; called before a feature page shows.
        std::function<void()> startRuntime;
        OnboardingStep step = OnboardingStep::welcome;
        // Whether moves store the reached step.
        bool persistsProgress = true;
        // The desktop asks for reduced motion: pages change and come in without animation.
        bool reduceMotion = false;
        // Each time the app becomes active; the application's own when not given.
        std::optional<Stream<std::monostate>> becameActive = std::nullopt;
    };

    static constexpr QSize pageSize{750, 500};

    explicit OnboardingRootView(Model model, QWidget* parent = nullptr);
    ~OnboardingRootView() override;

    const Model& model() const { return model_; }
    OnboardingStep step() const { return step_; }

    // Moves to `target`: starts the runtime first for a feature page, stores the step when the tour keeps
    // its progress, then changes the page (animated unless motion is reduced or both pages are features).
    void go(OnboardingStep target);
    void advance();
    void goBack();
    // Next, or Done on the last page (stores the tour as completed and closes it).
    void continueTapped();
    // The last page's way to the settings: completes the tour, closes it, opens the settings window.
    void finishAndOpenSettings();
    // Whether Next (or Done) may be pressed: on the permissions page only in an X11 session.
    bool canContinue() const;
    // The Tab stops in their order: the page's controls from top to bottom, then the chrome.
    std::vector<QWidget*> focusChain() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makePage(OnboardingStep step);
    void showPage(OnboardingStep step, bool animated);
    void placeTransition(double progress);
    void finishTransition();
    void updateChrome(bool sessionUsable);
    void revealWelcomeButton();
    void startWelcomePulse();
    void pulseRound();
    void paintBackground(QPainter& painter, OnboardingStep step) const;
    void storeStep(OnboardingStep step);
    void orderFocus();

    Model model_;
    OnboardingStep step_;
    OnboardingStep previousStep_;
    Stream<std::monostate> becameActive_;
    TourPermissionModel permissions_;

    QWidget* page_ = nullptr;
    QWidget* outgoing_ = nullptr;
    AnimatedValue<double> transition_;

    tour::TourButton* start_ = nullptr;
    tour::TourButton* back_ = nullptr;
    tour::TourButton* next_ = nullptr;
    tour::TourPageIndicator* indicator_ = nullptr;

    // The welcome button's entrance and pulse ring; the pending steps end with the view.
    bool welcomeButtonShown_ = false;
    tour::Entrance startEntrance_;
    bool pulseVisible_ = false;
    AnimatedValue<double> pulse_;
    int pulseRounds_ = 0;
    Cancellable pulseShow_;
    Cancellable pulseHide_;
    Subscription sessionSubscription_;
};

}  // namespace velaro
