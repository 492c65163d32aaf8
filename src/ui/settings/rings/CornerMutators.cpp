// The corner mutators and the table of which fields each corner edits.
#include "ui/settings/rings/CornerMutators.h"

#include <algorithm>
#include <cmath>

#include "base/MainLoop.h"
#include "settings/OverlaySettings.h"

namespace velaro {
namespace {

// The fields of the corner record (and the stacking setting) that belong to one corner. Null where the
// corner has none: the menu-bar corners have no stacking and a top colour mode; the screen's top corners have
// no row colour fields.
struct CornerFields {
    CornerRow row;
    ScreenCorner twin;
    bool CornerSettings::*enabled;
    double CornerSettings::*ownRadius;
    double CornerSettings::*rowRadius;
    double CornerSettings::*ownOpacity;
    double CornerSettings::*rowOpacity;
    std::string CornerSettings::*ownHex;
    std::string CornerSettings::*rowHex;
    TopColorMode CornerSettings::*topMode;
    BottomColorMode CornerSettings::*bottomMode;
    Setting<BottomCornerZ> OverlaySettings::*z;
};

using CS = CornerSettings;
using OS = OverlaySettings;

const CornerFields& fieldsOf(ScreenCorner corner) {
    static const CornerFields topLeft{CornerRow::top,
                                      ScreenCorner::topRight,
                                      &CS::topLeftEnabled,
                                      &CS::topLeftRadius,
                                      &CS::topRadius,
                                      &CS::topLeftOpacity,
                                      &CS::topOpacity,
                                      &CS::topLeftCustomColorHex,
                                      &CS::topCustomColorHex,
                                      &CS::topLeftColorMode,
                                      nullptr,
                                      nullptr};
    static const CornerFields topRight{CornerRow::top,
                                       ScreenCorner::topLeft,
                                       &CS::topRightEnabled,
                                       &CS::topRightRadius,
                                       &CS::topRadius,
                                       &CS::topRightOpacity,
                                       &CS::topOpacity,
                                       &CS::topRightCustomColorHex,
                                       &CS::topCustomColorHex,
                                       &CS::topRightColorMode,
                                       nullptr,
                                       nullptr};
    static const CornerFields bottomLeft{CornerRow::bottom,         ScreenCorner::bottomRight,
                                         &CS::bottomLeftEnabled,    &CS::bottomLeftRadius,
                                         &CS::bottomRadius,         &CS::bottomLeftOpacity,
                                         &CS::bottomOpacity,        &CS::bottomLeftCustomColorHex,
                                         &CS::bottomCustomColorHex, nullptr,
                                         &CS::bottomLeftColorMode,  &OS::cornerBottomLeftZ};
    static const CornerFields bottomRight{CornerRow::bottom,         ScreenCorner::bottomLeft,
                                          &CS::bottomRightEnabled,   &CS::bottomRightRadius,
                                          &CS::bottomRadius,         &CS::bottomRightOpacity,
                                          &CS::bottomOpacity,        &CS::bottomRightCustomColorHex,
                                          &CS::bottomCustomColorHex, nullptr,
                                          &CS::bottomRightColorMode, &OS::cornerBottomRightZ};
    static const CornerFields screenTopLeft{CornerRow::screenTop,
                                            ScreenCorner::screenTopRight,
                                            &CS::screenTopLeftEnabled,
                                            &CS::screenTopLeftRadius,
                                            &CS::screenTopRadius,
                                            &CS::screenTopLeftOpacity,
                                            &CS::screenTopOpacity,
                                            &CS::screenTopLeftCustomColorHex,
                                            nullptr,
                                            nullptr,
                                            &CS::screenTopLeftColorMode,
                                            &OS::cornerScreenTopLeftZ};
    static const CornerFields screenTopRight{CornerRow::screenTop,
                                             ScreenCorner::screenTopLeft,
                                             &CS::screenTopRightEnabled,
                                             &CS::screenTopRightRadius,
                                             &CS::screenTopRadius,
                                             &CS::screenTopRightOpacity,
                                             &CS::screenTopOpacity,
                                             &CS::screenTopRightCustomColorHex,
                                             nullptr,
                                             nullptr,
                                             &CS::screenTopRightColorMode,
                                             &OS::cornerScreenTopRightZ};
    switch (corner) {
        case ScreenCorner::topLeft:
            return topLeft;
        case ScreenCorner::topRight:
            return topRight;
        case ScreenCorner::bottomLeft:
            return bottomLeft;
        case ScreenCorner::bottomRight:
            return bottomRight;
        case ScreenCorner::screenTopLeft:
            return screenTopLeft;
        case ScreenCorner::screenTopRight:
            break;
    }
    return screenTopRight;
}

bool CornerSettings::*linkedFlag(CornerRow row) {
    switch (row) {
        case CornerRow::top:
            return &CS::topLinked;
        case CornerRow::screenTop:
            return &CS::screenTopLinked;
        case CornerRow::bottom:
            break;
    }
    return &CS::bottomLinked;
}

// Reads the record, lets `change` edit a copy and assigns the copy back (its change handler persists it).
template <class Change>
void editCorners(OverlaySettings& settings, Change change) {
    CornerSettings copy = settings.corners();
    change(copy);
    settings.corners = copy;
}

}  // namespace

CornerRow rowOf(ScreenCorner corner) {
    return fieldsOf(corner).row;
}

ScreenCorner twinOf(ScreenCorner corner) {
    return fieldsOf(corner).twin;
}

bool isRowLinked(const CornerSettings& corners, CornerRow row) {
    return corners.*linkedFlag(row);
}

double storedRadius(const CornerSettings& corners, ScreenCorner corner) {
    const CornerFields& f = fieldsOf(corner);
    return isRowLinked(corners, f.row) ? corners.*f.rowRadius : corners.*f.ownRadius;
}

// ---- synchronous setters ----

void setCornerEnabled(OverlaySettings& settings, ScreenCorner corner, bool enabled) {
    const CornerFields& f = fieldsOf(corner);
    if (settings.corners().*f.enabled == enabled) return;
    editCorners(settings, [&](CornerSettings& c) {
        c.*f.enabled = enabled;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).enabled = enabled;
    });
}

