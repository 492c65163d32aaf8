// The bound of stored numbers and how a note shows a stored value.
#include "settings/LoadNotes.h"

#include <cmath>

#include "settings/SettingsJson.h"

namespace velaro {

namespace {
constexpr std::size_t kLongestShownValue = 48;
}  // namespace

std::optional<double> bounded(double value, Bounds bounds, std::string* note) {
    if (bounds.contains(value)) return value;
    if (std::isnan(value)) {
        if (note) *note = "is not a number; using the default";
        return std::nullopt;
    }
    const std::string outside = "is outside " + shownValue(bounds.lo) + "..." + shownValue(bounds.hi);
    if (bounds.beyond == Bounds::Beyond::theDefault) {
        if (note) *note = outside + "; using the default";
        return std::nullopt;
    }
    const double end = value < bounds.lo ? bounds.lo : bounds.hi;
    if (note) *note = outside + "; using " + shownValue(end);
    return end;
}

std::string shownValue(const PlistValue& value) {
    if (value.is_binary()) return "data of " + std::to_string(value.get_binary().size()) + " bytes";
    if (value.is_number_float() && !std::isfinite(value.get<double>())) {
        const double d = value.get<double>();
        return std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity";
    }
    std::string text = settings_json::encodeSorted(value).value_or("?");
    if (text.size() > kLongestShownValue) text = text.substr(0, kLongestShownValue - 3) + "...";
    return text;
}

}  // namespace velaro
