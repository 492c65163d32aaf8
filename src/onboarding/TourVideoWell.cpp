// Cover fit, playback and hover of the clip well.
#include "onboarding/TourVideoWell.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace velaro {

QRectF coverFrame(QSizeF natural, QSizeF bounds, QPointF anchor) {
    if (natural.width() <= 0 || natural.height() <= 0 || bounds.width() <= 0 || bounds.height() <= 0)
        return {QPointF(0, 0), bounds};
    const double scale = std::max(bounds.width() / natural.width(), bounds.height() / natural.height());
    const double w = natural.width() * scale, h = natural.height() * scale;
    return {anchor.x() * (bounds.width() - w), anchor.y() * (bounds.height() - h), w, h};
}

TourVideoWell::TourVideoWell(MainLoop& loop, QWidget* parent, ClipFinder find)
    : QWidget(parent), loop_(loop), find_(std::move(find)) {
    windowActive_ = [this] { return isActiveWindow(); };
    setAttribute(Qt::WA_Hover);
}

TourVideoWell::~TourVideoWell() = default;

void TourVideoWell::load(const std::string& name) {
    if (loaded_ && name == name_) return;
    loaded_ = true;
    name_ = name;
    ticker_.cancel();
    clip_ = find_ ? find_(name) : nullptr;
    pausedAt_ = 0;
    relayout();
    // A new clip plays through once, whether or not the pointer is over it.
    if (clip_) play();
    update();
}

void TourVideoWell::setAnchor(QPointF anchor) {
    if (anchor == anchor_) return;
    anchor_ = anchor;
    relayout();
}

void TourVideoWell::setCornerRadius(double radius) {
    radius_ = radius;
    update();
}

double TourVideoWell::position() const {
    if (!clip_) return 0;
    return ticker_.isActive() ? std::min(loop_.uptime() - startedAt_, clip_->duration()) : pausedAt_;
}

void TourVideoWell::play() {
    if (!clip_ || ticker_.isActive()) return;
    startedAt_ = loop_.uptime() - pausedAt_;
    ticker_ = loop_.every(frameInterval, [this] { tick(); });
}

void TourVideoWell::pauseAtStart() {
    ticker_.cancel();
    pausedAt_ = 0;
    update();
}

void TourVideoWell::tick() {
    if (!clip_) return;
    if (loop_.uptime() - startedAt_ >= clip_->duration()) {
        // At the end it goes back to the start: on again while hovered, else it rests there.
        if (hovering_) {
            startedAt_ = loop_.uptime();
        } else {
            pauseAtStart();
            return;
        }
    }
    update();
}

void TourVideoWell::pointerEntered() {
    // Only the active window's well answers the pointer.
    if (!windowActive_()) return;
    hovering_ = true;
    play();
}

void TourVideoWell::pointerLeft() {
    hovering_ = false;
    if (clip_) pauseAtStart();
}

void TourVideoWell::windowActivationChanged() {
    // A window that goes to the back keeps the pointer over it without a leave: it counts as one.
    if (hovering_ && !windowActive_()) pointerLeft();
}

void TourVideoWell::relayout() {
    frame_ = clip_ ? coverFrame(clip_->naturalSize(), size(), anchor_) : QRectF();
    update();
}

void TourVideoWell::paintEvent(QPaintEvent*) {
    if (!clip_ || frame_.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (radius_ > 0) {
        QPainterPath well;
        well.addRoundedRect(QRectF(rect()), radius_, radius_);
        painter.setClipPath(well);
    }
    const QSizeF natural = clip_->naturalSize();
    painter.translate(frame_.topLeft());
    if (natural.width() > 0 && natural.height() > 0)
        painter.scale(frame_.width() / natural.width(), frame_.height() / natural.height());
    clip_->paint(painter, position());
}

void TourVideoWell::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void TourVideoWell::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    pointerEntered();
}

void TourVideoWell::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    pointerLeft();
}

void TourVideoWell::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) windowActivationChanged();
}

}  // namespace velaro
