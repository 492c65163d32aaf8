// The Menu Bar Shape page: floating pills around the menu-bar items, or the classic full bar.
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class PillShapeSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

}  // namespace velaro
