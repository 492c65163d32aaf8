// The desktop's own word on whether its overview shows, for desktops that publish it (a shell drawing its
// overview inside the compositor puts up no window that could give it away).
#pragma once

#include <optional>

#include "base/Published.h"

namespace velaro {

class DesktopOverview {
public:
    virtual ~DesktopOverview() = default;

    // True while the overview shows; absent while no desktop publishes the state (none runs, or it has not
    // answered yet). Changes arrive on the main loop as the desktop signals them.
    virtual const Published<std::optional<bool>>& overviewActive() const = 0;
};

}  // namespace velaro
