// Whether one of this process's own menus is open: tracking begins when the first of our menus shows and
// ends when the last one closes, so a submenu opening inside an open menu is no new begin.
#pragma once

#include "base/Published.h"

namespace velaro {

enum class MenuTrackingEvent { began, ended };

class MenuTracking {
public:
    virtual ~MenuTracking() = default;
    // Begins and ends, alternating, delivered on the main loop.
    virtual Stream<MenuTrackingEvent> events() const = 0;
};

}  // namespace velaro
