// The shared now-playing engine's lifetime.
#include "music/MusicProgressEngine.h"

#include "base/Log.h"

namespace velaro {

MusicProgressEngine& MusicProgressEngine::shared() {
    static MusicProgressEngine engine;
    return engine;
}

void MusicProgressEngine::start() {
    if (running_) return;
    running_ = true;
    logLine("PROG", "engine started");
}

void MusicProgressEngine::stop() {
    if (!running_) return;
    running_ = false;
    logLine("PROG", "engine stopped");
}

}  // namespace velaro
