// The Animation page: how the overlay reveals itself.
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class AnimationSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

}  // namespace velaro