void toggleCornerEnabled(OverlaySettings& settings, ScreenCorner corner) {
    const CornerFields& f = fieldsOf(corner);
    editCorners(settings, [&](CornerSettings& c) {
        const bool enabled = !(c.*f.enabled);
        c.*f.enabled = enabled;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).enabled = enabled;
    });
}

void setCornerRadius(OverlaySettings& settings, ScreenCorner corner, double radius) {
    // A number that cannot be stored would fail the record's encoding, and every later edit with it.
    if (!std::isfinite(radius)) return;
    const CornerFields& f = fieldsOf(corner);
    editCorners(settings, [&](CornerSettings& c) {
        if (isRowLinked(c, f.row))
            c.*f.rowRadius = radius;
        else
            c.*f.ownRadius = radius;
    });
}

void setCornerOpacity(OverlaySettings& settings, ScreenCorner corner, double opacity) {
    if (!std::isfinite(opacity)) return;
    const CornerFields& f = fieldsOf(corner);
    editCorners(settings, [&](CornerSettings& c) {
        c.*f.rowOpacity = opacity;
        c.*f.ownOpacity = opacity;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).ownOpacity = opacity;
    });
}

void setRowLinked(OverlaySettings& settings, CornerRow row, bool linked) {
    if (isRowLinked(settings.corners(), row) == linked) return;
    editCorners(settings, [&](CornerSettings& c) { c.*linkedFlag(row) = linked; });
}

void toggleRowLinked(OverlaySettings& settings, CornerRow row) {
    editCorners(settings, [&](CornerSettings& c) { c.*linkedFlag(row) = !(c.*linkedFlag(row)); });
}

void setCornerCustomHex(OverlaySettings& settings, ScreenCorner corner, const std::string& hex) {
    const CornerFields& f = fieldsOf(corner);
    editCorners(settings, [&](CornerSettings& c) {
        c.*f.ownHex = hex;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).ownHex = hex;
        if (f.rowHex) c.*f.rowHex = hex;
    });
}

void setCornerColorMode(OverlaySettings& settings, ScreenCorner corner, BottomColorMode mode) {
    const CornerFields& f = fieldsOf(corner);
    if (!f.bottomMode) return;
    editCorners(settings, [&](CornerSettings& c) {
        c.*f.bottomMode = mode;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).bottomMode = mode;
        if (f.row == CornerRow::bottom) c.bottomColorMode = mode;
    });
}

void setTopCornerColorMode(OverlaySettings& settings, ScreenCorner corner, TopColorMode mode) {
    const CornerFields& f = fieldsOf(corner);
    if (!f.topMode) return;
    editCorners(settings, [&](CornerSettings& c) {
        c.*f.topMode = mode;
        if (isRowLinked(c, f.row)) c.*fieldsOf(f.twin).topMode = mode;
        c.topColorMode = mode;
    });
}

