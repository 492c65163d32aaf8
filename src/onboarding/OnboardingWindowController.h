// The tour's window and its controller. The window is always 750 × 500, titled "Welcome to Velaro", with a
// close button only, and moves by its background; the controller shows it in front, closes it for the tour
// and reports its closing.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "onboarding/OnboardingRootView.h"
#include "onboarding/OnboardingStep.h"

namespace velaro {

// The tour's top-level window: it holds the page at its top-left corner, refuses full screen and maximised
// (which a window manager may apply whatever buttons it shows), and tells its owner when the user closes it.
class TourWindow : public QWidget {
public:
    explicit TourWindow(std::function<void()> onClosed);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::function<void()> onClosed_;
    // The last imposed size the window objected to; a manager that keeps imposing it is not fought again.
    std::optional<QSize> contested_;
};

class OnboardingWindowController {
public:
    static constexpr int width = 750;
    static constexpr int height = 500;

    // Without a toolkit window the controller only keeps the visible state, for tests.
    explicit OnboardingWindowController(std::unique_ptr<OnboardingRootView> content,
                                        bool toolkitWindow = true);
    ~OnboardingWindowController();
    OnboardingWindowController(const OnboardingWindowController&) = delete;
    OnboardingWindowController& operator=(const OnboardingWindowController&) = delete;

    // Called once each time the window closes.
    std::function<void()> onClose;

    // Brings the window forward at its fixed size and gives it the keyboard.
    void show();
    // The tour's own way to close the window; the close is reported as the user's would be.
    void closeWindowAction();
    bool isVisible() const;
    TourWindow* window() const { return window_.get(); }

private:
    void windowClosed();

    std::unique_ptr<TourWindow> window_;
    std::unique_ptr<OnboardingRootView> content_;  // owned by the window once there is one
    OnboardingRootView* rootView_ = nullptr;
    bool shown_ = false;
};

}  // namespace velaro
