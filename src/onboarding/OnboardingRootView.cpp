// Navigation, page changes, backgrounds and chrome of the tour.
#include "onboarding/OnboardingRootView.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QPainter>
#include <QWindow>

#include "onboarding/AllSetPage.h"
#include "onboarding/PermissionsPage.h"
#include "onboarding/TourControls.h"
#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"
#include "onboarding/TourStyleOptionPage.h"
#include "onboarding/WelcomePage.h"
#include "settings/OverlaySettings.h"

namespace velaro {

namespace {

// How far a page slides as it comes in from the right or leaves to the left.
constexpr double kSlide = 24;
constexpr QRectF kStartFace{327.5, 408, 90, 35};
constexpr QRectF kBackFace{68, 408, 70, 35};
constexpr QRectF kNextFace{607.5, 408, 70, 35};
constexpr double kPulseGrowth = 0.45;
constexpr int kPulseRounds = 3;

}  // namespace

OnboardingRootView::OnboardingRootView(Model model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      step_(model_.step),
      previousStep_(model_.step),
      becameActive_(model_.becameActive ? *model_.becameActive : applicationBecameActive()),
      permissions_(model_.permissions, model_.loop, becameActive_),
      transition_(model_.loop, 1.0),
      startEntrance_(model_.loop),
      pulse_(model_.loop, 0.0) {
    setFixedSize(pageSize);
    // The view holds the keyboard between Tab stops without being one: a click on the page takes the focus
    // (and its ring) from a control.
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    page_ = makePage(step_);

    start_ = new tour::TourButton(
        model_.loop, QStringLiteral("Let\u2019s Start"),
        [](QPainter& painter, const QRectF& face, const tour::TourButton& button) {
            painter.fillPath(tour::capsule(face), tour::buttonInk);
            tour::drawCentredLine(painter, button.text(), tour::startButtonFont, face, tour::text);
        },
        this);
    start_->setObjectName(QStringLiteral("letsStart"));
    // Room for the pulse ring and for the entrance's blur and drop.
    start_->setFrame(kStartFace, 0, QMarginsF(24, 24, 24, 40));
    start_->setHoverScales(true);
    start_->setEntrance(&startEntrance_);
    start_->setOverlay([this](QPainter& painter, const QRectF& face) {
        if (!pulseVisible_) return;
        const double v = pulse_.value();
        painter.save();
        painter.setOpacity(0.7 * (1 - v));
        const QPointF centre = face.center();
        painter.translate(centre);
        painter.scale(1 + kPulseGrowth * v, 1 + kPulseGrowth * v);
        painter.translate(-centre);
        QPen pen(Qt::white, 1.5);
        pen.setMiterLimit(10);
        painter.strokePath(tour::capsule(face), pen);
        painter.restore();
    });
    connect(start_, &QAbstractButton::clicked, this, [this] { advance(); });
    startEntrance_.setOnChange([this] { start_->update(); });
    pulse_.setOnChange([this] { start_->update(); });

    back_ = new tour::TourButton(
        model_.loop, QStringLiteral("Back"),
        [](QPainter& painter, const QRectF& face, const tour::TourButton& button) {
            painter.strokePath(tour::capsule(face.adjusted(0.5, 0.5, -0.5, -0.5)),
                               QPen(tour::withAlpha(Qt::white, 0.4), 1));
            tour::drawCentredLine(painter, button.text(), tour::buttonFont, face,
                                  tour::withAlpha(tour::text, 0.8));
        },
        this);
    back_->setObjectName(QStringLiteral("back"));
    back_->setFrame(kBackFace);
    back_->setHoverScales(true);
    connect(back_, &QAbstractButton::clicked, this, [this] { goBack(); });

    indicator_ = new tour::TourPageIndicator(this);

    next_ = new tour::TourButton(
        model_.loop, QStringLiteral("Next"),
        [](QPainter& painter, const QRectF& face, const tour::TourButton& button) {
            painter.fillPath(tour::capsule(face), tour::accentGradient(face));
            tour::drawCentredLine(painter, button.text(), tour::buttonFont, face,
                                  tour::withAlpha(tour::text, 0.8));
        },
        this);
    next_->setObjectName(QStringLiteral("next"));
    next_->setFrame(kNextFace);
    next_->setHoverScales(true);
    connect(next_, &QAbstractButton::clicked, this, [this] { continueTapped(); });

    transition_.setOnChange([this] { placeTransition(transition_.value()); });
    sessionSubscription_ = permissions_.statuses().changes().sink([this](const CapabilityStatuses& statuses) {
        updateChrome(statuses.present(Capability::x11Session));
    });
    updateChrome(permissions_.present(Capability::x11Session));
    orderFocus();
}

OnboardingRootView::~OnboardingRootView() {
    // The pages hold the permission model started; they go before it does.
    delete outgoing_;
    delete page_;
}

bool OnboardingRootView::canContinue() const {
    return step_ != OnboardingStep::permissions || permissions_.present(Capability::x11Session);
}

void OnboardingRootView::storeStep(OnboardingStep step) {
    model_.settings.defaults().set(onboardingStepKey, static_cast<std::int64_t>(step));
}

void OnboardingRootView::go(OnboardingStep target) {
    if (isFeatureStep(target) && model_.startRuntime) model_.startRuntime();
    if (model_.persistsProgress) storeStep(target);
    const bool animated = !model_.reduceMotion && !(isFeatureStep(step_) && isFeatureStep(target));
    previousStep_ = step_;
    step_ = target;
    showPage(target, animated);
    updateChrome(permissions_.present(Capability::x11Session));
    orderFocus();
    update();
}

void OnboardingRootView::advance() {
    const std::size_t i = pageIndex(step_);
    go(onboardingPageOrder[std::min(i + 1, onboardingPageOrder.size() - 1)]);
}

void OnboardingRootView::goBack() {
    const std::size_t i = pageIndex(step_);
    go(onboardingPageOrder[i == 0 ? 0 : i - 1]);
}

void OnboardingRootView::continueTapped() {
    if (step_ != OnboardingStep::allSet) {
        advance();
        return;
    }
    // Finishing is stored whether or not this run of the tour keeps its progress.
    storeStep(OnboardingStep::completed);
    if (model_.finish) model_.finish();
}

void OnboardingRootView::finishAndOpenSettings() {
    storeStep(OnboardingStep::completed);
    if (model_.finish) model_.finish();
    if (model_.openSettings) model_.openSettings();
}

QWidget* OnboardingRootView::makePage(OnboardingStep step) {
    QWidget* page = nullptr;
    switch (step) {
        case OnboardingStep::welcome:
            page = new WelcomePage(model_.loop, model_.reduceMotion, this);
            break;
        case OnboardingStep::permissions:
            page = new PermissionsPage(permissions_, model_.loop, this);
            break;
        case OnboardingStep::allSet:
        case OnboardingStep::completed:
            page = new AllSetPage(
                model_.settings, model_.loginItem, model_.loop, [this] { finishAndOpenSettings(); }, this);
            break;
        default:
            // The trust as it stands when the page is made; the page reads it again when the app comes back.
            page = new TourStyleOptionPage(model_.settings, step,
                                           permissions_.present(Capability::windowManager), model_.loop,
                                           model_.permissions, becameActive_, this);
            break;
    }
    page->move(0, 0);
    page->show();
    page->lower();
    return page;
}

namespace {
// The controls of `page` that Tab stops at, in the order they were made (top to bottom on every page).
std::vector<QWidget*> tabStops(QWidget* page) {
    std::vector<QWidget*> stops;
    for (QWidget* child : page->findChildren<QWidget*>())
        if (child->focusPolicy() & Qt::TabFocus) stops.push_back(child);
    return stops;
}
}  // namespace

void OnboardingRootView::showPage(OnboardingStep step, bool animated) {
    finishTransition();
    QWidget* old = page_;
    // The keys keep working when the control that had them goes with its page.
    if (QWidget* focus = QApplication::focusWidget(); focus && old->isAncestorOf(focus))
        setFocus(Qt::OtherFocusReason);
    // A page on its way out is no Tab stop.
    for (QWidget* stop : tabStops(old)) stop->setFocusPolicy(Qt::NoFocus);
    page_ = makePage(step);
    if (!animated) {
        delete old;
        return;
    }
    outgoing_ = old;
    outgoing_->setAttribute(Qt::WA_TransparentForMouseEvents);
    outgoing_->setGraphicsEffect(new QGraphicsOpacityEffect);
    page_->setGraphicsEffect(new QGraphicsOpacityEffect);
    transition_.snapTo(0.0);
    transition_.set(1.0, tour::pageAnimation, [this] { finishTransition(); });
}

void OnboardingRootView::placeTransition(double progress) {
    if (!outgoing_) return;
    outgoing_->move(int(std::lround(-kSlide * progress)), 0);
    static_cast<QGraphicsOpacityEffect*>(outgoing_->graphicsEffect())->setOpacity(1 - progress);
    page_->move(int(std::lround(kSlide * (1 - progress))), 0);
    static_cast<QGraphicsOpacityEffect*>(page_->graphicsEffect())->setOpacity(progress);
    update();
}

void OnboardingRootView::finishTransition() {
    if (!outgoing_) return;
    delete std::exchange(outgoing_, nullptr);
    page_->move(0, 0);
    page_->setGraphicsEffect(nullptr);
    previousStep_ = step_;
    update();
}

std::vector<QWidget*> OnboardingRootView::focusChain() const {
    std::vector<QWidget*> chain = tabStops(page_);
    chain.insert(chain.end(), {start_, back_, next_});
    return chain;
}

void OnboardingRootView::orderFocus() {
    // Widgets join the focus chain as they are made, so a new page's controls would come after the chrome.
    QWidget* previous = this;
    for (QWidget* stop : focusChain()) {
        setTabOrder(previous, stop);
        previous = stop;
    }
}

void OnboardingRootView::updateChrome(bool sessionUsable) {
    const bool welcome = step_ == OnboardingStep::welcome;
    start_->setVisible(welcome);
    back_->setVisible(!welcome);
    indicator_->setVisible(!welcome);
    next_->setVisible(!welcome);
    indicator_->setStep(step_);
    const QString label = step_ == OnboardingStep::allSet ? QStringLiteral("Done") : QStringLiteral("Next");
    if (next_->text() != label) {
        next_->setText(label);
        next_->setAccessibleName(label);
        next_->update();
    }
    const bool enabled = step_ != OnboardingStep::permissions || sessionUsable;
    next_->setEnabled(enabled);
    next_->setFaceOpacity(enabled ? 1.0 : 0.4);
    if (welcome) revealWelcomeButton();
}

void OnboardingRootView::revealWelcomeButton() {
    // Coming back to the welcome page does not play the entrance or the pulse again.
    if (welcomeButtonShown_) return;
    welcomeButtonShown_ = true;
    if (model_.reduceMotion) {
        startEntrance_.show(false);
        return;
    }
    startEntrance_.show(true, 0.85);
    pulseShow_ = model_.loop.postAfter(1.35, [this] {
        if (step_ != OnboardingStep::welcome) return;
        pulseVisible_ = true;
        startWelcomePulse();
    });
    pulseHide_ = model_.loop.postAfter(1.35 + 2.75, [this] {
        pulseVisible_ = false;
        pulse_.snapTo(pulse_.target());
        start_->update();
    });
}

void OnboardingRootView::startWelcomePulse() {
    pulseRounds_ = 0;
    pulseRound();
}

void OnboardingRootView::pulseRound() {
    // Three outward rings, each from the button's edge; the last rests grown and clear.
    if (!pulseVisible_ || pulseRounds_ >= kPulseRounds) return;
    ++pulseRounds_;
    pulse_.snapTo(0.0);
    pulse_.set(1.0, OverlayAnimation{0.9, TimingCurve::easeOut}, [this] { pulseRound(); });
}

void OnboardingRootView::paintBackground(QPainter& painter, OnboardingStep step) const {
    const QRectF page(QPointF(0, 0), QSizeF(pageSize));
    if (step == OnboardingStep::welcome) {
        QLinearGradient gradient(QPointF(0.9626666666666667 * 750, 0.046 * 500),
                                 QPointF(0.03466673333333334 * 750, 1.0 * 500));
        gradient.setColorAt(0, tour::welcomeTop);
        gradient.setColorAt(1, tour::welcomeBottom);
        painter.fillRect(page, gradient);
        return;
    }
    QRadialGradient ground(QPointF(-0.017000133333333334 * 750, 1.0325 * 500), 1183.53);
    ground.setStops(tour::groundStops());
    painter.fillRect(page, ground);
}

void OnboardingRootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintBackground(painter, step_);
    // While pages change, the old background fades out over the new one.
    if (outgoing_ && (previousStep_ == OnboardingStep::welcome) != (step_ == OnboardingStep::welcome)) {
        painter.setOpacity(1 - transition_.value());
        paintBackground(painter, previousStep_);
    }
}

void OnboardingRootView::keyPressEvent(QKeyEvent* event) {
    // The keys a focused control leaves (all but Space and Tab) come here too.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // The default action: "Let’s Start" on the welcome page, else Next or Done while enabled.
            if (step_ == OnboardingStep::welcome) {
                advance();
            } else if (canContinue()) {
                continueTapped();
            }
            return;
        case Qt::Key_Right:
            // Next, where there is a next page; the last page ends only by Done.
            if (step_ != OnboardingStep::allSet && step_ != OnboardingStep::completed && canContinue())
                advance();
            return;
        case Qt::Key_Left:
            // Back, where the page has a Back button.
            if (step_ != OnboardingStep::welcome) goBack();
            return;
        case Qt::Key_Escape:
            // As the window's close button: the tour keeps the step it reached.
            if (model_.finish) model_.finish();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void OnboardingRootView::mousePressEvent(QMouseEvent* event) {
    // The window moves by its background: a press that no control took starts a move.
    QWidget* top = window();
    if (event->button() == Qt::LeftButton && top && top != this && top->windowHandle())
        top->windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void OnboardingRootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

}  // namespace velaro
