// The corner record's lookups, its stored JSON form and its decoder with legacy keys and fallback chains.
#include "settings/CornerSettings.h"

#include "settings/SettingsJson.h"

namespace velaro {

namespace {

using settings_json::ObjectReader;
using settings_json::OrderedJson;

// How a key holding the wrong kind of value is read. Keys that older versions have always written are
// `strict`: a wrong type there means the record is not ours, and the whole document fails. Keys added later
// are `lenient` and take their fallback. Enumerations are always lenient, unknown names included.
enum class Reading { strict, lenient };

// Where a missing key (or a lenient one of the wrong kind) takes its value from: the member's default...
struct OwnDefault {};
// ...a row value decoded before it, so records written before the rows were split keep their look...
template <class T>
struct RowValue {
    T CornerSettings::*member;
};
// Spelt out for compilers that do not yet deduce an aggregate's arguments from its initialiser (clang before 17).
template <class T>
RowValue(T CornerSettings::*) -> RowValue<T>;
// ...or the row's flag that older versions wrote for both corners (a corner with neither is on).
struct LegacyRowFlag {
    std::string_view key;
};

constexpr std::string_view topRowFlag = "topEnabled";
constexpr std::string_view bottomRowFlag = "bottomEnabled";

// X(member, key, reading, fallback): every stored key once, in the order the record is written and read.
// The order matters twice: the stored bytes follow it, and a row value must be decoded before the corner
// values that fall back to it.
// clang-format off
#define VELARO_CORNER_KEYS(X) \
    X(shapeMode, "shapeMode", lenient, OwnDefault{}) \
    X(pillCornerRadius, "pillCornerRadius", strict, OwnDefault{}) \
    X(pillVerticalInset, "pillVerticalInset", strict, OwnDefault{}) \
    X(pillHPadding, "pillHPadding", strict, OwnDefault{}) \
    X(pillStrokeWidth, "pillStrokeWidth", strict, OwnDefault{}) \
    X(pillStrokeOpacity, "pillStrokeOpacity", strict, OwnDefault{}) \
    X(pillFillOpacity, "pillFillOpacity", strict, OwnDefault{}) \
    X(pillSeparateSides, "pillSeparateSides", strict, OwnDefault{}) \
    X(pillLeftHOffset, "pillLeftHOffset", strict, OwnDefault{}) \
    X(pillRightHOffset, "pillRightHOffset", strict, OwnDefault{}) \
    X(pillVerticalOffset, "pillVerticalOffset", strict, OwnDefault{}) \
    X(topLeftEnabled, "topLeftEnabled", strict, LegacyRowFlag{topRowFlag}) \
    X(topRightEnabled, "topRightEnabled", strict, LegacyRowFlag{topRowFlag}) \
    X(topRadius, "topRadius", strict, OwnDefault{}) \
    X(topColorMode, "topColorMode", lenient, OwnDefault{}) \
    X(topCustomColorHex, "topCustomColorHex", strict, OwnDefault{}) \
    X(topLeftRadius, "topLeftRadius", strict, OwnDefault{}) \
    X(topRightRadius, "topRightRadius", strict, OwnDefault{}) \
    X(topLinked, "topLinked", strict, OwnDefault{}) \
    X(bottomLeftEnabled, "bottomLeftEnabled", strict, LegacyRowFlag{bottomRowFlag}) \
    X(bottomRightEnabled, "bottomRightEnabled", strict, LegacyRowFlag{bottomRowFlag}) \
    X(bottomRadius, "bottomRadius", strict, OwnDefault{}) \
    X(bottomColorMode, "bottomColorMode", lenient, OwnDefault{}) \
    X(bottomCustomColorHex, "bottomCustomColorHex", strict, OwnDefault{}) \
    X(bottomLeftRadius, "bottomLeftRadius", strict, OwnDefault{}) \
    X(bottomRightRadius, "bottomRightRadius", strict, OwnDefault{}) \
    X(bottomLinked, "bottomLinked", strict, OwnDefault{}) \
    X(screenTopLeftEnabled, "screenTopLeftEnabled", lenient, OwnDefault{}) \
    X(screenTopRightEnabled, "screenTopRightEnabled", lenient, OwnDefault{}) \
    X(screenTopRadius, "screenTopRadius", lenient, OwnDefault{}) \
    X(screenTopLeftRadius, "screenTopLeftRadius", lenient, RowValue{&CornerSettings::screenTopRadius}) \
    X(screenTopRightRadius, "screenTopRightRadius", lenient, RowValue{&CornerSettings::screenTopRadius}) \
    X(screenTopLinked, "screenTopLinked", lenient, OwnDefault{}) \
    X(screenTopLeftColorMode, "screenTopLeftColorMode", lenient, OwnDefault{}) \
    X(screenTopLeftCustomColorHex, "screenTopLeftCustomColorHex", lenient, OwnDefault{}) \
    X(screenTopRightColorMode, "screenTopRightColorMode", lenient, OwnDefault{}) \
    X(screenTopRightCustomColorHex, "screenTopRightCustomColorHex", lenient, OwnDefault{}) \
    X(screenTopOpacity, "screenTopOpacity", lenient, OwnDefault{}) \
    X(screenTopLeftOpacity, "screenTopLeftOpacity", lenient, RowValue{&CornerSettings::screenTopOpacity}) \
    X(screenTopRightOpacity, "screenTopRightOpacity", lenient, RowValue{&CornerSettings::screenTopOpacity}) \
    X(topLeftColorMode, "topLeftColorMode", lenient, RowValue{&CornerSettings::topColorMode}) \
    X(topLeftCustomColorHex, "topLeftCustomColorHex", lenient, RowValue{&CornerSettings::topCustomColorHex}) \
    X(topRightColorMode, "topRightColorMode", lenient, RowValue{&CornerSettings::topColorMode}) \
    X(topRightCustomColorHex, "topRightCustomColorHex", lenient, RowValue{&CornerSettings::topCustomColorHex}) \
    X(bottomLeftColorMode, "bottomLeftColorMode", lenient, RowValue{&CornerSettings::bottomColorMode}) \
    X(bottomLeftCustomColorHex, "bottomLeftCustomColorHex", lenient, RowValue{&CornerSettings::bottomCustomColorHex}) \
    X(bottomRightColorMode, "bottomRightColorMode", lenient, RowValue{&CornerSettings::bottomColorMode}) \
    X(bottomRightCustomColorHex, "bottomRightCustomColorHex", lenient, RowValue{&CornerSettings::bottomCustomColorHex}) \
    X(topFollowsOverlayOpacity, "topFollowsOverlayOpacity", lenient, OwnDefault{}) \
    X(topOpacity, "topOpacity", lenient, OwnDefault{}) \
    X(topLeftOpacity, "topLeftOpacity", lenient, RowValue{&CornerSettings::topOpacity}) \
    X(topRightOpacity, "topRightOpacity", lenient, RowValue{&CornerSettings::topOpacity}) \
    X(bottomOpacity, "bottomOpacity", lenient, OwnDefault{}) \
    X(bottomLeftOpacity, "bottomLeftOpacity", lenient, RowValue{&CornerSettings::bottomOpacity}) \
    X(bottomRightOpacity, "bottomRightOpacity", lenient, RowValue{&CornerSettings::bottomOpacity}) \
    X(arcStrokeEnabled, "arcStrokeEnabled", lenient, OwnDefault{})
// clang-format on

// The legacy row flags, written after the table's keys as "either corner of the row on": older versions
// read only these, so a downgrade keeps the corners.
// clang-format off
#define VELARO_CORNER_ROW_FLAGS(X) \
    X(topRowFlag, topLeftEnabled, topRightEnabled) \
    X(bottomRowFlag, bottomLeftEnabled, bottomRightEnabled)
// clang-format on

const CornerSettings& defaults() {
    static const CornerSettings value;
    return value;
}

template <class T>
T fallbackFor(OwnDefault, T CornerSettings::*member, const CornerSettings&, ObjectReader&) {
    return defaults().*member;
}
template <class T>
T fallbackFor(RowValue<T> row, T CornerSettings::*, const CornerSettings& decoded, ObjectReader&) {
    return decoded.*row.member;
}
// A wrongly typed legacy flag fails the document even when both corners have their own key.
inline bool fallbackFor(LegacyRowFlag flag, bool CornerSettings::*member, const CornerSettings&,
                        ObjectReader& reader) {
    return reader.requireBool(flag.key, defaults().*member);
}

template <class T>
auto storedForm(const T& value) {
    if constexpr (std::is_enum_v<T>)
        return toString(value);
    else
        return value;
}

template <class T>
T read(ObjectReader& reader, T CornerSettings::*member, std::string_view key, Reading reading, T fallback,
       LoadNotes* notes) {
    const bool strict = reading == Reading::strict;
    // A value of another kind, or a name the enumeration does not know: said, and the fallback taken (or the
    // whole record refused, for a strict key).
    const auto unreadable = [&](std::string_view kind) {
        if (!notes) return;
        const auto* stored = reader.find(key);
        notes->push_back(
            {std::string(key),
             (stored ? shownValue(*stored) : std::string("?")) + " is not " + std::string(kind) + "; using " +
                 (strict ? std::string("the default corners") : shownValue(storedForm(fallback)))});
    };
    if constexpr (std::is_enum_v<T>) {
        const auto text = reader.string(key);
        const auto value = text.present() ? fromString<T>(text.value) : std::nullopt;
        if (!value && text.state != ObjectReader::State::missing) unreadable("one of its names");
        return value.value_or(fallback);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (reader.boolean(key).state == ObjectReader::State::wrongType) unreadable("true or false");
        return strict ? reader.requireBool(key, fallback) : reader.boolean(key).valueOr(fallback);
    } else if constexpr (std::is_same_v<T, double>) {
        if (reader.number(key).state == ObjectReader::State::wrongType) unreadable("a number");
        const double value =
            strict ? reader.requireNumber(key, fallback) : reader.number(key).valueOr(fallback);
        const auto bounds = cornerBoundsOf(member);
        if (!bounds) return value;
        std::string what;
        const auto kept = bounded(value, *bounds, &what);
        if (notes && !what.empty()) notes->push_back({std::string(key), shownValue(value) + " " + what});
        return kept.value_or(defaults().*member);
    } else {
        static_assert(std::is_same_v<T, std::string>);
        if (reader.string(key).state == ObjectReader::State::wrongType) unreadable("a string");
        return strict ? reader.requireString(key, std::move(fallback))
                      : reader.string(key).valueOr(std::move(fallback));
    }
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

std::optional<CornerSettings> CornerSettings::decode(std::string_view json, LoadNotes* notes) {
    const auto document = settings_json::parse(json);
    if (!document || !document->is_object()) return std::nullopt;
    ObjectReader r(*document);
    CornerSettings c;
#define VELARO_DECODE_CORNER_KEY(member, key, reading, fallback)       \
    c.member = read(r, &CornerSettings::member, key, Reading::reading, \
                    fallbackFor(fallback, &CornerSettings::member, c, r), notes);
    VELARO_CORNER_KEYS(VELARO_DECODE_CORNER_KEY)
#undef VELARO_DECODE_CORNER_KEY
    if (r.failed()) return std::nullopt;
    return c;
}

std::optional<CornerSettings> CornerSettings::decode(std::span<const std::uint8_t> data, LoadNotes* notes) {
    return decode(settings_json::asText(data), notes);
}

std::optional<Bytes> encodeCornerSettings(const CornerSettings& c) {
    OrderedJson o = OrderedJson::object();
#define VELARO_ENCODE_CORNER_KEY(member, key, reading, fallback) o[key] = storedForm(c.member);
    VELARO_CORNER_KEYS(VELARO_ENCODE_CORNER_KEY)
#undef VELARO_ENCODE_CORNER_KEY
#define VELARO_ENCODE_ROW_FLAG(key, left, right) o[key] = c.left || c.right;
    VELARO_CORNER_ROW_FLAGS(VELARO_ENCODE_ROW_FLAG)
#undef VELARO_ENCODE_ROW_FLAG
    auto text = settings_json::encodeInOrder(o);
    if (!text) return std::nullopt;
    return settings_json::toBytes(*text);
}

}  // namespace velaro
