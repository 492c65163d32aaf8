// The Behavior page: when and how the overlay activates.
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class BehaviorSection : public ProfiledSettingsPage {
public:
    using ProfiledSettingsPage::ProfiledSettingsPage;
};

}  // namespace velaro
