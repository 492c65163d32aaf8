// The corner record's lookups, its stored JSON form and its decoder with legacy keys and fallback chains.
#include "settings/CornerSettings.h"

#include "settings/SettingsJson.h"

namespace velaro {

namespace {

using settings_json::ObjectReader;
using settings_json::OrderedJson;

// A tolerated enumeration key: its case when it holds a string of the table, else the fallback.
template <class E>
E enumOr(const ObjectReader& reader, std::string_view key, E fallback) {
    const auto text = reader.string(key);
    if (!text.present()) return fallback;
    return fromString<E>(text.value).value_or(fallback);
}

// One row's pair of enabled flags: the corner's own key wins, the legacy row key fills in for it, and a
// corner with neither is on. A wrongly typed legacy key fails the document even when both corners are set.
void decodeEnabledPair(ObjectReader& reader, std::string_view legacyKey, std::string_view leftKey,
                       std::string_view rightKey, bool& left, bool& right) {
    const bool legacy = reader.requireBool(legacyKey, true);
    left = reader.requireBool(leftKey, legacy);
    right = reader.requireBool(rightKey, legacy);
}

}  // namespace

double CornerSettings::effectiveRadius(ScreenCorner corner) const {
    switch (corner) {
        case ScreenCorner::topLeft:
            return topLeftEnabled ? (topLinked ? topRadius : topLeftRadius) : 0.0;
        case ScreenCorner::topRight:
            return topRightEnabled ? (topLinked ? topRadius : topRightRadius) : 0.0;
        case ScreenCorner::bottomLeft:
            return bottomLeftEnabled ? (bottomLinked ? bottomRadius : bottomLeftRadius) : 0.0;
        case ScreenCorner::bottomRight:
            return bottomRightEnabled ? (bottomLinked ? bottomRadius : bottomRightRadius) : 0.0;
        case ScreenCorner::screenTopLeft:
            return screenTopLeftEnabled ? (screenTopLinked ? screenTopRadius : screenTopLeftRadius) : 0.0;
        case ScreenCorner::screenTopRight:
            return screenTopRightEnabled ? (screenTopLinked ? screenTopRadius : screenTopRightRadius) : 0.0;
    }
    return 0.0;
}

double CornerSettings::opacity(ScreenCorner corner, double overlayOpacity) const {
    switch (corner) {
        case ScreenCorner::topLeft:
            return topFollowsOverlayOpacity ? overlayOpacity : (topLinked ? topOpacity : topLeftOpacity);
        case ScreenCorner::topRight:
            return topFollowsOverlayOpacity ? overlayOpacity : (topLinked ? topOpacity : topRightOpacity);
        case ScreenCorner::bottomLeft:
            return bottomLinked ? bottomOpacity : bottomLeftOpacity;
        case ScreenCorner::bottomRight:
            return bottomLinked ? bottomOpacity : bottomRightOpacity;
        case ScreenCorner::screenTopLeft:
            return screenTopLinked ? screenTopOpacity : screenTopLeftOpacity;
        case ScreenCorner::screenTopRight:
            return screenTopLinked ? screenTopOpacity : screenTopRightOpacity;
    }
    return 1.0;
}

Color CornerSettings::color(ScreenCorner corner, const Color& overlayColor) const {
    const auto custom = [](const std::string& hex) { return colorFromHex(hex).value_or(Color::black()); };
    const auto top = [&](TopColorMode mode, const std::string& hex) {
        switch (mode) {
            case TopColorMode::followOverlay:
                return overlayColor;
            case TopColorMode::custom:
                return custom(hex);
            case TopColorMode::black:
                break;
        }
        return Color::black();
    };
    const auto other = [&](BottomColorMode mode, const std::string& hex) {
        return mode == BottomColorMode::custom ? custom(hex) : Color::black();
    };
    switch (corner) {
        case ScreenCorner::topLeft:
            return top(topLeftColorMode, topLeftCustomColorHex);
        case ScreenCorner::topRight:
            return top(topRightColorMode, topRightCustomColorHex);
        case ScreenCorner::bottomLeft:
            return other(bottomLeftColorMode, bottomLeftCustomColorHex);
        case ScreenCorner::bottomRight:
            return other(bottomRightColorMode, bottomRightCustomColorHex);
        case ScreenCorner::screenTopLeft:
            return other(screenTopLeftColorMode, screenTopLeftCustomColorHex);
        case ScreenCorner::screenTopRight:
            return other(screenTopRightColorMode, screenTopRightCustomColorHex);
    }
    return Color::black();
}

std::optional<CornerSettings> CornerSettings::decode(std::string_view json) {
    const auto document = settings_json::parse(json);
    if (!document || !document->is_object()) return std::nullopt;
    ObjectReader r(*document);
    CornerSettings c;
    const CornerSettings d;  // the defaults every missing key falls back to

    // Keys that older versions have always written: a wrong type there means the record is not ours.
    c.shapeMode = enumOr(r, "shapeMode", d.shapeMode);
    c.pillCornerRadius = r.requireNumber("pillCornerRadius", d.pillCornerRadius);
    c.pillVerticalInset = r.requireNumber("pillVerticalInset", d.pillVerticalInset);
    c.pillHPadding = r.requireNumber("pillHPadding", d.pillHPadding);
    c.pillStrokeWidth = r.requireNumber("pillStrokeWidth", d.pillStrokeWidth);
    c.pillStrokeOpacity = r.requireNumber("pillStrokeOpacity", d.pillStrokeOpacity);
    c.pillFillOpacity = r.requireNumber("pillFillOpacity", d.pillFillOpacity);
    c.pillSeparateSides = r.requireBool("pillSeparateSides", d.pillSeparateSides);
    c.pillLeftHOffset = r.requireNumber("pillLeftHOffset", d.pillLeftHOffset);
    c.pillRightHOffset = r.requireNumber("pillRightHOffset", d.pillRightHOffset);
    c.pillVerticalOffset = r.requireNumber("pillVerticalOffset", d.pillVerticalOffset);

    decodeEnabledPair(r, "topEnabled", "topLeftEnabled", "topRightEnabled", c.topLeftEnabled,
                      c.topRightEnabled);
    c.topRadius = r.requireNumber("topRadius", d.topRadius);
    c.topColorMode = enumOr(r, "topColorMode", d.topColorMode);
    c.topCustomColorHex = r.requireString("topCustomColorHex", d.topCustomColorHex);
    c.topLeftRadius = r.requireNumber("topLeftRadius", d.topLeftRadius);
    c.topRightRadius = r.requireNumber("topRightRadius", d.topRightRadius);
    c.topLinked = r.requireBool("topLinked", d.topLinked);

    decodeEnabledPair(r, "bottomEnabled", "bottomLeftEnabled", "bottomRightEnabled", c.bottomLeftEnabled,
                      c.bottomRightEnabled);
    c.bottomRadius = r.requireNumber("bottomRadius", d.bottomRadius);
    c.bottomColorMode = enumOr(r, "bottomColorMode", d.bottomColorMode);
    c.bottomCustomColorHex = r.requireString("bottomCustomColorHex", d.bottomCustomColorHex);
    c.bottomLeftRadius = r.requireNumber("bottomLeftRadius", d.bottomLeftRadius);
    c.bottomRightRadius = r.requireNumber("bottomRightRadius", d.bottomRightRadius);
    c.bottomLinked = r.requireBool("bottomLinked", d.bottomLinked);

    // Keys added later are tolerated: a wrong type takes the fallback, which for per-corner values is the
    // row value just decoded, so records written before the rows were split keep their look.
    const auto number = [&](std::string_view key, double fallback) {
        return r.number(key).valueOr(fallback);
    };
    const auto boolean = [&](std::string_view key, bool fallback) {
        return r.boolean(key).valueOr(fallback);
    };
    const auto string = [&](std::string_view key, const std::string& fallback) {
        return r.string(key).valueOr(fallback);
    };

    c.screenTopLeftEnabled = boolean("screenTopLeftEnabled", d.screenTopLeftEnabled);
    c.screenTopRightEnabled = boolean("screenTopRightEnabled", d.screenTopRightEnabled);
    c.screenTopRadius = number("screenTopRadius", d.screenTopRadius);
    c.screenTopLeftRadius = number("screenTopLeftRadius", c.screenTopRadius);
    c.screenTopRightRadius = number("screenTopRightRadius", c.screenTopRadius);
    c.screenTopLinked = boolean("screenTopLinked", d.screenTopLinked);
    c.screenTopLeftColorMode = enumOr(r, "screenTopLeftColorMode", d.screenTopLeftColorMode);
    c.screenTopLeftCustomColorHex = string("screenTopLeftCustomColorHex", d.screenTopLeftCustomColorHex);
    c.screenTopRightColorMode = enumOr(r, "screenTopRightColorMode", d.screenTopRightColorMode);
    c.screenTopRightCustomColorHex = string("screenTopRightCustomColorHex", d.screenTopRightCustomColorHex);
    c.screenTopOpacity = number("screenTopOpacity", d.screenTopOpacity);
    c.screenTopLeftOpacity = number("screenTopLeftOpacity", c.screenTopOpacity);
    c.screenTopRightOpacity = number("screenTopRightOpacity", c.screenTopOpacity);

    c.topLeftColorMode = enumOr(r, "topLeftColorMode", c.topColorMode);
    c.topLeftCustomColorHex = string("topLeftCustomColorHex", c.topCustomColorHex);
    c.topRightColorMode = enumOr(r, "topRightColorMode", c.topColorMode);
    c.topRightCustomColorHex = string("topRightCustomColorHex", c.topCustomColorHex);
    c.bottomLeftColorMode = enumOr(r, "bottomLeftColorMode", c.bottomColorMode);
    c.bottomLeftCustomColorHex = string("bottomLeftCustomColorHex", c.bottomCustomColorHex);
    c.bottomRightColorMode = enumOr(r, "bottomRightColorMode", c.bottomColorMode);
    c.bottomRightCustomColorHex = string("bottomRightCustomColorHex", c.bottomCustomColorHex);

    c.topFollowsOverlayOpacity = boolean("topFollowsOverlayOpacity", d.topFollowsOverlayOpacity);
    c.topOpacity = number("topOpacity", d.topOpacity);
    c.topLeftOpacity = number("topLeftOpacity", c.topOpacity);
    c.topRightOpacity = number("topRightOpacity", c.topOpacity);
    c.bottomOpacity = number("bottomOpacity", d.bottomOpacity);
    c.bottomLeftOpacity = number("bottomLeftOpacity", c.bottomOpacity);
    c.bottomRightOpacity = number("bottomRightOpacity", c.bottomOpacity);

    c.arcStrokeEnabled = boolean("arcStrokeEnabled", d.arcStrokeEnabled);

    if (r.failed()) return std::nullopt;
    return c;
}

std::optional<CornerSettings> CornerSettings::decode(std::span<const std::uint8_t> data) {
    return decode(settings_json::asText(data));
}

std::optional<Bytes> encodeCornerSettings(const CornerSettings& c) {
    OrderedJson o = OrderedJson::object();
    o["shapeMode"] = toString(c.shapeMode);
    o["pillCornerRadius"] = c.pillCornerRadius;
    o["pillVerticalInset"] = c.pillVerticalInset;
    o["pillHPadding"] = c.pillHPadding;
    o["pillStrokeWidth"] = c.pillStrokeWidth;
    o["pillStrokeOpacity"] = c.pillStrokeOpacity;
    o["pillFillOpacity"] = c.pillFillOpacity;
    o["pillSeparateSides"] = c.pillSeparateSides;
    o["pillLeftHOffset"] = c.pillLeftHOffset;
    o["pillRightHOffset"] = c.pillRightHOffset;
    o["pillVerticalOffset"] = c.pillVerticalOffset;
    o["topLeftEnabled"] = c.topLeftEnabled;
    o["topRightEnabled"] = c.topRightEnabled;
    o["topRadius"] = c.topRadius;
    o["topColorMode"] = toString(c.topColorMode);
    o["topCustomColorHex"] = c.topCustomColorHex;
    o["topLeftRadius"] = c.topLeftRadius;
    o["topRightRadius"] = c.topRightRadius;
    o["topLinked"] = c.topLinked;
    o["bottomLeftEnabled"] = c.bottomLeftEnabled;
    o["bottomRightEnabled"] = c.bottomRightEnabled;
    o["bottomRadius"] = c.bottomRadius;
    o["bottomColorMode"] = toString(c.bottomColorMode);
    o["bottomCustomColorHex"] = c.bottomCustomColorHex;
    o["bottomLeftRadius"] = c.bottomLeftRadius;
    o["bottomRightRadius"] = c.bottomRightRadius;
    o["bottomLinked"] = c.bottomLinked;
    o["screenTopLeftEnabled"] = c.screenTopLeftEnabled;
    o["screenTopRightEnabled"] = c.screenTopRightEnabled;
    o["screenTopRadius"] = c.screenTopRadius;
    o["screenTopLeftRadius"] = c.screenTopLeftRadius;
    o["screenTopRightRadius"] = c.screenTopRightRadius;
    o["screenTopLinked"] = c.screenTopLinked;
    o["screenTopLeftColorMode"] = toString(c.screenTopLeftColorMode);
    o["screenTopLeftCustomColorHex"] = c.screenTopLeftCustomColorHex;
    o["screenTopRightColorMode"] = toString(c.screenTopRightColorMode);
    o["screenTopRightCustomColorHex"] = c.screenTopRightCustomColorHex;
    o["screenTopOpacity"] = c.screenTopOpacity;
    o["screenTopLeftOpacity"] = c.screenTopLeftOpacity;
    o["screenTopRightOpacity"] = c.screenTopRightOpacity;
    o["topLeftColorMode"] = toString(c.topLeftColorMode);
    o["topLeftCustomColorHex"] = c.topLeftCustomColorHex;
    o["topRightColorMode"] = toString(c.topRightColorMode);
    o["topRightCustomColorHex"] = c.topRightCustomColorHex;
    o["bottomLeftColorMode"] = toString(c.bottomLeftColorMode);
    o["bottomLeftCustomColorHex"] = c.bottomLeftCustomColorHex;
    o["bottomRightColorMode"] = toString(c.bottomRightColorMode);
    o["bottomRightCustomColorHex"] = c.bottomRightCustomColorHex;
    o["topFollowsOverlayOpacity"] = c.topFollowsOverlayOpacity;
    o["topOpacity"] = c.topOpacity;
    o["topLeftOpacity"] = c.topLeftOpacity;
    o["topRightOpacity"] = c.topRightOpacity;
    o["bottomOpacity"] = c.bottomOpacity;
    o["bottomLeftOpacity"] = c.bottomLeftOpacity;
    o["bottomRightOpacity"] = c.bottomRightOpacity;
    o["arcStrokeEnabled"] = c.arcStrokeEnabled;
    // Older versions read only the row flags; keep writing them so a downgrade keeps the corners.
    o["topEnabled"] = c.topLeftEnabled || c.topRightEnabled;
    o["bottomEnabled"] = c.bottomLeftEnabled || c.bottomRightEnabled;
    auto text = settings_json::encodeInOrder(o);
    if (!text) return std::nullopt;
    return settings_json::toBytes(*text);
}

}  // namespace velaro
