// A corner edit as the page tests make it: the whole record changed at once, then the loop run, as a user's
// edit lands.
#pragma once

#include <functional>

#include "settings/OverlaySettings.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

inline void editCorners(OverlaySettings& settings, VirtualLoop& loop,
                        const std::function<void(CornerSettings&)>& change) {
    CornerSettings c = settings.corners();
    change(c);
    settings.corners = c;
    loop.runUntilIdle();
}

}  // namespace velaro::test
