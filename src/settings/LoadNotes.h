// What loading the stored settings made of values it could not take as they stood (a wrong kind of value, a
// value refused by its check, a number beyond its control), to be said once in the log, and the bound that
// every stored number goes through.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DefaultsStore.h"

namespace velaro {

// One stored value not taken as it stood: its key ("cornerSettings.topRadius" for a key inside a record)
// and what was made of it ("1e+308 is outside 0...48; using 48").
struct LoadNote {
    std::string key;
    std::string text;
    friend bool operator==(const LoadNote&, const LoadNote&) = default;
};
using LoadNotes = std::vector<LoadNote>;

// What a number's control in the settings window can set (a length in points, an opacity, a brightness, a
// rate): the ends of its slider. A file may hold any number: one the control cannot show is bounded to it,
// so that the app never draws what no control could have asked for (a band a million points tall blacks out
// the screen, an opacity of a million reads "100000000%") and the page never shows a value its control
// cannot reach.
// A few stored settings have always loaded a number beyond their range as their default instead (a stored
// blur radius of 50 loads as 12): they keep doing so, and only an overriding number is bounded for them.
struct Bounds {
    // What a stored number beyond the ends becomes.
    enum class Beyond { nearerEnd, theDefault };
    constexpr Bounds(double lo, double hi, Beyond beyond = Beyond::nearerEnd) : lo(lo), hi(hi), beyond(beyond) {}
    double lo, hi;
    Beyond beyond;
    // Whether `v` lies inside, the ends included; not a number never does.
    constexpr bool contains(double v) const { return v >= lo && v <= hi; }
};

// A stored number. One inside `bounds` (its ends included) is kept exactly as stored; one beyond them, an
// infinite one too, is bounded to the nearer end (what the user asked for is then as much as the control
// gives, and a later edit writes the bounded value), or is nothing where the bounds say the default takes its
// place; not a number is nothing. Each but the first says in `note`, when given, what was made of it ("is
// outside 24...160; using 160").
std::optional<double> bounded(double value, Bounds bounds, std::string* note = nullptr);

// A stored value as a log line shows it: numbers in the stored settings' own form, data by its size, long
// values cut short.
std::string shownValue(const PlistValue& value);

}  // namespace velaro
