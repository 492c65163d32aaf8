// The four rings of the corner-rounding preview, the state of their typed-radius field, and the two shapes
// their hover and hits follow: the hover region of a ring (the ring alone, or the ring with its open menu)
// and the band around a ring that takes taps and drags.
#pragma once

#include <QPainterPath>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/Published.h"
#include "settings/CornerSettings.h"

namespace velaro {

// The preview's rings edit the screen's own top corners and the bottom corners, never the menu-bar corners.
enum class GaugeCorner { topLeft, topRight, bottomLeft, bottomRight };

inline constexpr std::array<GaugeCorner, 4> allGaugeCorners{
    GaugeCorner::topLeft, GaugeCorner::topRight, GaugeCorner::bottomLeft, GaugeCorner::bottomRight};

// The screen corner a ring edits.
ScreenCorner screenCornerOf(GaugeCorner corner);
// The other ring of the same row.
GaugeCorner gaugeTwinOf(GaugeCorner corner);
// The rings of the preview's top row.
constexpr bool isTopGauge(GaugeCorner corner) {
    return corner == GaugeCorner::topLeft || corner == GaugeCorner::topRight;
}

// A typed radius: spaces and tabs around it are ignored, an optional sign and base-10 digits that fit in 64
// bits. Anything else (a decimal point, an exponent, letters, a lone sign, nothing) is no number.
std::optional<std::int64_t> parseTypedRadius(std::string_view text);

// The one typed-radius field shared by the four rings: which ring it is open on (none while closed) and the
// text typed so far. An edit ends once: a commit hands back the number to apply, and a commit or cancel
// asked for a ring the field is no longer open on does nothing, so a focus loss that follows an Escape or a
// commit can never apply anything, nor one ring's text to another ring.
class RingEditState {
public:
    const Published<std::optional<GaugeCorner>>& editingCorner() const { return editingCorner_; }
    const Published<QString>& text() const { return text_; }
    bool isEditing(GaugeCorner corner) const { return editingCorner_() == corner; }

    // What the user typed.
    void setText(const QString& text);

    // Opens the field on `corner` with `radius` truncated to a whole number. The caller commits an edit
    // open on another ring first.
    void begin(GaugeCorner corner, double radius);
    // Closes the field when it is open on `corner`; returns the typed number when it parses.
    std::optional<std::int64_t> commit(GaugeCorner corner);
    // Closes the field when it is open on `corner`, applying nothing.
    void cancel(GaugeCorner corner);

private:
    void setEditingCorner(std::optional<GaugeCorner> corner);

    Published<std::optional<GaugeCorner>> editingCorner_{std::nullopt};
    Published<QString> text_;
};

// The hover region of a ring's cell `rect`: while the ring's menu is open, a rounded rectangle over the whole
// cell (radius half its width); otherwise the ring's circle, `ringDiameter` wide (the cell's width when
// that is not positive), centred across the cell and at its top (top rings) or bottom.
QPainterPath ringHoverShape(const QRectF& rect, bool isTop, bool open, double ringDiameter);

// The band around a ring in `rect` that takes taps and drags: 12 points wide, centred on the circle of
// radius min(width, height) / 2 − `ringInsetPt`; empty when that radius is not positive.
QPainterPath ringBandHitShape(const QRectF& rect, double ringInsetPt);

}  // namespace velaro
