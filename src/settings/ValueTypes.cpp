// Normalisers, stored JSON forms and lenient decoders of the colour-zone fill and the hue drift.
#include "settings/ValueTypes.h"

#include <cmath>

#include "base/Color.h"
#include "settings/SettingsJson.h"

namespace velaro {

namespace {

using settings_json::Json;
using settings_json::ObjectReader;

constexpr std::size_t kMaxStops = 10;

// Canonical stops, at most the first ten.
std::vector<std::string> normalizedStops(const std::vector<std::string>& stops) {
    auto out = normalizedHexList(stops);
    if (out.size() > kMaxStops) out.resize(kMaxStops);
    return out;
}

// A record's number bounded to its slider's ends. One that is not finite takes `fallback` instead: it would
// otherwise reach the renderers' phase and gradient arithmetic and their integer conversions. What it made of
// a number it did not keep is noted under `key`.
double boundedField(double value, Bounds bounds, double fallback, const char* key, LoadNotes* notes) {
    std::string what;
    double kept = fallback;
    if (std::isfinite(value))
        kept = *bounded(value, bounds, &what);
    else
        what = "is not a finite number; using the default";
    if (notes && !what.empty()) notes->push_back({key, shownValue(value) + " " + what});
    return kept;
}

double boundedWidth(double width, LoadNotes* notes = nullptr) {
    return boundedField(width, transitionWidthBounds, 1.0, "transitionWidth", notes);
}

std::optional<Bytes> encoded(const Json& document) {
    auto text = settings_json::encodeSorted(document);
    if (!text) return std::nullopt;
    return settings_json::toBytes(*text);
}

}  // namespace

std::vector<std::string> normalizedHexList(const std::vector<std::string>& stops) {
    std::vector<std::string> out;
    out.reserve(stops.size());
    for (const auto& stop : stops) {
        if (const auto color = colorFromHex(stop)) out.push_back(hexString(*color));
    }
    return out;
}

// ---- Colour zones ----

OverlayColorZones::OverlayColorZones(std::vector<std::string> stops, bool blend, bool multicolorEnabled,
                                     double transitionWidth)
    : stops(normalizedStops(stops)),
      blend(blend),
      multicolorEnabled(multicolorEnabled),
      transitionWidth(boundedWidth(transitionWidth)) {
    if (this->stops.empty()) this->stops = defaultValue().stops;
}

const OverlayColorZones& OverlayColorZones::defaultValue() {
    static const OverlayColorZones value;
    return value;
}

OverlayColorZones OverlayColorZones::normalized(LoadNotes* notes) const {
    OverlayColorZones out(stops, blend, multicolorEnabled, 1.0);
    out.transitionWidth = boundedWidth(transitionWidth, notes);
    return out;
}

std::optional<OverlayColorZones> OverlayColorZones::decode(std::string_view json) {
    const auto document = settings_json::parse(json);
    if (!document || !document->is_object()) return std::nullopt;
    const ObjectReader reader(*document);
    OverlayColorZones zones;
    zones.stops = reader.stringArray("stops").valueOr(defaultValue().stops);
    zones.blend = reader.boolean("blend").valueOr(false);
    // Without the key, several stops mean the user had set up zones: the fallback counts the stops as
    // stored, before any are dropped by normalising.
    zones.multicolorEnabled = reader.boolean("multicolorEnabled").valueOr(zones.stops.size() >= 2);
    zones.transitionWidth = reader.number("transitionWidth").valueOr(1.0);
    return zones;
}

std::optional<OverlayColorZones> OverlayColorZones::decode(std::span<const std::uint8_t> data) {
    return decode(settings_json::asText(data));
}

std::optional<Bytes> encodeSortedKeys(const OverlayColorZones& zones) {
    Json document = Json::object();
    document["stops"] = zones.stops;
    document["blend"] = zones.blend;
    document["multicolorEnabled"] = zones.multicolorEnabled;
    document["transitionWidth"] = zones.transitionWidth;
    return encoded(document);
}

// ---- Hue drift ----

const std::vector<std::string>& OverlayHueDrift::defaultPalette() {
    static const std::vector<std::string> palette{"#FF1919", "#FFC619", "#8CFF19", "#19FF53",
                                                  "#19FFFF", "#1953FF", "#8C19FF", "#FF19C6"};
    return palette;
}

OverlayHueDrift OverlayHueDrift::sanitized(LoadNotes* notes) const {
    OverlayHueDrift out = *this;
    out.paletteStops = normalizedStops(paletteStops);
    if (out.paletteStops.size() < 2) out.paletteStops = defaultPalette();
    out.periodSeconds = boundedField(periodSeconds, hueDriftPeriodBounds, 2.0, "periodSeconds", notes);
    out.transitionWidth = boundedWidth(transitionWidth, notes);
    return out;
}

const std::vector<std::string>& OverlayHueDrift::effectivePaletteStops() const {
    if (source == Source::palette && paletteStops.size() >= 2) return paletteStops;
    return defaultPalette();
}

std::optional<OverlayHueDrift> OverlayHueDrift::decode(std::string_view json) {
    const auto document = settings_json::parse(json);
    if (!document || !document->is_object()) return std::nullopt;
    const ObjectReader reader(*document);
    OverlayHueDrift drift;
    drift.enabled = reader.boolean("enabled").valueOr(false);
    // Unknown enumeration strings take the default case rather than failing the whole record.
    drift.variant = reader.string("variant").valueOr("") == "uniform" ? Variant::uniform : Variant::scroll;
    drift.source = reader.string("source").valueOr("") == "palette" ? Source::palette : Source::rainbow;
    drift.paletteStops = reader.stringArray("paletteStops").valueOr(defaultPalette());
    drift.periodSeconds = reader.number("periodSeconds").valueOr(2.0);
    drift.blend = reader.boolean("blend").valueOr(true);
    drift.transitionWidth = reader.number("transitionWidth").valueOr(1.0);
    drift.direction = reader.string("direction").valueOr("") == "leftToRight" ? Direction::leftToRight
                                                                              : Direction::rightToLeft;
    return drift;
}

std::optional<OverlayHueDrift> OverlayHueDrift::decode(std::span<const std::uint8_t> data) {
    return decode(settings_json::asText(data));
}

std::optional<Bytes> encodeSortedKeys(const OverlayHueDrift& drift) {
    Json document = Json::object();
    document["enabled"] = drift.enabled;
    document["variant"] = toString(drift.variant);
    document["source"] = toString(drift.source);
    document["paletteStops"] = drift.paletteStops;
    document["periodSeconds"] = drift.periodSeconds;
    document["blend"] = drift.blend;
    document["transitionWidth"] = drift.transitionWidth;
    document["direction"] = toString(drift.direction);
    return encoded(document);
}

// ---- Enumerations as JSON documents ----

namespace detail {

std::optional<std::string> decodeJsonString(std::span<const std::uint8_t> data) {
    const auto document = settings_json::parse(data);
    if (!document || !document->is_string()) return std::nullopt;
    return document->get<std::string>();
}

std::optional<Bytes> encodeJsonString(std::string_view text) {
    return encoded(Json(std::string(text)));
}

}  // namespace detail

}  // namespace velaro
