// The media adapter's side of the now-playing features as the engine reads it: where the adapter program
// is, how its output splits into lines, which lines count, and the textual forms of payload values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "music/AdapterKeys.h"

namespace velaro::adapter {

// The adapter program's file name; it lives beside the app or in the install's libexec folder.
inline constexpr const char* programName = "velaro-media-adapter";

// The first regular executable among <appDir>/../libexec/velaro/ and <appDir>/; none when neither holds one.
// Never searched for along PATH, and looked up afresh before every launch.
std::optional<std::string> findMediaAdapter(const std::string& appDir);

// One "data" line of the stream: whether it merges into the stored payload, and the payload itself.
struct DataLine {
    bool diff = false;
    nlohmann::json payload = nlohmann::json::object();
};

// Nesting deeper than this is refused before it is parsed: the parser would take it, but writing the value
// back out as text would recurse once per level.
inline constexpr int maxNesting = 64;

// A JSON object, or none for text that is not JSON, not an object, or nested deeper than `maxNesting`.
std::optional<nlohmann::json> parseObject(std::string_view text);

// A data line, or none for a line that is empty, not JSON, not an object, too deep or of another "type".
std::optional<DataLine> parseDataLine(std::string_view line);

// Splits the stream's output into lines as chunks arrive. A line longer than `maxLineBytes` is dropped up
// to its line feed, so a writer that never ends a line cannot grow the buffer without bound.
class LineSplitter {
public:
    static constexpr std::size_t maxLineBytes = std::size_t(1) << 20;

    // Appends `chunk`; every completed line (without its line feed or a carriage return before it) goes to
    // `lines`. Returns how many over-long lines were dropped in this chunk.
    std::size_t append(std::string_view chunk, std::vector<std::string>& lines);

private:
    std::string buffer_;
    bool discarding_ = false;
};

// Why "get" refused to read the cover, from what it printed ({"payload": {...}} or the payload alone); none
// when it did not say it refused.
std::optional<std::string> artworkRefusal(std::string_view getOutput);

// The textual form of a payload value: a string unchanged, a number in its shortest decimal form that reads
// back the same, anything else as compact JSON.
std::string text(const nlohmann::json& value);

// A number's shortest round-trip decimal with at least one digit after the point (0 → "0.0").
std::string lengthText(double seconds);

// Seconds since 1970 of an internet date-time: date, "T", time with optional fraction, then "Z" or ±hh:mm.
std::optional<double> parseTimestamp(std::string_view text);

// The playback rate that "playing" and "playbackRate" give together.
double playbackRate(const nlohmann::json& payload);

// "uid:<uniqueIdentifier>", else "cmp:<bundle>|<title>|<artist>|<length>", else none without a title.
std::optional<std::string> trackKey(const nlohmann::json& payload);

// "<bundle>|<title>|<artist>" of the artwork the payload shows; none without a title.
std::optional<std::string> artworkKey(const nlohmann::json& payload);

// The first `count` characters of UTF-8 text, never cutting a character in two.
std::string_view prefixCharacters(std::string_view text, std::size_t count);

}  // namespace velaro::adapter
