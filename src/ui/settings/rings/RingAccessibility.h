// What assistive technologies learn of the ring layer, whose rings, menus and badges are painted rather than
// widgets: one element per ring (its corner's name, its radius as a value that can be set and stepped, on or
// off as its checked state, and switching it as its action), inside each the buttons of its menu (the
// placement arrow, left out while the corner's placement cannot change, and the custom-colour button), and
// one element per link badge (its name, "Linked" or "Not linked", and linking as its action). Every action
// is the one a tap on the painted piece takes.
#pragma once

#include <QString>

#include "ui/settings/rings/RingEditState.h"

namespace velaro {

class RingOverlay;

// Lets assistive technologies reach every ring layer; installed once, by the first layer made.
void installRingAccessibility();
// Tells assistive technologies that what the layer shows has changed, when any of them listens.
void announceRingLayerChange(RingOverlay& layer);

// A ring's spoken name: "Top left corner", …
QString ringAccessibleName(GaugeCorner corner);

}  // namespace velaro
