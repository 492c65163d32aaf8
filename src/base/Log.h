// Tagged diagnostic lines on stderr ("PROG started adapter"), safe from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velaro {

// Writes "<tag> <message>" as one line to stderr (or to the installed sink).
void logLine(std::string_view tag, std::string_view message);

// Replaces where lines go (tests capture them); an empty function restores stderr. Returns the previous sink.
using LogSink = std::function<void(std::string_view tag, std::string_view message)>;
LogSink setLogSink(LogSink sink);

}  // namespace velaro
