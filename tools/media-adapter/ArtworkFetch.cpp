// Reading covers: files are checked through the descriptor that is read (no race with a swapped path) and by
// what their bytes are; downloads go to the addresses that were checked and stop at the size cap or the
// deadline, whichever comes first.
#include "ArtworkFetch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostInfo>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "base/FileRead.h"

namespace velaro::mpris {

namespace {

// Redirects followed at most; each lands under the same address rule.
constexpr int kMaxRedirects = 5;
// How much of a refused address a refusal repeats.
constexpr qsizetype kShownUrlCharacters = 160;

Artwork refusedAs(QString why) {
    return {std::nullopt, std::move(why)};
}

bool startsWith(const QByteArray& bytes, std::initializer_list<unsigned char> magic, qsizetype at = 0) {
    if (bytes.size() < at + qsizetype(magic.size())) return false;
    qsizetype i = at;
    for (const unsigned char m : magic)
        if (static_cast<unsigned char>(bytes[i++]) != m) return false;
    return true;
}

// The type the bytes' own signature names, before asking whether Qt reads it.
std::optional<QByteArray> signatureFormat(const QByteArray& b) {
    if (startsWith(b, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return "png";
    if (startsWith(b, {0xFF, 0xD8, 0xFF})) return "jpeg";
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) return "gif";
    if (b.startsWith("RIFF") && b.size() >= 12 && b.mid(8, 4) == "WEBP") return "webp";
    if (startsWith(b, {'I', 'I', 42, 0}) || startsWith(b, {'M', 'M', 0, 42})) return "tiff";
    if (startsWith(b, {0, 0, 1, 0}) && b.size() >= 6 && (b[4] != 0 || b[5] != 0)) return "ico";
    // "BM" alone begins plenty of text: the header that follows must be one of the bitmap headers' sizes.
    if (b.startsWith("BM") && b.size() >= 18) {
        const unsigned header = static_cast<unsigned char>(b[14]) | static_cast<unsigned char>(b[15]) << 8 |
                                static_cast<unsigned char>(b[16]) << 16 |
                                static_cast<unsigned char>(b[17]) << 24;
        for (const unsigned size : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
            if (header == size) return "bmp";
    }
    return std::nullopt;
}

Artwork checkedCover(QByteArray bytes) {
    if (!sniffImageFormat(bytes)) return refusedAs(QStringLiteral("not a picture"));
    return {std::move(bytes), {}};
}

// Runs the local loop until `done` is called or `limit` passes.
template <class Start>
bool waitFor(std::chrono::milliseconds limit, Start start) {
    QEventLoop loop;
    bool finished = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    start(&loop, [&] {
        finished = true;
        loop.quit();
    });
    if (!finished) {
        deadline.start(std::max(limit, std::chrono::milliseconds(1)));
        loop.exec();
    }
    return finished;
}

// The addresses of `host`: the host itself when it is one, else what the resolver says within `limit`.
QList<QHostAddress> addressesOf(const QString& host, std::chrono::milliseconds limit) {
    if (QHostAddress literal; literal.setAddress(host)) return {literal};
    QList<QHostAddress> found;
    int lookup = -1;
    const bool answered = waitFor(limit, [&](QEventLoop* loop, auto done) {
        lookup = QHostInfo::lookupHost(host, loop, [&found, done](const QHostInfo& info) {
            if (info.error() == QHostInfo::NoError) found = info.addresses();
            done();
        });
    });
    if (!answered) QHostInfo::abortHostLookup(lookup);
    return found;
}

// One request to `address` standing for `url`'s host; the body, or the next address on a redirect.
struct Hop {
    std::optional<QByteArray> body;
    std::optional<QUrl> redirect;
};

Hop request(QNetworkAccessManager& network, const QUrl& url, const QHostAddress& address,
            std::chrono::milliseconds limit) {
    QUrl direct = url;
    direct.setHost(address.protocol() == QAbstractSocket::IPv6Protocol
                       ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                       : address.toString());
    QNetworkRequest request(direct);
    // The server and its certificate are those of the name; the connection goes to the address checked.
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
    if (url.port() != -1) host += QLatin1Char(':') + QString::number(url.port());
    request.setRawHeader("Host", host.toLatin1());
    request.setPeerVerifyName(url.host());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(std::max<long long>(1, limit.count())));
    QNetworkReply* reply = network.get(request);
    QByteArray body;
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        body += reply->readAll();
        if (body.size() > maxArtworkBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    waitFor(limit, [&](QEventLoop* loop, auto done) {
        QObject::connect(reply, &QNetworkReply::finished, loop, done);
    });
    if (!reply->isFinished()) reply->abort();
    body += reply->readAll();
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    Hop hop;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = reply->rawHeader("Location");
    if (status >= 300 && status < 400 && !location.isEmpty())
        hop.redirect = url.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
    else if (reply->error() == QNetworkReply::NoError && !tooLarge && body.size() <= maxArtworkBytes)
        hop.body = std::move(body);
    reply->deleteLater();
    return hop;
}

Artwork download(QUrl url, std::chrono::milliseconds limit, const AddressRule& allowed) {
    QElapsedTimer clock;
    clock.start();
    const auto left = [&] { return limit - std::chrono::milliseconds(clock.elapsed()); };
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);  // a proxy would connect to addresses never checked
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return refusedAs(QStringLiteral("not an http(s) address"));
        const QList<QHostAddress> addresses = addressesOf(url.host(), left());
        if (addresses.isEmpty()) return {};
        // One address of this machine's networks among them is enough to refuse the name.
        for (const QHostAddress& address : addresses)
            if (!allowed(address)) return refusedAs(QStringLiteral("an address on this machine's networks"));
        if (left().count() <= 0) return {};
        Hop result = request(network, url, addresses.front(), left());
        if (result.body) return checkedCover(std::move(*result.body));
        if (!result.redirect) return {};
        url = *result.redirect;
    }
    return {};
}

bool inV4(quint32 a, quint32 network, int bits) {
    return bits == 0 || (a >> (32 - bits)) == (network >> (32 - bits));
}

bool isPublicV4(quint32 a) {
    struct Range {
        quint32 network;
        int bits;
    };
    static constexpr Range local[] = {
        {0x00000000, 8},   // "this network"
        {0x0A000000, 8},   // private
        {0x64400000, 10},  // shared (carrier-grade NAT)
        {0x7F000000, 8},   // loopback
        {0xA9FE0000, 16},  // link-local
        {0xAC100000, 12},  // private
        {0xC0000000, 24},  // protocol assignments
        {0xC0000200, 24},  // documentation
        {0xC0A80000, 16},  // private
        {0xC6120000, 15},  // benchmarking
        {0xC6336400, 24},  // documentation
        {0xCB007100, 24},  // documentation
        {0xE0000000, 4},   // multicast
        {0xF0000000, 4},   // reserved, broadcast
    };
    for (const Range& r : local)
        if (inV4(a, r.network, r.bits)) return false;
    return true;
}

}  // namespace

std::optional<QByteArray> sniffImageFormat(const QByteArray& bytes) {
    auto format = signatureFormat(bytes);
    if (!format) return std::nullopt;
    static const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    if (!readable.contains(*format)) return std::nullopt;
    return format;
}

bool isPublicAddress(const QHostAddress& address) {
    if (address.isNull()) return false;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) return isPublicV4(address.toIPv4Address());
    const Q_IPV6ADDR a = address.toIPv6Address();
    const auto v4At = [&](int at) {
        return quint32(a[at]) << 24 | quint32(a[at + 1]) << 16 | quint32(a[at + 2]) << 8 | quint32(a[at + 3]);
    };
    const auto zeros = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            if (a[i] != 0) return false;
        return true;
    };
    // IPv4 inside IPv6: mapped (::ffff:a.b.c.d), NAT64 (64:ff9b::a.b.c.d) and 6to4 (2002:aabb:ccdd::) reach
    // the IPv4 address, which decides. The rest of ::/96 (::, ::1, the old compatible form) is never public.
    if (zeros(0, 10) && a[10] == 0xFF && a[11] == 0xFF) return isPublicV4(v4At(12));
    if (zeros(0, 12)) return false;
    if (a[0] == 0x00 && a[1] == 0x64 && a[2] == 0xFF && a[3] == 0x9B && zeros(4, 12))
        return isPublicV4(v4At(12));
    if (a[0] == 0x20 && a[1] == 0x02) return isPublicV4(v4At(2));
    if ((a[0] & 0xFE) == 0xFC) return false;                                         // unique local
    if (a[0] == 0xFE && (a[1] & 0xC0) == 0x80) return false;                         // link-local
    if (a[0] == 0xFE && (a[1] & 0xC0) == 0xC0) return false;                         // site-local
    if (a[0] == 0xFF) return false;                                                  // multicast
    if (a[0] == 0x20 && a[1] == 0x01 && a[2] == 0x0D && a[3] == 0xB8) return false;  // documentation
    if (a[0] == 0x01 && a[1] == 0x00 && zeros(2, 8)) return false;                   // discard
    return true;
}

