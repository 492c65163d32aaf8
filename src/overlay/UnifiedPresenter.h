// The controller's handle on one screen's unified band window: whether the band is revealed, whether that
// reveal skips its animation, and the remembered colours laid over the live ones while an app switch settles.
#pragma once

#include <optional>

#include "base/Published.h"
#include "overlay/BarOverlayView.h"

namespace velaro {

struct UnifiedPresenter {
    Published<bool> shown{false};
    // Read and cleared by the view when `shown` turns true.
    bool revealInstant = false;
    std::optional<RevealColorHold> memoryHold;
    // Goes up by one with every new `memoryHold` (set the hold first): the view watches this, not the hold.
    Published<int> memoryGeneration{0};
};

}  // namespace velaro
