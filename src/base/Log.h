// Tagged diagnostic lines on stderr ("PROG started adapter"), safe from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velaro {

// Writes "<tag> <message>" as one line to stderr (or to the installed sink). The message goes through
// escapeLogText first, so text taken from players, files or the bus can neither break the line nor turn
// what follows it around.
void logLine(std::string_view tag, std::string_view message);

// `text` with every character that could split a log line, hide in it or reorder how it shows written as an
// escape: C0 and C1 controls, DEL, the line and paragraph separators, every invisible format character (the
// bidirectional marks, embeddings, overrides and isolates, the soft hyphen, zero-width characters, the byte
// order mark, tags) and the other code points drawn as nothing, as \xNN or \u{NNNN}; bytes that are not
// UTF-8 as \xNN. Everything else stays.
std::string escapeLogText(std::string_view text);

// Replaces where lines go (tests capture them); an empty function restores stderr. Returns the previous sink.
using LogSink = std::function<void(std::string_view tag, std::string_view message)>;
LogSink setLogSink(LogSink sink);

}  // namespace velaro
