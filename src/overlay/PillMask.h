// The pill shape of the unified overlay: the rounded capsules behind the menu-bar items that the whole
// overlay is cut down to, with their faint fill and hairline.
#pragma once

#include <QPainterPath>
#include <functional>
#include <optional>

#include "base/Geometry.h"
#include "settings/CornerSettings.h"
#include "settings/ValueTypes.h"

class QPainter;

namespace velaro {

// Where the pills lie vertically in a strip of the screen's bare menu-bar height (points).
struct PillBand {
    double top = 0;
    double height = 0;
    double radius = 0;
};
PillBand pillBand(const CornerSettings& corners, double bandHeight);

// The pills in the window's own points (origin at the screen's top-left): the left span, then the right.
// Empty when the pills have no height or no span has a width.
QPainterPath pillMaskPath(const PillGeometry& geometry, const CornerSettings& corners, double bandHeight);

// Whether the overlay is cut to pills: the pill mode is on and at least one side was measured. Without a
// measurement the full band shows, so the screen is not left bare.
bool pillClipApplies(bool active, const std::optional<PillGeometry>& geometry);

// Paints `content` either as it is or, when the clip applies, only inside the pills and with the pills'
// white fill and stroke over it (the stroke is centred on the outline, not clipped).
void paintPillClipped(QPainter& painter, Size size, bool active, const std::optional<PillGeometry>& geometry,
                      const CornerSettings& corners, double bandHeight,
                      const std::function<void(QPainter&)>& content);

}  // namespace velaro
