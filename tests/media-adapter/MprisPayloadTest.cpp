// The adapter's mapping from player values to payload keys (malformed values left out), its stream lines,
// its choice among players, its command line, where covers may be read from, and the remembered player.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDBusObjectPath>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include "ArtworkFetch.h"
#include "MprisPayload.h"
#include "RememberedPlayer.h"

namespace velaro::mpris {
namespace {

using nlohmann::json;

const QString kBus = QStringLiteral("org.mpris.MediaPlayer2.vlc.instance42");
const QDateTime kReadAt =
    QDateTime::fromString(QStringLiteral("2024-05-01T12:00:00.250Z"), Qt::ISODateWithMs);

QVariantMap goodMetadata() {
    return {{QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/videolan/vlc/track/3")))},
            {QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong(215300000))},
            {QStringLiteral("xesam:title"), QStringLiteral("Song")},
            {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("A"), QStringLiteral("B")}}};
}

PlayerReading goodReading() {
    return {kBus,
            QStringLiteral("vlc"),
            goodMetadata(),
            QStringLiteral("Playing"),
            1.0,
            QVariant::fromValue(qlonglong(12500000)),
            kReadAt};
}

TEST(MprisPayload, AWellBehavedPlayerGivesEveryKey) {
    EXPECT_EQ(payloadOf(goodReading()), json::parse(R"({
        "bundleIdentifier": "vlc", "title": "Song", "artist": "A, B", "duration": 215.3,
        "elapsedTime": 12.5, "timestamp": "2024-05-01T12:00:00.250Z", "playing": true, "playbackRate": 1.0,
        "uniqueIdentifier": "org.mpris.MediaPlayer2.vlc.instance42/org/videolan/vlc/track/3"})"));
}

TEST(MprisPayload, MalformedValuesLeaveTheirKeyOut) {
    struct Case {
        const char* name;
        std::function<void(PlayerReading&)> change;
        json expected;  // the keys that differ from the good payload; null for a key left out
    };
    auto meta = [](const char* key, QVariant value) {
        return [key, value](PlayerReading& r) {
            QVariantMap m = r.metadata.toMap();
            if (value.isValid())
                m.insert(QString::fromLatin1(key), value);
            else
                m.remove(QString::fromLatin1(key));
            r.metadata = m;
        };
    };
    const std::string longTitle = std::string(1023, 'x') + "é";  // the second byte of é would be byte 1025
    const Case cases[] = {
        {"no desktop entry: the bus name without its instance",
         [](auto& r) { r.desktopEntry = {}; },
         {{"bundleIdentifier", "vlc"}}},
        {"desktop entry with its suffix",
         [](auto& r) { r.desktopEntry = QStringLiteral("org.gnome.Music.desktop"); },
         {{"bundleIdentifier", "org.gnome.Music"}}},
        {"desktop entry not a string", [](auto& r) { r.desktopEntry = 5; }, {{"bundleIdentifier", "vlc"}}},
        {"metadata not a dictionary",
         [](auto& r) { r.metadata = QStringLiteral("a{sv}"); },
         {{"title", nullptr}, {"artist", nullptr}, {"duration", nullptr}, {"uniqueIdentifier", nullptr}}},
        {"artist as one string", meta("xesam:artist", QStringLiteral("Solo")), {{"artist", "Solo"}}},
        {"artist as a number", meta("xesam:artist", 7), {{"artist", nullptr}}},
        {"length as uint32",
         meta("mpris:length", QVariant::fromValue(quint32(200000000))),
         {{"duration", 200.0}}},
        {"length as int32", meta("mpris:length", QVariant::fromValue(qint32(3000000))), {{"duration", 3.0}}},
        {"length as uint64",
         meta("mpris:length", QVariant::fromValue(quint64(5000000))),
         {{"duration", 5.0}}},
        {"length as a double", meta("mpris:length", 1500000.0), {{"duration", 1.5}}},
        {"length negative",
         meta("mpris:length", QVariant::fromValue(qlonglong(-5))),
         {{"duration", nullptr}}},
        {"length zero", meta("mpris:length", QVariant::fromValue(qlonglong(0))), {{"duration", nullptr}}},
        {"length absurd", meta("mpris:length", 1e300), {{"duration", nullptr}}},
        {"length as text", meta("mpris:length", QStringLiteral("215300000")), {{"duration", nullptr}}},
        {"no track id", meta("mpris:trackid", {}), {{"uniqueIdentifier", nullptr}}},
        {"track id NoTrack",
         meta("mpris:trackid", QVariant::fromValue(QDBusObjectPath(noTrack))),
         {{"uniqueIdentifier", nullptr}}},
        {"track id as a string",
         meta("mpris:trackid", QStringLiteral("/t/9")),
         {{"uniqueIdentifier", "org.mpris.MediaPlayer2.vlc.instance42/t/9"}}},
        {"title cut at a character",
         meta("xesam:title", QString::fromStdString(longTitle)),
         {{"title", std::string(1023, 'x')}}},
        {"position failed",
         [](auto& r) { r.position.reset(); },
         {{"elapsedTime", nullptr}, {"timestamp", nullptr}}},
        {"position negative",
         [](auto& r) { r.position = QVariant::fromValue(qlonglong(-1)); },
         {{"elapsedTime", nullptr}, {"timestamp", nullptr}}},
        {"position as text",
         [](auto& r) { r.position = QStringLiteral("12"); },
         {{"elapsedTime", nullptr}, {"timestamp", nullptr}}},
        {"paused", [](auto& r) { r.playbackStatus = QStringLiteral("Paused"); }, {{"playing", false}}},
        {"stopped", [](auto& r) { r.playbackStatus = QStringLiteral("Stopped"); }, {{"playing", false}}},
        {"unknown status",
         [](auto& r) { r.playbackStatus = QStringLiteral("Buffering"); },
         {{"playing", nullptr}}},
        {"status not a string", [](auto& r) { r.playbackStatus = true; }, {{"playing", nullptr}}},
        {"rate zero", [](auto& r) { r.rate = 0.0; }, {{"playbackRate", nullptr}}},
        {"rate negative", [](auto& r) { r.rate = -1.0; }, {{"playbackRate", nullptr}}},
        {"rate not finite",
         [](auto& r) { r.rate = std::numeric_limits<double>::quiet_NaN(); },
         {{"playbackRate", nullptr}}},
        {"rate as text", [](auto& r) { r.rate = QStringLiteral("1"); }, {{"playbackRate", nullptr}}},
        {"rate twice", [](auto& r) { r.rate = 2.0; }, {{"playbackRate", 2.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerReading reading = goodReading();
        c.change(reading);
        json expected = payloadOf(goodReading());
        for (const auto& [key, value] : c.expected.items()) {
            if (value.is_null())
                expected.erase(key);
            else
                expected[key] = value;
        }
        EXPECT_EQ(payloadOf(reading), expected);
    }
}

TEST(MprisPayload, StreamLinesReplaceOrMergeOnlyWhatChanged) {
    const json before = {{"title", "A"}, {"playing", true}, {"duration", 10.0}};
    const json after = {{"title", "A"}, {"playing", false}, {"elapsedTime", 3.0}};
    EXPECT_EQ(json::parse(*streamLine(before, after, true)),
              json({{"type", "data"}, {"diff", false}, {"payload", after}}));
    EXPECT_EQ(
        json::parse(*streamLine(before, after, false)),
        json::parse(
            R"({"type":"data","diff":true,"payload":{"playing":false,"elapsedTime":3.0,"duration":null}})"));
    EXPECT_EQ(streamLine(after, after, false), std::nullopt);
    EXPECT_EQ(*streamLine(json::object(), json::object(), true),
              R"({"diff":false,"payload":{},"type":"data"})");
    EXPECT_EQ(streamLine(before, after, true)->find('\n'), std::string::npos) << "one line";
}

TEST(MprisPayload, APlayingPlayerIsChosenElseTheMostRecentlyActive) {
    struct Case {
        std::vector<Candidate> candidates;
        QString remembered;
        std::optional<QString> chosen;
    };
    const QString a = busPrefix + "a", b = busPrefix + "b", c = busPrefix + "c";
    const Case cases[] = {
        {{}, {}, std::nullopt},
        {{{a, false, 1}, {b, false, 2}}, {}, b},
        {{{a, true, 1}, {b, false, 2}}, {}, a},
        {{{a, true, 1}, {b, true, 3}, {c, false, 9}}, {}, b},
        {{{a, false, 0}, {b, false, 0}}, {}, a},  // nothing known: the first by name
        {{{a, false, 0}, {b, false, 0}}, b, b},   // the stream's choice stands in for recency
        {{{a, true, 0}, {b, false, 0}}, b, a},    // but a playing one comes first
        {{{a, false, 5}, {b, false, 5}}, b, b},
    };
    for (const auto& k : cases) EXPECT_EQ(choosePlayer(k.candidates, k.remembered), k.chosen);
}

TEST(MprisPayload, CommandLinesAreStrict) {
    struct Case {
        QStringList arguments;
        std::optional<Command::Kind> kind;
        long long micros = 0;
        int number = 0;
    };
    const Case cases[] = {
        {{"stream", "--no-artwork"}, Command::Kind::stream},
        {{"stream"}, Command::Kind::stream},
        {{"get"}, Command::Kind::get},
        {{"seek", "0"}, Command::Kind::seek, 0},
        {{"seek", "125900000"}, Command::Kind::seek, 125900000},
        {{"seek", "9223372036854775807"}, Command::Kind::seek, 9223372036854775807LL},
        {{"send", "2"}, Command::Kind::send, 0, 2},
        {{"send", "4"}, Command::Kind::send, 0, 4},
        {{"send", "5"}, Command::Kind::send, 0, 5},
        {{}, std::nullopt},
        {{"stream", "--artwork"}, std::nullopt},
        {{"get", "now"}, std::nullopt},
        {{"seek"}, std::nullopt},
        {{"seek", "-1"}, std::nullopt},
        {{"seek", "+1"}, std::nullopt},
        {{"seek", "1.5"}, std::nullopt},
        {{"seek", "9223372036854775808"}, std::nullopt},
        {{"seek", "99999999999999999999"}, std::nullopt},
        {{"seek", " 1"}, std::nullopt},
        {{"seek", "1", "2"}, std::nullopt},
        {{"send", "3"}, std::nullopt},
        {{"send", "02"}, std::nullopt},
        {{"send"}, std::nullopt},
        {{"play"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto command = parseCommand(c.arguments);
        ASSERT_EQ(command.has_value(), c.kind.has_value());
        if (!command) continue;
        EXPECT_EQ(command->kind, *c.kind);
        EXPECT_EQ(command->micros, c.micros);
        EXPECT_EQ(command->number, c.number);
    }
}

QByteArray pngBytes() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString saveFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes, mode_t mode = 0600) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    ::fchmod(file.handle(), mode);
    return file.fileName();
}

TEST(ArtworkFetch, OnlyRegularFilesOfBoundedSizeAreRead) {
    QTemporaryDir dir;
    const QString cover = saveFile(dir, QStringLiteral("cover.png"), pngBytes());
    EXPECT_EQ(readArtworkFile(cover).bytes, pngBytes());

    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString huge = dir.filePath(QStringLiteral("huge"));
    QFile(huge).open(QIODevice::WriteOnly);
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), maxArtworkBytes + 1), 0);
    for (const QString& refused :
         {fifo, huge, QStringLiteral("/proc/self/status"), QStringLiteral("/dev/zero"),
          QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"), dir.path()})
        EXPECT_FALSE(readArtworkFile(refused).refused.isEmpty()) << refused.toStdString();
    EXPECT_EQ(readArtworkFile(dir.filePath(QStringLiteral("missing"))).refused, QString())
        << "merely missing";

    EXPECT_EQ(fetchArtwork(QUrl::fromLocalFile(cover).toString()).bytes, pngBytes());
    for (const QString& url :
         {QStringLiteral("ftp://example.org/cover.png"), QStringLiteral("data:image/png;base64,AAAA"),
          QStringLiteral("file://otherhost") + cover, cover, QStringLiteral("cover.png")})
        EXPECT_TRUE(fetchArtwork(url).refused.startsWith(url + QStringLiteral(": "))) << url.toStdString();
}

// A player names the file or the address: only a picture Qt reads comes back, whatever the name says and
// wherever links lead; no file of /proc; no machine of this one's networks.
TEST(ArtworkFetch, CoversArePicturesNeverKernelFilesNorLocalAddresses) {
    QTemporaryDir dir;
    const QByteArray gif = QByteArray::fromHex(
        "47494638396101000100800000ff000000000021f90401000000002c000000000100"
        "01000002024401003b");
    EXPECT_EQ(sniffImageFormat(pngBytes()), QByteArray("png"));
    EXPECT_EQ(sniffImageFormat(gif), QByteArray("gif"));
    ASSERT_EQ(::symlink("/proc/self/environ",
                        QFile::encodeName(dir.filePath(QStringLiteral("env.png"))).constData()),
              0);
    const QString notPictures[] = {
        QStringLiteral("/etc/passwd"),
        saveFile(dir, QStringLiteral("c.svg"),
                 R"(<svg xmlns="http://www.w3.org/2000/svg"><image href="/a"/></svg>)"),
        saveFile(dir, QStringLiteral("notes.bmp"), "BMW notes: no bitmap header at all, only text"),
        saveFile(dir, QStringLiteral("x.xbm"),
                 "#define x_width 1\n#define x_height 1\nstatic char x_bits[] = {0};\n"),
    };
    for (const QString& file : notPictures)
        EXPECT_TRUE(readArtworkFile(file).refused.endsWith(QStringLiteral("not a picture")))
            << file.toStdString();
    for (const QString& kernel :
         {dir.filePath(QStringLiteral("env.png")),
          QStringLiteral("/proc/self/root") + saveFile(dir, QStringLiteral("p.png"), pngBytes())})
        EXPECT_EQ(readArtworkFile(kernel).refused, QStringLiteral("a file of /proc or /sys"))
            << kernel.toStdString();

    for (const char* local : {"127.0.0.2", "10.1.2.3", "172.31.0.1", "192.168.1.1", "169.254.169.254",
                              "100.64.0.1", "0.0.0.0", "224.0.0.251", "::1", "fe80::1", "fd12::1",
                              "::ffff:192.168.0.1", "64:ff9b::10.0.0.1", "2002:c0a8:0101::1"})
        EXPECT_FALSE(isPublicAddress(QHostAddress(QString::fromLatin1(local)))) << local;
    for (const char* remote :
         {"93.184.216.34", "172.32.0.1", "2606:2800:220:1::1", "::ffff:8.8.8.8", "2002:808:808::1"})
        EXPECT_TRUE(isPublicAddress(QHostAddress(QString::fromLatin1(remote)))) << remote;
}

// An HTTP server on this machine answering every request with `respond(request)`.
struct CoverServer {
    explicit CoverServer(std::function<QByteArray(const QByteArray&)> respond) {
        EXPECT_TRUE(server.listen(QHostAddress::Any) || server.listen(QHostAddress::AnyIPv4));
        QObject::connect(&server, &QTcpServer::newConnection, [this, respond] {
            QTcpSocket* socket = server.nextPendingConnection();
            ++connections;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, respond] {
                if (!socket->peek(1 << 16).contains("\r\n\r\n")) return;
                requests.push_back(socket->readAll());
                socket->write(respond(requests.back()));
                socket->disconnectFromHost();
            });
        });
    }
    QString url(const char* host, const char* path) const {
        return QStringLiteral("http://%1:%2%3")
            .arg(QLatin1String(host))
            .arg(server.serverPort())
            .arg(QLatin1String(path));
    }
    static QByteArray ok(const QByteArray& body) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }
    QTcpServer server;
    int connections = 0;
    std::vector<QByteArray> requests;
};

const auto anyAddress = [](const QHostAddress&) { return true; };

TEST(ArtworkFetch, DownloadsStopAtTheSizeCap) {
    QByteArray body = pngBytes();
    CoverServer server([&](const QByteArray&) { return CoverServer::ok(body); });
    const QString url = server.url("127.0.0.1", "/cover.png");
    EXPECT_EQ(fetchArtwork(url, std::chrono::milliseconds(4000), anyAddress).bytes, body);
    body = QByteArray(maxArtworkBytes + 1, 'x');
    EXPECT_EQ(fetchArtwork(url, std::chrono::milliseconds(4000), anyAddress).bytes, std::nullopt);
    const Artwork nothing =
        fetchArtwork(QStringLiteral("http://127.0.0.1:1/x"), std::chrono::milliseconds(4000), anyAddress);
    EXPECT_TRUE(!nothing.bytes && nothing.refused.isEmpty())
        << "nothing listens there: a failure, no refusal";
}

// A player could have the adapter knock on a service of this machine or the router: refused before any
// connection, redirects included, while the server still hears the name it was asked by.
TEST(ArtworkFetch, DownloadsReachOnlyAllowedAddressesRedirectsIncluded) {
    CoverServer server([&](const QByteArray& request) -> QByteArray {
        if (!request.startsWith("GET /moved ")) return CoverServer::ok(pngBytes());
        return "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.2:" +
               QByteArray::number(server.server.serverPort()) + "/cover.png\r\nContent-Length: 0\r\n\r\n";
    });
    EXPECT_TRUE(fetchArtwork(server.url("localhost", "/c.png"))
                    .refused.endsWith("an address on this machine's networks"));
    EXPECT_EQ(server.connections, 0);
    const auto loopback = [](const QHostAddress& a) { return a.isLoopback(); };
    EXPECT_EQ(
        fetchArtwork(server.url("localhost", "/c.png"), std::chrono::milliseconds(4000), loopback).bytes,
        pngBytes());
    ASSERT_FALSE(server.requests.empty()) << "the server heard nothing";
    EXPECT_TRUE(server.requests.back().contains("\r\nHost: localhost:" +
                                                QByteArray::number(server.server.serverPort())));
    EXPECT_EQ(
        fetchArtwork(server.url("127.0.0.1", "/moved"), std::chrono::milliseconds(4000), loopback).bytes,
        pngBytes());
    const auto onlyFirst = [](const QHostAddress& a) {
        return a == QHostAddress(QStringLiteral("127.0.0.1"));
    };
    const int before = server.connections;
    EXPECT_FALSE(fetchArtwork(server.url("127.0.0.1", "/moved"), std::chrono::milliseconds(4000), onlyFirst)
                     .refused.isEmpty());
    EXPECT_EQ(server.connections, before + 1) << "the redirect's target was never reached";
}

// The stream leaves its player's name for the one-shot commands: they read back that name or nothing,
// whatever else turns up at the path.
TEST(RememberedPlayer, TheStreamsChoiceRoundTripsAndNothingElseIsTakenForIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.player")),
                  vlc = busPrefix + QStringLiteral("vlc.instance42");
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::mkfifo(name.constData(), 0600), 0);
    EXPECT_EQ(readRememberedPlayer(path), std::nullopt);
    ASSERT_TRUE(writeRememberedPlayer(path, vlc)) << "the FIFO is replaced";
    EXPECT_EQ(readRememberedPlayer(path), vlc);
    struct stat st {};
    EXPECT_TRUE(::stat(name.constData(), &st) == 0 && (st.st_mode & 0777) == 0600);

    ::unlink(name.constData());
    saveFile(dir, QStringLiteral("p.player"), vlc.toLatin1(), 0644);
    EXPECT_EQ(readRememberedPlayer(path), std::nullopt) << "others could have written it";
    ::unlink(name.constData());
    const QString other = saveFile(dir, QStringLiteral("other"), vlc.toLatin1());
    ASSERT_EQ(::symlink(QFile::encodeName(other).constData(), name.constData()), 0);
    EXPECT_EQ(readRememberedPlayer(path), std::nullopt) << "a link";
    for (const char* bytes :
         {"", "org.mpris.MediaPlayer2.", "org.mpris.MediaPlayer2.vlc\nx", "org.mpris.MediaPlayer2..x",
          "org.mpris.MediaPlayer2.9lives", "org.freedesktop.DBus", "org.mpris.MediaPlayer2.a/b"})
        EXPECT_EQ(parseRememberedPlayer(bytes), std::nullopt) << bytes;
    EXPECT_EQ(parseRememberedPlayer(busPrefix.toLatin1() + QByteArray(233, 'x')), std::nullopt) << "256 long";
}

}  // namespace
}  // namespace velaro::mpris
