// The cover a player names in "mpris:artUrl": a local file or an http(s) download, bounded in size and time.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>

namespace velaro::mpris {

// Covers larger than this are not read: no picture needs it, and the bytes travel as Base64 on a pipe.
inline constexpr qint64 maxArtworkBytes = 16 * 1024 * 1024;

// The bytes of a regular file of at most `maxArtworkBytes`; none for FIFOs, devices, files of /proc or
// /sys (which say nothing of their size), and anything unreadable.
std::optional<QByteArray> readArtworkFile(const QString& path);

// The cover behind `url` (file://, http://, https://), fetched within `limit`; none for other schemes,
// failures, bodies over `maxArtworkBytes` and downloads that take longer. Runs a local event loop.
std::optional<QByteArray> fetchArtwork(const QString& url,
                                       std::chrono::milliseconds limit = std::chrono::milliseconds(4000));

}  // namespace velaro::mpris
