// Qt's mouse and wheel events as the overlay windows' mouse events, and the phases of touchpad swipes that
// the X11 platform does not report.
#pragma once

#include <Qt>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/OverlayWindowHost.h"

class QMouseEvent;
class QWheelEvent;

namespace velaro {

class MainLoop;

std::uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

// A press, a move with a button held, or a release, in the window's points; none for other events.
// `clickCount`: 1, or 2 for the release that ends a double click.
std::optional<OverlayMouseEvent> overlayMouseEvent(const QMouseEvent& event, int clickCount);

// Turns wheel events into scroll events. Only touchpads give precise deltas: a touchpad's wheel event moves
// angleDelta / 8 points. Where Qt gives no phase (its xcb platform never does), a run of touchpad events
// with gaps under `gestureGap` is one gesture: the first event begins it and the gap ends it. Wheel events
// without a delta or from no known device are dropped.
class WheelGestures {
public:
    static constexpr double gestureGap = 0.15;

    // `axesSwappedWithAlt`: the platform reports a horizontal scroll as vertical (and the other way round)
    // while Alt is held, as Qt's xcb platform does; the swap is undone so that a sideways swipe stays
    // sideways whatever is held.
    WheelGestures(MainLoop& loop, bool axesSwappedWithAlt,
                  std::function<void(const OverlayMouseEvent&)> deliver);
    ~WheelGestures();
    WheelGestures(const WheelGestures&) = delete;
    WheelGestures& operator=(const WheelGestures&) = delete;

    void wheel(const QWheelEvent& event);

private:
    void endGesture();

    MainLoop& loop_;
    bool axesSwappedWithAlt_;
    std::function<void(const OverlayMouseEvent&)> deliver_;
    bool inGesture_ = false;
    OverlayMouseEvent last_;
    Cancellable gap_;
    Lifetime lifetime_;
};

}  // namespace velaro
