// Every corner edit of the settings pages goes through these mutators. Each comes as a pair: the deferred
// entry point (`deferSet…`, `deferToggle…`) captures its arguments, queues one block on the main loop and
// returns; the block runs the synchronous setter on a later turn. So a change asked for inside a control's
// own event never changes the settings during that event, and changes queued in one turn apply in their
// order, each reading what the one before left.
//
// A setter that changes the corner record reads it, changes its copy and assigns the whole copy back: one
// change notification, and the record's own change handler persists it. A linked row applies an edit to both
// of its corners (radius and opacity through the row's own fields).
#pragma once

#include <string>

#include "settings/CornerSettings.h"
#include "settings/ValueTypes.h"

namespace velaro {

class MainLoop;
class OverlaySettings;

// A pair of corners that can be linked: the menu-bar corners, the screen's top corners and the bottom
// corners.
enum class CornerRow { top = 0, screenTop = 1, bottom = 2 };

// The row of a corner, and the other corner of that row.
CornerRow rowOf(ScreenCorner corner);
ScreenCorner twinOf(ScreenCorner corner);
// Whether the corner's row is linked in `corners`.
bool isRowLinked(const CornerSettings& corners, CornerRow row);
// The radius a corner's controls show: the row radius while the row is linked, else its own (whether it is
// on or not).
double storedRadius(const CornerSettings& corners, ScreenCorner corner);

// The radius mutators keep radii inside the range a stored radius is bounded to, 0...48 points.
inline constexpr double maximumCornerRadius = cornerRadiusBounds.hi;

// Synchronous setters (what the queued blocks run).
void setCornerEnabled(OverlaySettings& settings, ScreenCorner corner, bool enabled);
void toggleCornerEnabled(OverlaySettings& settings, ScreenCorner corner);
void setCornerRadius(OverlaySettings& settings, ScreenCorner corner, double radius);
void setCornerOpacity(OverlaySettings& settings, ScreenCorner corner, double opacity);
void setRowLinked(OverlaySettings& settings, CornerRow row, bool linked);
void toggleRowLinked(OverlaySettings& settings, CornerRow row);
void setCornerCustomHex(OverlaySettings& settings, ScreenCorner corner, const std::string& hex);
void setCornerColorMode(OverlaySettings& settings, ScreenCorner corner, BottomColorMode mode);
void setTopCornerColorMode(OverlaySettings& settings, ScreenCorner corner, TopColorMode mode);
void setTopFollowsOverlayOpacity(OverlaySettings& settings, bool follows);
void setBottomCornerZ(OverlaySettings& settings, ScreenCorner corner, BottomCornerZ z);
void toggleCornerPlacement(OverlaySettings& settings, ScreenCorner corner);

// Deferred entry points: each queues exactly one block (none for a value that is not a number).
void deferSetCornerEnabled(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, bool enabled);
void deferToggleCornerEnabled(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner);
// Clamps to 0...48 before queueing; a radius that is not finite is dropped.
void deferSetCornerRadius(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, double radius);
// A non-finite opacity is dropped.
void deferSetCornerOpacity(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, double opacity);
void deferSetRowLinked(OverlaySettings& settings, MainLoop& loop, CornerRow row, bool linked);
void deferToggleRowLinked(OverlaySettings& settings, MainLoop& loop, CornerRow row);
void deferSetCornerCustomHex(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, std::string hex);
void deferSetCornerColorMode(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                             BottomColorMode mode);
void deferSetTopCornerColorMode(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                TopColorMode mode);
void deferSetTopFollowsOverlayOpacity(OverlaySettings& settings, MainLoop& loop, bool follows);
void deferSetBottomCornerZ(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, BottomCornerZ z);
void deferToggleCornerPlacement(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner);

// True for a bottom or screen-top corner whose stacking is "below the active window"; never for the
// menu-bar corners.
bool isCornerBelowActive(ScreenCorner corner, const OverlaySettings& settings);

}  // namespace velaro
