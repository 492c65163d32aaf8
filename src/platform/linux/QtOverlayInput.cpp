// Conversion of Qt's mouse and wheel events for the overlay windows, and the swipe phases made from gaps.
#include "platform/linux/QtOverlayInput.h"

#include <QMouseEvent>
#include <QPointingDevice>
#include <QWheelEvent>
#include <cmath>

#include "base/MainLoop.h"

namespace velaro {

namespace {

OverlayMouseEvent::Button buttonOf(Qt::MouseButtons buttons) {
    if (buttons & Qt::LeftButton) return OverlayMouseEvent::Button::left;
    if (buttons & Qt::RightButton) return OverlayMouseEvent::Button::right;
    return OverlayMouseEvent::Button::other;
}

std::optional<ScrollPhase> phaseOf(Qt::ScrollPhase phase) {
    switch (phase) {
        case Qt::ScrollBegin:
            return ScrollPhase::began;
        case Qt::ScrollUpdate:
            return ScrollPhase::changed;
        case Qt::ScrollEnd:
            return ScrollPhase::ended;
        case Qt::NoScrollPhase:
        case Qt::ScrollMomentum:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers modifiers) {
    std::uint32_t flags = 0;
    if (modifiers & Qt::ShiftModifier) flags |= ModifierFlag::shift;
    if (modifiers & Qt::ControlModifier) flags |= ModifierFlag::control;
    if (modifiers & Qt::AltModifier) flags |= ModifierFlag::option;
    if (modifiers & Qt::MetaModifier) flags |= ModifierFlag::command;
    return flags;
}

std::optional<OverlayMouseEvent> overlayMouseEvent(const QMouseEvent& event, int clickCount) {
    OverlayMouseEvent out;
    switch (event.type()) {
        case QEvent::MouseButtonPress:
            out.kind = OverlayMouseEvent::Kind::down;
            out.button = buttonOf(event.button());
            break;
        case QEvent::MouseButtonRelease:
            out.kind = OverlayMouseEvent::Kind::up;
            out.button = buttonOf(event.button());
            break;
        case QEvent::MouseMove:
            // Hovering is not dragging.
            if (event.buttons() == Qt::NoButton) return std::nullopt;
            out.kind = OverlayMouseEvent::Kind::dragged;
            out.button = buttonOf(event.buttons());
            break;
        default:
            return std::nullopt;
    }
    out.location = {event.position().x(), event.position().y()};
    out.clickCount = clickCount;
    out.modifiers = modifierFlagsFromQt(event.modifiers());
    return out;
}

WheelGestures::WheelGestures(MainLoop& loop, bool axesSwappedWithAlt,
                             std::function<void(const OverlayMouseEvent&)> deliver)
    : loop_(loop), axesSwappedWithAlt_(axesSwappedWithAlt), deliver_(std::move(deliver)) {}

WheelGestures::~WheelGestures() = default;

void WheelGestures::wheel(const QWheelEvent& event) {
    const QPointingDevice* device = event.pointingDevice();
    if (!device || device->type() == QInputDevice::DeviceType::Unknown) return;
    QPointF delta = QPointF(event.angleDelta()) / 8.0;
    if (axesSwappedWithAlt_ && (event.modifiers() & Qt::AltModifier)) delta = delta.transposed();
    if (!std::isfinite(delta.x()) || !std::isfinite(delta.y())) return;

    OverlayMouseEvent out;
    out.kind = OverlayMouseEvent::Kind::scroll;
    out.location = {event.position().x(), event.position().y()};
    out.modifiers = modifierFlagsFromQt(event.modifiers());
    out.deltaX = delta.x();
    out.deltaY = delta.y();
    out.hasPreciseDeltas = device->type() == QInputDevice::DeviceType::TouchPad;
    out.directionInvertedFromDevice = event.inverted();

    if (event.phase() != Qt::NoScrollPhase) {
        // The platform knows the gesture: take its phases as they are.
        if (event.phase() == Qt::ScrollMomentum)
            out.momentumPhase = ScrollPhase::changed;
        else
            out.phase = *phaseOf(event.phase());
        deliver_(out);
        return;
    }
    if (delta.isNull()) return;
    if (!out.hasPreciseDeltas) {
        deliver_(out);  // wheel notches: no gesture to speak of
        return;
    }
    // Each delivery may end this object (its window may go): check before going on.
    const auto alive = lifetime_.token();
    if (!inGesture_) {
        inGesture_ = true;
        OverlayMouseEvent began = out;
        began.phase = ScrollPhase::began;
        began.deltaX = began.deltaY = 0;
        deliver_(began);
        if (!alive.aliveHere()) return;
    }
    out.phase = ScrollPhase::changed;
    last_ = out;
    gap_ = loop_.postAfter(gestureGap, lifetime_.guard([this] { endGesture(); }));
    deliver_(out);
}

void WheelGestures::endGesture() {
    if (!inGesture_) return;
    inGesture_ = false;
    OverlayMouseEvent ended = last_;
    ended.phase = ScrollPhase::ended;
    ended.deltaX = ended.deltaY = 0;
    deliver_(ended);
}

}  // namespace velaro
