// The desktop's choice between a light and a dark look, for what draws over the panel and must stay legible
// on it.
#pragma once

#include "base/Published.h"

namespace velaro {

// What the desktop asks apps for; `none` where it publishes no preference (or has not answered yet).
enum class ColorSchemePreference { none, dark, light };

class DesktopAppearance {
public:
    virtual ~DesktopAppearance() = default;

    // The preference now. Changes arrive on the main loop as the desktop signals them; nothing polls.
    virtual const Published<ColorSchemePreference>& colorScheme() const = 0;
};

}  // namespace velaro
