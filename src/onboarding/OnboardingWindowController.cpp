// The tour window's size and state rules, showing, closing and close notification.
#include "onboarding/OnboardingWindowController.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPalette>
#include <QResizeEvent>
#include <QScreen>

#include "onboarding/TourPalette.h"

namespace velaro {

namespace {
constexpr QSize kSize{OnboardingWindowController::width, OnboardingWindowController::height};
}

TourWindow::TourWindow(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {
    setWindowTitle(QStringLiteral("Welcome to Velaro"));
    // Titled with a close button only: no minimise, no maximise, no resize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kSize);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, tour::rgb(0.0667, 0.0275, 0.0));
    setPalette(dark);
    setAutoFillBackground(true);
}

void TourWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed_) onClosed_();
}

void TourWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size() == kSize) {
        contested_.reset();
        return;
    }
    // A window manager that imposes a size (a tiling one, a maximise rule) is asked once to give the fixed
    // size back; if it insists, the page stays at the top-left and the window keeps what it got, with no
    // fight.
    if (contested_ == event->size()) return;
    contested_ = event->size();
    resize(kSize);
}

void TourWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    // Full screen would lay the page over the panel without its close button; maximised is another size.
    // The window manager is asked to take the state back once its report of it has been handled.
    constexpr Qt::WindowStates refused = Qt::WindowFullScreen | Qt::WindowMaximized;
    if (!(windowState() & refused)) return;
    QMetaObject::invokeMethod(
        this, [this, refused] { setWindowState(windowState() & ~refused); }, Qt::QueuedConnection);
}

OnboardingWindowController::OnboardingWindowController(std::unique_ptr<OnboardingRootView> content,
                                                       bool toolkitWindow)
    : rootView_(content.get()) {
    if (!toolkitWindow) {
        content_ = std::move(content);
        return;
    }
    window_ = std::make_unique<TourWindow>([this] { windowClosed(); });
    content->setParent(window_.get());
    content->move(0, 0);
    content.release();
    // It opens centred on the primary screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), kSize);
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
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
    if (window_->size() != kSize) window_->resize(kSize);
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (rootView_) rootView_->setFocus(Qt::ActiveWindowFocusReason);
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
