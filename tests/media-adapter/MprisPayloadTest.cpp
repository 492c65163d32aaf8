// The adapter's mapping from player values to payload keys (malformed values left out), its stream lines,
// its choice among players, its command line, and where covers may be read from.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusObjectPath>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include "ArtworkFetch.h"
#include "MprisPayload.h"

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

TEST(ArtworkFetch, OnlyRegularFilesOfBoundedSizeAreRead) {
    QTemporaryDir dir;
    const QString cover = dir.filePath(QStringLiteral("cover.png"));
    QFile file(cover);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("png bytes");
    file.close();
    EXPECT_EQ(readArtworkFile(cover), QByteArray("png bytes"));

    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString huge = dir.filePath(QStringLiteral("huge"));
    QFile(huge).open(QIODevice::WriteOnly);
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), maxArtworkBytes + 1), 0);
    for (const QString& refused :
         {fifo, huge, QStringLiteral("/proc/self/status"), QStringLiteral("/dev/zero"),
          QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"), dir.path(),
          dir.filePath(QStringLiteral("missing"))})
        EXPECT_EQ(readArtworkFile(refused), std::nullopt) << refused.toStdString();

    EXPECT_EQ(fetchArtwork(QUrl::fromLocalFile(cover).toString()), QByteArray("png bytes"));
    for (const QString& url :
         {QStringLiteral("ftp://example.org/cover.png"), QStringLiteral("data:image/png;base64,AAAA"),
          QStringLiteral("file://otherhost") + cover, cover, QStringLiteral("cover.png"), QString()})
        EXPECT_EQ(fetchArtwork(url), std::nullopt) << url.toStdString();
}

TEST(ArtworkFetch, DownloadsStopAtTheSizeCap) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QByteArray body;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &body] {
            if (!socket->readAll().contains("\r\n\r\n")) return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n");
            socket->write(body);
            socket->disconnectFromHost();
        });
    });
    const QString url = QStringLiteral("http://127.0.0.1:%1/cover.png").arg(server.serverPort());
    body = "a small cover";
    EXPECT_EQ(fetchArtwork(url), body);
    body = QByteArray(maxArtworkBytes + 1, 'x');
    EXPECT_EQ(fetchArtwork(url), std::nullopt);
    EXPECT_EQ(fetchArtwork(QStringLiteral("http://127.0.0.1:%1/x").arg(server.serverPort() == 1 ? 2 : 1)),
              std::nullopt)
        << "nothing listens there";
}

}  // namespace
}  // namespace velaro::mpris
