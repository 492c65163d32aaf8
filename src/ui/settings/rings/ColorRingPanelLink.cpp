// The rings' link to the shared colour panel.
#include "ui/settings/rings/ColorRingPanelLink.h"

#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/rings/CornerMutators.h"

namespace velaro {

ColorRingPanelLink::ColorRingPanelLink(MainLoop& loop, QObject* parent) : QObject(parent), loop_(loop) {}

void ColorRingPanelLink::open(ScreenCorner corner, OverlaySettings& settings, const std::string& customHex) {
    settings_ = &settings;
    corner_ = corner;
    // The panel detaches whoever it served before it moves to this corner's colour, so the previous
    // consumer never receives it.
    openSharedColorPanel(*this, colorFromHex(customHex), false, [this](const Color& picked) {
        if (settings_) deferSetCornerCustomHex(*settings_, loop_, corner_, hexString(picked));
    });
    attached_ = true;
}

void ColorRingPanelLink::detach() {
    if (!attached_) return;
    attached_ = false;
    if (sharedColorPanelServes(*this)) closeSharedColorPanel();
}

}  // namespace velaro
