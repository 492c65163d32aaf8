// What the media adapter makes of an MPRIS player: the now-playing payload from the values the bus
// delivered (each checked, since players send what they like), the stream's lines, the choice among
// several players, and the command line.
#pragma once

#include <QDBusMessage>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velaro::mpris {

inline const QString busPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
inline const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
inline const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
inline const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
inline const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Texts taken from a player are cut to this many bytes (at a character): far below any line limit.
inline constexpr int maxTextBytes = 1024;

// One player as last read: the values as the bus delivered them (any type), and the position read for
// this emission with the moment of the read.
struct PlayerReading {
    QString busName;
    QVariant desktopEntry;
    QVariant metadata;
    QVariant playbackStatus;
    QVariant rate;
    std::optional<QVariant> position;
    QDateTime positionReadAt;
};

// The value a Properties.Get reply carries; invalid when the call failed or answered something else.
QVariant propertyValue(const QDBusMessage& reply);
// A string-keyed dictionary (metadata, properties), from a map or a D-Bus a{sv}; empty for anything else.
QVariantMap dictionary(const QVariant& value);
// A whole number of microseconds (any integer type, or a finite double); none for other types.
std::optional<double> microseconds(const QVariant& value);
// A string, cut to `maxTextBytes`; none for other types.
std::optional<std::string> text(const QVariant& value);
// "xesam:artist": a list of strings joined by ", ", or one string.
std::optional<std::string> artists(const QVariant& value);
// The track id as a path, from an object path or a string; none for NoTrack and other types.
std::optional<std::string> trackId(const QVariant& value);
// The player's application id: its DesktopEntry, else the bus name after the MPRIS prefix without the
// ".instanceN" that several copies of one player add.
std::string applicationId(const QString& busName, const QVariant& desktopEntry);

// The now-playing payload of a player.
nlohmann::json payloadOf(const PlayerReading& player);
// An internet date-time in UTC with milliseconds, as "timestamp" carries it.
std::string timestampText(const QDateTime& moment);

// The stream line that takes a reader from `previous` to `next`: a replacing line when `replace`, else a
// merging one of the keys that changed (null for those that went). None when a merge would say nothing.
std::optional<std::string> streamLine(const nlohmann::json& previous, const nlohmann::json& next,
                                      bool replace);

// Several players on the bus: a playing one (the most recently active of them), else the most recently
// active one. `remembered` (the stream's last choice) stands in for recency where none is known.
struct Candidate {
    QString busName;
    bool playing = false;
    long long lastActive = 0;  // larger is more recent; 0 when unknown
};
std::optional<QString> choosePlayer(const std::vector<Candidate>& candidates, const QString& remembered = {});

struct Command {
    enum class Kind { stream, seek, send, get } kind = Kind::stream;
    long long micros = 0;  // seek
    int number = 0;        // send
};
// The arguments after the program name; none for a usage error.
std::optional<Command> parseCommand(const QStringList& arguments);

}  // namespace velaro::mpris
