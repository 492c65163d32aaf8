// The one-shot commands "seek", "send" and "get": each finds the player the stream follows, acts on it and
// returns the process's exit status, all within a bounded time whatever the players on the bus do.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <string>

namespace velaro::mpris {

enum ExitStatus { exitSuccess = 0, exitFailed = 1, exitNoBus = 2, exitUsage = 64 };

// Moves the playhead to `micros`: SetPosition with the current track id, else Seek by the difference.
int runSeek(const QDBusConnection& bus, long long micros);
// 2 play/pause, 4 next track, 5 previous track.
int runSend(const QDBusConnection& bus, int number);
// Writes one object {"payload": {...}} with the track's keys as the stream writes them, and "artworkData"
// or, for a cover that may not be read, "artworkRefused".
int runGet(const QDBusConnection& bus, const std::function<void(const std::string&)>& writeLine);

}  // namespace velaro::mpris
