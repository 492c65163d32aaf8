// What loading the stored settings made of values it could not take as they stood (a wrong kind of value, a
// number refused by its check, a length no screen can show), to be said once in the log, and the bound that
// every stored length goes through.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DefaultsStore.h"

namespace velaro {

// The longest length, in points, that any screen can show: X11 places and sizes windows in 16-bit numbers.
inline constexpr double kLongestScreenLength = 32767;

// One stored value not taken as it stood: its key ("cornerSettings.topRadius" for a key inside a record)
// and what was made of it ("1e+308 is longer than any screen; using 32767").
struct LoadNote {
    std::string key;
    std::string text;
    friend bool operator==(const LoadNote&, const LoadNote&) = default;
};
using LoadNotes = std::vector<LoadNote>;

// A stored length in points. One within ±kLongestScreenLength is kept exactly as stored; a longer one is
// bounded to it, and an infinite one too (what the user asked for is then as much as can be shown, and a
// later edit writes the bounded value); not a number is nothing. Each but the first leaves a note in
// `notes`, when given, under `key`.
std::optional<double> storedLength(double value, std::string_view key, LoadNotes* notes);

// A stored value as a log line shows it: numbers in the stored settings' own form, data by its size, long
// values cut short.
std::string shownValue(const PlistValue& value);

}  // namespace velaro
