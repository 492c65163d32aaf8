// The Light Reflections page: the light beam at the screen's top edge that follows the pointer.
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class LightReflectionsSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

}  // namespace velaro
