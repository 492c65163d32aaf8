// Diagnostic lines ("PROG engine stopped"), safe from any thread: each begins with an upper-case tag and goes
// out through a Qt logging category, so QT_LOGGING_RULES turns a part of the system on or off by level.
#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <functional>
#include <string>
#include <string_view>

namespace velaro {

// One category for each part of the system a line speaks for; code in platform/linux logs under the part it
// serves. Debug lines are off until a rule turns them on; info and warnings show.
Q_DECLARE_LOGGING_CATEGORY(lcApp)         // velaro.app: the instance, tray, hot keys, login item, updates
Q_DECLARE_LOGGING_CATEGORY(lcSettings)    // velaro.settings: the defaults file
Q_DECLARE_LOGGING_CATEGORY(lcSampling)    // velaro.sampling: capture, the sampler, the overview, the pointer
Q_DECLARE_LOGGING_CATEGORY(lcOverlay)     // velaro.overlay: the overlay windows and their stacking
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)      // velaro.music.player: the now-playing engine and its adapter
Q_DECLARE_LOGGING_CATEGORY(lcAudio)       // velaro.music.audio: the sound capture and its analysis
Q_DECLARE_LOGGING_CATEGORY(lcVisualizer)  // velaro.music.visualizer: the visualizer's window and renderer
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)     // velaro.desktop: the X server and the session's services

// The text of one line: `tag`, a space and `message` passed through escapeLogText, so text taken from
// players, files or the bus can neither break the line nor turn what follows it around. Streamed into a
// category as it stands: qCInfo(lcPlayer) << tagged("PROG", "engine stopped").
struct TaggedLine {
    std::string text;
};
TaggedLine tagged(std::string_view tag, std::string_view message);
QDebug operator<<(QDebug debug, const TaggedLine& line);

// `text` with every character that could split a log line, hide in it or reorder how it shows written as an
// escape: C0 and C1 controls, DEL, the line and paragraph separators, every invisible format character (the
// bidirectional marks, embeddings, overrides and isolates, the soft hyphen, zero-width characters, the byte
// order mark, tags) and the other code points drawn as nothing, as \xNN or \u{NNNN}; bytes that are not
// UTF-8 as \xNN; the backslash itself as \\, so that no text can forge an escape. Everything else stays.
std::string escapeLogText(std::string_view text);

// From here on the lines of these categories reach stderr as they stand, one a line, or formatted by
// QT_MESSAGE_PATTERN when that is set; every other message goes where it went before.
void installLogHandler();

// Replaces where the lines of these categories go (tests capture them), and shows every level of them while
// a sink is in place; an empty function restores stderr and the levels. The sink receives each line split
// at its first space. Returns the previous sink.
using LogSink = std::function<void(std::string_view tag, std::string_view message)>;
LogSink setLogSink(LogSink sink);

}  // namespace velaro
