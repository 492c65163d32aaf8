// The bound of stored lengths and how a note shows a stored value.
#include "settings/LoadNotes.h"

#include <cmath>

#include "settings/SettingsJson.h"

namespace velaro {

namespace {
constexpr std::size_t kLongestShownValue = 48;
}  // namespace

std::optional<double> storedLength(double value, std::string_view key, LoadNotes* notes) {
    if (std::abs(value) <= kLongestScreenLength) return value;
    const auto note = [&](std::string text) {
        if (notes) notes->push_back({std::string(key), std::move(text)});
    };
    if (std::isnan(value)) {
        note(shownValue(value) + " is not a length; using the default");
        return std::nullopt;
    }
    const double bounded = std::copysign(kLongestScreenLength, value);
    note(shownValue(value) + " is longer than any screen; using " + shownValue(bounded));
    return bounded;
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
