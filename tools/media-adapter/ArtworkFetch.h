// The cover a player names in "mpris:artUrl": a local file or an http(s) download, bounded in size and time,
// and only when it is a picture. A player chooses the address, so it must not be able to have the adapter
// read the user's files or reach the machines of the user's own networks on its behalf.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace velaro::mpris {

// Covers larger than this are not read: no picture needs it, and the bytes travel as Base64 on a pipe.
inline constexpr qint64 maxArtworkBytes = 16 * 1024 * 1024;

// What became of a cover: its bytes; or why it may not be read, which no retry changes; or neither, when it
// could not be had (missing, unreachable, too slow, too large).
struct Artwork {
    std::optional<QByteArray> bytes;
    QString refused;
};

// The raster type the bytes begin as ("png", "jpeg", "gif", "bmp", "webp", "tiff", "ico") when this Qt
// decodes it; none for anything else. Text formats (SVG, which can name other files, and XPM, XBM, PNM,
// which any text file may resemble) never count.
std::optional<QByteArray> sniffImageFormat(const QByteArray& bytes);

// Whether an address is one of the wider internet's: not loopback, link-local, private, shared, multicast,
// reserved or unspecified, also when an IPv4 address hides inside an IPv6 one.
bool isPublicAddress(const QHostAddress& address);
using AddressRule = std::function<bool(const QHostAddress&)>;

// A local cover: a regular file of at most `maxArtworkBytes`, not of /proc or /sys (named there, or
// reached there through links), whose content is a picture.
Artwork readArtworkFile(const QString& path);

// The cover behind `url` (file://, http://, https://), fetched within `limit`. Downloads connect only to
// the addresses `allowed` takes, the very ones that were checked, and follow redirects under the same rule.
// Runs a local event loop.
Artwork fetchArtwork(const QString& url, std::chrono::milliseconds limit = std::chrono::milliseconds(4000),
                     const AddressRule& allowed = isPublicAddress);

}  // namespace velaro::mpris
