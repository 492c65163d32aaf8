// The words of the media adapter's protocol, spelt once for both ends: the command lines the adapter takes
// and the JSON keys of what it writes. The adapter (tools/media-adapter) includes this header alone, so it
// holds nothing but the words.
#pragma once

#include <string_view>

namespace velaro::adapter {

// The command words: "stream [--no-artwork]", "get", "send <number>", "seek <microseconds>".
namespace commands {
inline constexpr std::string_view stream = "stream";
inline constexpr std::string_view noArtwork = "--no-artwork";
inline constexpr std::string_view get = "get";
inline constexpr std::string_view send = "send";
inline constexpr std::string_view seek = "seek";
}  // namespace commands

namespace keys {
// A stream line: {"type": "data", "diff": <merges into the last payload>, "payload": {...}}; "get" writes
// {"payload": {...}} alone.
inline constexpr std::string_view type = "type";
inline constexpr std::string_view dataType = "data";
inline constexpr std::string_view diff = "diff";
inline constexpr std::string_view payload = "payload";

// The payload's keys.
inline constexpr std::string_view bundleIdentifier = "bundleIdentifier";
inline constexpr std::string_view title = "title";
inline constexpr std::string_view artist = "artist";
inline constexpr std::string_view duration = "duration";        // seconds
inline constexpr std::string_view elapsedTime = "elapsedTime";  // seconds, at "timestamp"
inline constexpr std::string_view timestamp = "timestamp";      // internet date-time
inline constexpr std::string_view playing = "playing";
inline constexpr std::string_view playbackRate = "playbackRate";
inline constexpr std::string_view uniqueIdentifier = "uniqueIdentifier";
inline constexpr std::string_view artworkData = "artworkData";  // base64, written by "get" only
// Written by "get" instead of "artworkData" when the cover the player named may not be read (not an image,
// a file of /proc, an address on this machine's networks): why, in a few words.
inline constexpr std::string_view artworkRefused = "artworkRefused";
}  // namespace keys

}  // namespace velaro::adapter
