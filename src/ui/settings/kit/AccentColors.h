// The app's two accent colours, shared by the settings window's sidebar and its pages.
#pragma once

#include "base/Color.h"

namespace velaro {

// The sidebar tiles run from the first to the second; a shortcut being recorded takes the first.
inline constexpr Color accentStart = Color::rgb(1.0, 0.451, 0.0);
inline constexpr Color accentEnd = Color::rgb(1.0, 0.2745, 0.0039);

}  // namespace velaro
