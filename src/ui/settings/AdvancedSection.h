// The Advanced page: power-user options and experimental switches.
// Its sections are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class AdvancedSection : public ProfiledSettingsPage {
public:
    using ProfiledSettingsPage::ProfiledSettingsPage;
};

}  // namespace velaro
