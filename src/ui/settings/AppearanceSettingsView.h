// The Appearance page: the overlay switch and how the overlay looks (style, opacity, blur, colour, and the
// hue drift).
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class AppearanceSettingsView : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

}  // namespace velaro
