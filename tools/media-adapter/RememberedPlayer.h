// The player the stream follows, left in a file for the one-shot commands: they act on it directly instead of
// asking every player on the bus again. The file sits in the user's runtime directory, private to the user,
// and is read only when it is a regular file that no one else could have put there.
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QString>
#include <optional>

namespace velaro::mpris {

// Where the stream of this bus leaves its choice; empty when there is no runtime directory or the bus does
// not say its id within `timeoutMs`.
QString rememberedPlayerPath(const QDBusConnection& bus, int timeoutMs);

// The bus name a remembered-player file holds: one well-formed MPRIS name (a line feed after it allowed);
// none for anything else.
std::optional<QString> parseRememberedPlayer(const QByteArray& bytes);

// The remembered player, read without blocking: none unless `path` is a regular file (not a link) of this
// user with mode 0600 or stricter, in a folder of this user that only the user may change, holding a name.
std::optional<QString> readRememberedPlayer(const QString& path);

// Replaces the file at `path` with `busName`, mode 0600, atomically; false when it could not.
bool writeRememberedPlayer(const QString& path, const QString& busName);

}  // namespace velaro::mpris
