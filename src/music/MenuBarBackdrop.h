// The colour behind the menu bar while a window fills the top of the screen, as the top-edge music
// features read it to choose their ink.
#pragma once

#include <optional>

#include "base/Color.h"

namespace velaro {

class ScreenSampler;

// The dominant colour of the screen the live capture follows, else the sampler's own; none while no window
// fills the top of the screen (the wallpaper shows there).
std::optional<Color> menuBarBackdropColor(ScreenSampler& sampler);

}  // namespace velaro
