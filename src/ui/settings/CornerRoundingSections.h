// The Corner Rounding page's sections, which the settings window stacks in this order: the rounding editor,
// the legend of its hover shapes, the corners' opacity, the bottom corners' position and the corner stroke.
// Their controls are still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class CornerRoundingSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

class CornerHoverLegend : public SettingsPage {
public:
    using SettingsPage::SettingsPage;
};

class CornerOpacitySection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

class BottomCornerPositionSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

class CornerStrokeSection : public OverlaySettingsPage {
public:
    using OverlaySettingsPage::OverlaySettingsPage;
};

}  // namespace velaro
