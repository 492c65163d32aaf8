// The tour window's showing, closing and close notification.
#include "onboarding/OnboardingWindowController.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace velaro {

OnboardingRootView::OnboardingRootView(Model model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {}

TourWindow::TourWindow(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {
    setWindowTitle(QStringLiteral("Welcome to Velaro"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void TourWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed_) onClosed_();
}

OnboardingWindowController::OnboardingWindowController(std::unique_ptr<OnboardingRootView> content,
                                                       bool toolkitWindow) {
    if (!toolkitWindow) {
        content_ = std::move(content);
        return;
    }
    window_ = std::make_unique<TourWindow>([this] { windowClosed(); });
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content.release());
}

OnboardingWindowController::~OnboardingWindowController() {
    if (window_) {
        // Closing it here is the owner's doing, not the user's: no notification.
        onClose = nullptr;
        window_->hide();
    }
}

void OnboardingWindowController::show() {
    shown_ = true;
    if (!window_) return;
    // The pages are laid out for one size; the window manager may have restored another.
    window_->resize(width, height);
    window_->show();
    window_->raise();
    window_->activateWindow();
    window_->resize(width, height);
}

void OnboardingWindowController::closeWindowAction() {
    if (window_) {
        window_->close();
        return;
    }
    if (shown_) windowClosed();
}

bool OnboardingWindowController::isVisible() const {
    return window_ ? window_->isVisible() : shown_;
}

void OnboardingWindowController::windowClosed() {
    shown_ = false;
    if (onClose) onClose();
}

}  // namespace velaro
