// Where the pointer is and which modifier keys are held, readable from any thread, and a watch that reports
// when the pointer moves.
#pragma once

#include <functional>
#include <optional>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "platform/ModifierFlags.h"

namespace velaro {

class PointerSource {
public:
    virtual ~PointerSource() = default;

    // The pointer in global points (origin at the primary screen's bottom-left, y up); nullopt when it
    // cannot be read (no display connection). Safe from any thread.
    virtual std::optional<Point> location() const = 0;

    // The pointer in top-left global points (origin at the primary screen's top-left, y down), the
    // convention of the window list and of the menu-bar guard zones; nullopt as above. Any thread.
    virtual std::optional<Point> topLeftLocation() const = 0;

    // The modifier keys held now, as ModifierFlag bits; none when they cannot be read (no display
    // connection). Any thread; on the main thread it never waits for the display server.
    virtual std::uint32_t modifierFlags() const = 0;

    // Calls `moved` on the main thread each time the pointer's position has changed, and only then,
    // until the handle is cancelled or destroyed. Main thread only.
    [[nodiscard]] virtual Cancellable watchMotion(std::function<void()> moved) = 0;
};

}  // namespace velaro
