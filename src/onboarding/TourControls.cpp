// Placement, hover growth and entrance of the tour's painted controls; the page dots.
#include "onboarding/TourControls.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "onboarding/TourPainting.h"

namespace velaro::tour {

QPointF placeOver(QWidget& widget, const QRectF& frame, const QMarginsF& room) {
    const QRectF outer = frame.marginsAdded(room);
    const QPoint topLeft(int(std::floor(outer.left())), int(std::floor(outer.top())));
    const QPoint bottomRight(int(std::ceil(outer.right())), int(std::ceil(outer.bottom())));
    widget.setGeometry(QRect(topLeft, QSize(bottomRight.x() - topLeft.x(), bottomRight.y() - topLeft.y())));
    return frame.topLeft() - QPointF(topLeft);
}

TourKeyButton::TourKeyButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::TabFocus);
}

void TourKeyButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            // A button would move the focus with them; in the tour they turn the page.
            event->ignore();
            return;
        default:
            QAbstractButton::keyPressEvent(event);
    }
}

namespace {
// How far outside a button's face its focus ring lies, and the least room a button keeps around its face
// for the ring.
constexpr double kFocusOutset = 3;
constexpr double kFocusRoom = kFocusOutset + 1;
}  // namespace

TourButton::TourButton(MainLoop& loop, const QString& label, Face face, QWidget* parent)
    : TourKeyButton(parent), face_(std::move(face)), scale_(loop, 1.0), focusOutset_(kFocusOutset) {
    setText(label);
    setAccessibleName(label);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    scale_.setOnChange([this] { update(); });
}

void TourButton::setFrame(const QRectF& frame, double reach, const QMarginsF& room) {
    frame_ = frame;
    reach_ = reach;
    // Room for the reach, the hover growth, the focus ring and whatever the owner draws around the face.
    const double grow = std::max({reach, std::max(frame.width(), frame.height()) * 0.05, kFocusRoom});
    origin_ = placeOver(*this, frame, room + QMarginsF(grow, grow, grow, grow));
    entranceImage_ = {};
    update();
}

void TourButton::setFaceOpacity(double opacity) {
    if (opacity_ == opacity) return;
    opacity_ = opacity;
    update();
}

void TourButton::setEntrance(const Entrance* entrance) {
    entrance_ = entrance;
    update();
}

void TourButton::setFocusRing(double outset, double radius) {
    focusOutset_ = outset;
    focusRadius_ = radius;
    update();
}

bool TourButton::hitButton(const QPoint& pos) const {
    const QRectF face(origin_, frame_.size());
    return face.adjusted(-reach_, -reach_, reach_, reach_).contains(QPointF(pos));
}

void TourButton::paintFace(QPainter& painter) const {
    face_(painter, QRectF(QPointF(0, 0), frame_.size()), *this);
}

void TourButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(opacity_);
    painter.translate(origin_);
    const double progress = entrance_ ? entrance_->progress() : 1.0;
    if (progress < 1.0) {
        if (entranceImage_.image.isNull()) {
            entranceImage_ = renderPiece(QRectF(QPointF(0, 0), frame_.size()), devicePixelRatioF(),
                                         [this](QPainter& p) { paintFace(p); });
        }
        paintEntrance(painter, entranceImage_, progress);
    } else {
        const double s = scale_.value();
        painter.save();
        if (s != 1.0) {
            const QPointF centre(frame_.width() / 2, frame_.height() / 2);
            painter.translate(centre);
            painter.scale(s, s);
            painter.translate(-centre);
        }
        paintFace(painter);
        painter.restore();
        if (hasFocus()) {
            const QRectF ring = QRectF(QPointF(0, 0), frame_.size())
                                    .adjusted(-focusOutset_, -focusOutset_, focusOutset_, focusOutset_);
            drawFocusRing(painter, ring,
                          focusRadius_ >= 0 ? focusRadius_ : std::min(ring.width(), ring.height()) / 2);
        }
    }
    if (overlay_) overlay_(painter, QRectF(QPointF(0, 0), frame_.size()));
}

void TourButton::mouseMoveEvent(QMouseEvent* event) {
    setHovering(hitButton(event->position().toPoint()));
    QAbstractButton::mouseMoveEvent(event);
}

void TourButton::leaveEvent(QEvent* event) {
    setHovering(false);
    QAbstractButton::leaveEvent(event);
}

void TourButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) updateScale();
    QAbstractButton::changeEvent(event);
}

void TourButton::setHovering(bool hovering) {
    if (hovering_ == hovering) return;
    hovering_ = hovering;
    updateScale();
}

void TourButton::updateScale() {
    if (!hoverScales_) return;
    scale_.set(hovering_ && isEnabled() ? 1.05 : 1.0, OverlayAnimation{0.15, TimingCurve::easeOut});
}

TourLayer::TourLayer(std::function<void(QPainter&)> paint, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 750, 500);
}

void TourLayer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paint_(painter);
}

namespace {
constexpr double kDot = 4, kCurrentWidth = 12, kSpacing = 5;
constexpr double kRowWidth =
    kDot * (onboardingPageOrder.size() - 1) + kCurrentWidth + kSpacing * (onboardingPageOrder.size() - 1);
}  // namespace

TourPageIndicator::TourPageIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    origin_ = placeOver(*this, QRectF(centre.x() - kRowWidth / 2, centre.y() - kDot / 2, kRowWidth, kDot),
                        QMarginsF(1, 1, 1, 1));
    setStep(OnboardingStep::welcome);
}

void TourPageIndicator::setStep(OnboardingStep step) {
    step_ = step;
    setAccessibleName(
        QStringLiteral("Page %1 of %2").arg(pageIndex(step) + 1).arg(onboardingPageOrder.size()));
    update();
}

void TourPageIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin_);
    const std::size_t current = pageIndex(step_);
    double x = 0;
    for (std::size_t i = 0; i < onboardingPageOrder.size(); ++i) {
        if (i == current) {
            const QRectF pill(x, 0, kCurrentWidth, kDot);
            painter.fillPath(capsule(pill), accentGradient(pill));
            x += kCurrentWidth;
        } else {
            painter.fillPath(capsule(QRectF(x, 0, kDot, kDot)), dotIdle);
            x += kDot;
        }
        x += kSpacing;
    }
}

}  // namespace velaro::tour