Artwork readArtworkFile(const QString& path) {
    FileRead read = readBoundedFile(QFile::encodeName(path).toStdString(),
                                    {.maxBytes = std::size_t(maxArtworkBytes), .noKernelFiles = true});
    switch (read.outcome) {
        case FileRead::Outcome::missing:
            return {};
        case FileRead::Outcome::refused:
            return refusedAs(QString::fromStdString(read.why));
        case FileRead::Outcome::read:
            break;
    }
    return checkedCover(QByteArray::fromStdString(read.bytes));
}

Artwork fetchArtwork(const QString& url, std::chrono::milliseconds limit, const AddressRule& allowed) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || url.isEmpty()) return {};
    const QString scheme = parsed.scheme().toLower();
    Artwork cover;
    if (scheme == QLatin1String("file")) {
        const QString path = parsed.toLocalFile();
        if (!parsed.host().isEmpty() && parsed.host() != QLatin1String("localhost"))
            cover = refusedAs(QStringLiteral("a file of another host"));
        else if (!path.isEmpty())
            cover = readArtworkFile(path);
    } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        cover = download(parsed, limit, allowed);
    } else {
        cover = refusedAs(QStringLiteral("not a file or http(s) address"));
    }
    if (!cover.refused.isEmpty())
        cover.refused = url.left(kShownUrlCharacters) + QStringLiteral(": ") + cover.refused;
    return cover;
}

}  // namespace velaro::mpris
