// The rings' scroll router: hover bookkeeping, the wheel watch and the scroll run.
#include "ui/settings/rings/GaugeScrollRouter.h"

#include <QCoreApplication>
#include <QWheelEvent>
#include <QWidget>

namespace velaro {
namespace {

// A wheel without pixel deltas reports notches of 120 eighths of a degree: one line each.
constexpr double kAnglePerLine = 120;
// A line of a wheel counts as ten points of trackpad travel, and the radius moves a quarter of the travel.
constexpr double kPointsPerLine = 10;
constexpr double kRadiusPerPoint = 0.25;

}  // namespace

GaugeScrollRouter::Scroll GaugeScrollRouter::Scroll::from(const QWheelEvent& event) {
    Scroll scroll;
    scroll.precise = !event.pixelDelta().isNull();
    scroll.dy = scroll.precise ? event.pixelDelta().y() : event.angleDelta().y() / kAnglePerLine;
    scroll.inverted = event.inverted();
    scroll.momentum = event.phase() == Qt::ScrollMomentum;
    scroll.ended = event.phase() == Qt::ScrollEnd;
    return scroll;
}

GaugeScrollRouter::GaugeScrollRouter(QObject* parent) : QObject(parent) {}

void GaugeScrollRouter::install(QWidget& preview, ValueFor valueFor, Apply apply) {
    if (installed_) return;
    valueFor_ = std::move(valueFor);
    apply_ = std::move(apply);
    preview_ = &preview;
    // The wheel goes to the innermost widget under the pointer (a ring layer, a field), and the page's
    // scroll area would take it on its way up: only an application filter sees it first. Destroying the
    // router removes the filter with it.
    QCoreApplication::instance()->installEventFilter(this);
    installed_ = true;
}

void GaugeScrollRouter::uninstall() {
    if (installed_) {
        QCoreApplication::instance()->removeEventFilter(this);
        installed_ = false;
        preview_ = nullptr;
    }
    if (hoveredCorner_()) hoveredCorner_ = std::nullopt;
    endRun();
}

void GaugeScrollRouter::setHovered(GaugeCorner corner, bool inside) {
    if (inside) {
        if (hoveredCorner_() == corner) return;
        hoveredCorner_ = corner;
    } else {
        if (hoveredCorner_() != corner) return;
        hoveredCorner_ = std::nullopt;
    }
    overMenu_ = false;
    endRun();
}

void GaugeScrollRouter::setPointerOverMenu(bool inside) {
    if (inside && !overMenu_) endRun();
    overMenu_ = inside;
}

void GaugeScrollRouter::endRun() {
    activeCorner_.reset();
    baseValue_ = 0;
    accumulated_ = 0;
}

bool GaugeScrollRouter::step(const Scroll& scroll) {
    const std::optional<GaugeCorner> corner = hoveredCorner_();
    if (!corner) return false;
    if (overMenu_) return true;
    if (scroll.momentum || scroll.ended) {
        // Inertia after a flick is eaten and changes nothing; the next gesture starts from the value as it
        // then stands.
        endRun();
        return true;
    }
    if (activeCorner_ != corner) {
        activeCorner_ = corner;
        baseValue_ = valueFor_ ? valueFor_(*corner) : 0;
        accumulated_ = 0;
    }
    double delta = scroll.precise ? scroll.dy : scroll.dy * kPointsPerLine;
    if (scroll.inverted) delta = -delta;
    accumulated_ += delta * kRadiusPerPoint;
    if (apply_) apply_(*corner, baseValue_ + accumulated_);
    return true;
}

bool GaugeScrollRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel || !preview_) return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || (target != preview_ && !preview_->isAncestorOf(target))) return false;
    return step(Scroll::from(*static_cast<QWheelEvent*>(event)));
}

}  // namespace velaro
