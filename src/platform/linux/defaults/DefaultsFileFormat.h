// The settings file's text, shared with anything else that reads or writes the file (scripts, end-to-end
// tests): one JSON object of key -> value; doubles always carry a fraction or exponent ("1.0"), so they read
// back as doubles; data is written as {"$data": "<base64>"}; arrays and dictionaries as JSON.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DefaultsStore.h"

namespace velaro {

// A settings file is a few kilobytes. It is read and parsed on the main thread, at start-up and before every
// write, so the cap is a size such a read takes without a stall the user sees; anything larger is not ours.
inline constexpr std::size_t kMaxDefaultsFileBytes = 1024 * 1024;

// The file's text for `stored`, laid out two spaces a level.
std::string encodeDefaultsFile(const PlistValue& stored);
// The same on one line, for settings that laid out would pass kMaxDefaultsFileBytes.
std::string encodeDefaultsFileOnOneLine(const PlistValue& stored);
// The stored values of a file's text, or nothing (with the reason in `error`) when the text is not a
// readable defaults file. Entries that cannot be stored are left out and their keys added to
// `skippedKeys` when given: a null, and a value holding a number that is not finite (beyond the double
// range, or the NaN and Infinity words some JSON writers emit).
std::optional<PlistValue> decodeDefaultsFile(std::string_view text, std::string* error = nullptr,
                                             std::vector<std::string>* skippedKeys = nullptr);
// Whether a value can be written at all: a double that is not finite has no JSON form.
bool hasFileForm(const PlistValue& value);
// Whether a text ends as a whole defaults file does: one object, so "{" first and "}" last. An editor writing
// the file in place leaves it empty or cut short for a moment, which this tells at a glance, before the text
// is parsed.
bool looksWhole(std::string_view text);

}  // namespace velaro