void setTopFollowsOverlayOpacity(OverlaySettings& settings, bool follows) {
    const double overlayOpacity = settings.overlayOpacity();
    editCorners(settings, [&](CornerSettings& c) {
        // Leaving "follow": the corners keep the opacity they showed.
        if (!follows && c.topFollowsOverlayOpacity)
            c.topOpacity = c.topLeftOpacity = c.topRightOpacity = overlayOpacity;
        c.topFollowsOverlayOpacity = follows;
    });
}

void setBottomCornerZ(OverlaySettings& settings, ScreenCorner corner, BottomCornerZ z) {
    if (corner != ScreenCorner::bottomLeft && corner != ScreenCorner::bottomRight) return;
    const bool linked = settings.corners().bottomLinked;
    if ((corner == ScreenCorner::bottomLeft || linked) && settings.cornerBottomLeftZ() != z)
        settings.cornerBottomLeftZ = z;
    if ((corner == ScreenCorner::bottomRight || linked) && settings.cornerBottomRightZ() != z)
        settings.cornerBottomRightZ = z;
}

void toggleCornerPlacement(OverlaySettings& settings, ScreenCorner corner) {
    const CornerFields& f = fieldsOf(corner);
    if (!f.z || isCornerBelowActive(corner, settings)) return;
    const BottomCornerZ next =
        (settings.*f.z)() == BottomCornerZ::wallpaper ? BottomCornerZ::above : BottomCornerZ::wallpaper;
    const bool linked = isRowLinked(settings.corners(), f.row);
    const ScreenCorner left =
        f.row == CornerRow::bottom ? ScreenCorner::bottomLeft : ScreenCorner::screenTopLeft;
    for (ScreenCorner side : {left, twinOf(left)}) {
        Setting<BottomCornerZ>& z = settings.*fieldsOf(side).z;
        // A corner below the active window keeps that stacking: its twin's badge cannot move it.
        if ((side == corner || linked) && z() != BottomCornerZ::belowActive) z = next;
    }
}

bool isCornerBelowActive(ScreenCorner corner, const OverlaySettings& settings) {
    const CornerFields& f = fieldsOf(corner);
    return f.z && (settings.*f.z)() == BottomCornerZ::belowActive;
}

// ---- deferred entry points ----

void deferSetCornerEnabled(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, bool enabled) {
    loop.post([&settings, corner, enabled] { setCornerEnabled(settings, corner, enabled); });
}

void deferToggleCornerEnabled(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner) {
    loop.post([&settings, corner] { toggleCornerEnabled(settings, corner); });
}

void deferSetCornerRadius(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, double radius) {
    if (!std::isfinite(radius)) return;
    const double clamped = std::clamp(radius, 0.0, maximumCornerRadius);
    loop.post([&settings, corner, clamped] { setCornerRadius(settings, corner, clamped); });
}

void deferSetCornerOpacity(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, double opacity) {
    if (!std::isfinite(opacity)) return;
    loop.post([&settings, corner, opacity] { setCornerOpacity(settings, corner, opacity); });
}

void deferSetRowLinked(OverlaySettings& settings, MainLoop& loop, CornerRow row, bool linked) {
    loop.post([&settings, row, linked] { setRowLinked(settings, row, linked); });
}

void deferToggleRowLinked(OverlaySettings& settings, MainLoop& loop, CornerRow row) {
    loop.post([&settings, row] { toggleRowLinked(settings, row); });
}

void deferSetCornerCustomHex(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                             std::string hex) {
    loop.post([&settings, corner, hex = std::move(hex)] { setCornerCustomHex(settings, corner, hex); });
}

void deferSetCornerColorMode(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                             BottomColorMode mode) {
    loop.post([&settings, corner, mode] { setCornerColorMode(settings, corner, mode); });
}

void deferSetTopCornerColorMode(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                TopColorMode mode) {
    loop.post([&settings, corner, mode] { setTopCornerColorMode(settings, corner, mode); });
}

void deferSetTopFollowsOverlayOpacity(OverlaySettings& settings, MainLoop& loop, bool follows) {
    loop.post([&settings, follows] { setTopFollowsOverlayOpacity(settings, follows); });
}

void deferSetBottomCornerZ(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, BottomCornerZ z) {
    loop.post([&settings, corner, z] { setBottomCornerZ(settings, corner, z); });
}

void deferToggleCornerPlacement(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner) {
    loop.post([&settings, corner] { toggleCornerPlacement(settings, corner); });
}

}  // namespace velaro
