// The rings' corners, the typed-radius field's state and the rings' hover and band shapes.
#include "ui/settings/rings/RingEditState.h"

#include <QPainterPathStroker>
#include <algorithm>
#include <charconv>
#include <cstdint>

#include "base/NumberCast.h"

namespace velaro {

ScreenCorner screenCornerOf(GaugeCorner corner) {
    switch (corner) {
        case GaugeCorner::topLeft:
            return ScreenCorner::screenTopLeft;
        case GaugeCorner::topRight:
            return ScreenCorner::screenTopRight;
        case GaugeCorner::bottomLeft:
            return ScreenCorner::bottomLeft;
        case GaugeCorner::bottomRight:
            return ScreenCorner::bottomRight;
    }
    return ScreenCorner::bottomLeft;
}

GaugeCorner gaugeTwinOf(GaugeCorner corner) {
    switch (corner) {
        case GaugeCorner::topLeft:
            return GaugeCorner::topRight;
        case GaugeCorner::topRight:
            return GaugeCorner::topLeft;
        case GaugeCorner::bottomLeft:
            return GaugeCorner::bottomRight;
        case GaugeCorner::bottomRight:
            return GaugeCorner::bottomLeft;
    }
    return corner;
}

std::optional<std::int64_t> parseTypedRadius(std::string_view text) {
    // Only spaces and tabs are trimmed: a field line never holds a newline, and one pasted in is no number.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    // Parsed with its sign, so the most negative 64-bit number still fits.
    std::string digits = negative ? "-" : "";
    digits.append(text);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

void RingEditState::setText(const QString& text) {
    if (text == text_()) return;
    text_ = text;
}

void RingEditState::setEditingCorner(std::optional<GaugeCorner> corner) {
    if (corner == editingCorner_()) return;
    editingCorner_ = corner;
}

void RingEditState::begin(GaugeCorner corner, double radius) {
    setText(QString::number(saturatedCast<std::int64_t>(radius)));
    setEditingCorner(corner);
}

std::optional<std::int64_t> RingEditState::commit(GaugeCorner corner) {
    if (!isEditing(corner)) return std::nullopt;
    const auto typed = parseTypedRadius(text_().toStdString());
    setEditingCorner(std::nullopt);
    return typed;
}

void RingEditState::cancel(GaugeCorner corner) {
    if (isEditing(corner)) setEditingCorner(std::nullopt);
}

QPainterPath ringHoverShape(const QRectF& rect, bool isTop, bool open, double ringDiameter) {
    QPainterPath path;
    if (open) {
        const double radius = rect.width() / 2;
        path.addRoundedRect(rect, radius, radius);
        return path;
    }
    const double d = ringDiameter > 0 ? ringDiameter : rect.width();
    const double top = isTop ? rect.top() : rect.bottom() - d;
    path.addEllipse(QRectF(rect.center().x() - d / 2, top, d, d));
    return path;
}

QPainterPath ringBandHitShape(const QRectF& rect, double ringInsetPt) {
    const double r = std::min(rect.width(), rect.height()) / 2 - ringInsetPt;
    if (!(r > 0)) return {};
    QPainterPath circle;
    circle.addEllipse(rect.center(), r, r);
    QPainterPathStroker stroker;
    stroker.setWidth(12);
    return stroker.createStroke(circle);
}

}  // namespace velaro
