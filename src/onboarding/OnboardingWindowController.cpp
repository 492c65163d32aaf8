// The tour window's showing, closing and close notification.
#include "onboarding/OnboardingWindowController.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"

namespace velaro {

OnboardingRootView::OnboardingRootView(Model model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    // The welcome page: the headline on the tour's dark backdrop, and the one button that moves on.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 0, 40, 50);
    layout->addStretch(4);
    auto* headline =
        new QLabel(QStringLiteral("Turn your menu bar\ninto a living part of your\ndesktop."), this);
    headline->setAlignment(Qt::AlignCenter);
    QFont font = headline->font();
    font.setPixelSize(32);
    font.setWeight(QFont::Medium);
    headline->setFont(font);
    headline->setStyleSheet(QStringLiteral("color: rgb(245, 245, 245);"));
    layout->addWidget(headline);
    layout->addStretch(3);
    auto* start = new QPushButton(QStringLiteral("Let\u2019s Start"), this);
    start->setObjectName(QStringLiteral("letsStart"));
    start->setDefault(true);
    start->setFixedSize(120, 35);
    start->setCursor(Qt::PointingHandCursor);
    start->setStyleSheet(
        QStringLiteral("QPushButton { color: rgb(245, 245, 245); background: rgb(72, 92, 230); border: none; "
                       "border-radius: 17px; }"
                       "QPushButton:hover { background: rgb(92, 112, 245); }"));
    layout->addWidget(start, 0, Qt::AlignHCenter);
    connect(start, &QPushButton::clicked, this, [this] { continueTapped(); });
}

void OnboardingRootView::continueTapped() {
    // Completing is stored whether or not this run of the tour stores its progress.
    model_.settings.defaults().set(onboardingStepKey, static_cast<std::int64_t>(OnboardingStep::completed));
    if (model_.startRuntime) model_.startRuntime();
    if (model_.finish) model_.finish();
}

void OnboardingRootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient backdrop(0, 0, 0, height());
    backdrop.setColorAt(0, QColor(28, 30, 44));
    backdrop.setColorAt(1, QColor(12, 12, 18));
    painter.fillRect(rect(), backdrop);
}

TourWindow::TourWindow(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {
    setWindowTitle(QStringLiteral("Welcome to Velaro"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void TourWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed_) onClosed_();
}

OnboardingWindowController::OnboardingWindowController(std::unique_ptr<OnboardingRootView> content,
                                                       bool toolkitWindow)
    : rootView_(content.get()) {
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
