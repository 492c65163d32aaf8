// The tour's window and its controller. The tour's pages fill the root view in; the shell only builds,
// shows, brings forward and closes it, and hears when it closes.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "onboarding/OnboardingStep.h"

namespace velaro {

class LoginItemManager;
class OverlaySettings;

// The tour's content, built by the shell with what the pages act on.
class OnboardingRootView : public QWidget {
public:
    struct Model {
        OverlaySettings& settings;
        LoginItemManager& loginItem;
        std::function<void()> openSettings;
        std::function<void()> finish;
        // The tour calls it before it shows a style or feature page.
        std::function<void()> startRuntime;
        OnboardingStep step = OnboardingStep::welcome;
        // Whether the tour stores its step as it goes.
        bool persistsProgress = true;
    };

    explicit OnboardingRootView(Model model, QWidget* parent = nullptr);
    const Model& model() const { return model_; }

    // The tour's own way forward from the welcome page. Only the welcome page exists so far, so moving on
    // completes the tour: the step is stored as completed, the runtime starts and the window closes.
    void continueTapped();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Model model_;
};

// The tour's top-level window: it tells its owner when the user closes it.
class TourWindow : public QWidget {
public:
    explicit TourWindow(std::function<void()> onClosed);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> onClosed_;
};

class OnboardingWindowController {
public:
    static constexpr int width = 750;
    static constexpr int height = 500;

    // Without a toolkit window (`window` null) the controller only keeps the visible state, for tests.
    explicit OnboardingWindowController(std::unique_ptr<OnboardingRootView> content,
                                        bool toolkitWindow = true);
    ~OnboardingWindowController();
    OnboardingWindowController(const OnboardingWindowController&) = delete;
    OnboardingWindowController& operator=(const OnboardingWindowController&) = delete;

    // Called once each time the window closes.
    std::function<void()> onClose;

    // Brings the window forward at its fixed size and gives it the keyboard.
    void show();
    void closeWindowAction();
    bool isVisible() const;
    TourWindow* window() const { return window_.get(); }
    OnboardingRootView* rootView() const { return rootView_; }

private:
    void windowClosed();

    std::unique_ptr<TourWindow> window_;
    std::unique_ptr<OnboardingRootView> content_;  // owned by the window once there is one
    OnboardingRootView* rootView_ = nullptr;
    bool shown_ = false;
};

}  // namespace velaro
