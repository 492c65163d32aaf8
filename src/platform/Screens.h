// The desktop's monitors as the features see them: frames in global points, menu-bar (top panel) geometry,
// stable identifiers and change notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Published.h"

namespace velaro {

// One monitor. Two values describe the same monitor when their `id`s are equal; the other fields are what
// the monitor looked like when the list was read.
struct ScreenInfo {
    // Stable identifier of the display, kept across reconnects and restarts (a UUID string).
    std::string id;
    // The output's name ("DP-1"), for diagnostics and labels.
    std::string name;
    // The display number of this session; changes across reconnects, unlike `id`.
    std::uint32_t number = 0;
    // Whole monitor and the part left free by panels, both in global points (bottom-left origin, y up).
    Rect frame;
    Rect visibleFrame;
    // Device pixels per point.
    double backingScale = 1;

    friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

class Screens {
public:
    virtual ~Screens() = default;

    // The current monitors, the primary (the one at the global origin) first. Safe from any thread.
    virtual std::vector<ScreenInfo> screens() const = 0;
    // The monitor that holds the active window, else the primary; absent without monitors. Safe from any
    // thread.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
    // Height of the status area used where a monitor shows no panel of its own.
    virtual double statusBarThickness() const = 0;
    // Fires on the main loop when monitors, their arrangement or the panels' reserved space change.
    virtual Stream<int> parametersChanged() const = 0;
    // A number that moves whenever one of the answers above may have changed (including which monitor is
    // the main one), read before them. Safe from any thread.
    virtual std::uint64_t revision() const = 0;
    // Calls `wake` once, from any thread, after revision() next moves; a later call replaces a `wake` not
    // yet called, an empty one disarms. A move before the call is not told of: read revision() after it.
    virtual void callOnNextChange(std::function<void()> wake) const = 0;
};

}  // namespace velaro
