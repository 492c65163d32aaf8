// Tagged diagnostic lines: one mutex keeps lines from different threads whole.
#include "base/Log.h"

#include <cstdio>
#include <mutex>

namespace velaro {
namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
LogSink& sinkSlot() {
    static LogSink sink;
    return sink;
}
}  // namespace

void logLine(std::string_view tag, std::string_view message) {
    std::lock_guard lock(logMutex());
    if (auto& sink = sinkSlot()) {
        sink(tag, message);
        return;
    }
    std::string line;
    line.reserve(tag.size() + message.size() + 2);
    line.append(tag).append(" ").append(message).append("\n");
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(logMutex());
    LogSink previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

}  // namespace velaro
