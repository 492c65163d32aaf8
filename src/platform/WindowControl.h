// Acting on other programs' windows (safe from any thread): finding the maximise button of a
// window's title bar, raising a window and making it fill its screen's work area.
#pragma once

#include <cstdint>
#include <optional>

#include "base/Geometry.h"

namespace velaro {

// A window of another program, as the window control names it.
using WindowHandle = std::uint64_t;

// What an action on a window did.
enum class WindowActionResult {
    success,
    invalidWindow,  // the window (or its program) is gone
    failure,        // the window is there but refused, or the request could not be made
};

// The maximise button of a window's title bar.
struct MaximiseButton {
    WindowHandle window = 0;
    // In top-left global points.
    Rect frame;
    friend bool operator==(const MaximiseButton&, const MaximiseButton&) = default;
};

class WindowControl {
public:
    virtual ~WindowControl() = default;

    // The maximise button under `point` (top-left global points) when it belongs to the window that the
    // window list numbers `windowNumber`; nothing when the point is elsewhere or the title bar cannot be
    // read. Fast enough to run while a click waits for its decision.
    virtual std::optional<MaximiseButton> maximiseButtonAt(Point point, std::int64_t windowNumber) = 0;
    // Whether the window is in full screen; nothing when that cannot be read.
    virtual std::optional<bool> isFullScreen(WindowHandle window) = 0;
    // The process that owns the window; nothing when unknown.
    virtual std::optional<std::int32_t> processOf(WindowHandle window) = 0;

    // Brings the window to the front of its program's windows.
    virtual WindowActionResult raise(WindowHandle window) = 0;
    // Makes the window's program the active one.
    virtual WindowActionResult activate(WindowHandle window) = 0;
    // Makes the window fill the work area of the monitor it is on (below the panel, never full screen).
    virtual WindowActionResult fill(WindowHandle window) = 0;
};

}  // namespace velaro
