// The media adapter on the test desktop's session bus, following the test player: its stream's lines,
// "seek" and "send" reaching the player, "get" returning the cover, the engine fed by the real adapter,
// the app taking the colour of the cover of what plays, players that hang or point at files that are no
// covers, and whatever turns up at the remembered player's path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>

#include <nlohmann/json.hpp>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/TestPlayer.h"
#include "music/MusicProgressEngine.h"
#include "platform/linux/LinuxChildProcess.h"

namespace velaro::e2e {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

QString adapterPath() {
    return binDir() + QStringLiteral("/velaro-media-adapter");
}

// The adapter's stream, with the payload its lines add up to.
class Stream : public LineProcess {
public:
    Stream() : LineProcess(adapterPath(), {QStringLiteral("stream"), QStringLiteral("--no-artwork")}) {}
    // Waits until a line leaves a payload for which `match` holds; records whether that line replaced.
    bool waitForPayload(const std::function<bool(const json&)>& match,
                        std::chrono::milliseconds limit = 10s) {
        return waitForLine(
            [&](const std::string& text) {
                const json line = json::parse(text, nullptr, false);
                if (!line.is_object() || line.value("type", "") != "data") return false;
                lastReplaced = !line.value("diff", false);
                if (lastReplaced) payload = json::object();
                for (const auto& [key, value] : line.at("payload").items()) {
                    if (value.is_null())
                        payload.erase(key);
                    else
                        payload[key] = value;
                }
                return match(payload);
            },
            limit);
    }
    json payload = json::object();
    bool lastReplaced = false;
};

CommandResult adapter(const QStringList& arguments) {
    return run(adapterPath(), arguments, 10s);
}

// Where the stream leaves the name of the player it follows, as the adapter works it out.
QString rememberedPlayerPath() {
    const QDBusMessage id = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/velaro-media-adapter-") + id.arguments().value(0).toString() +
           QStringLiteral(".player");
}

// The quickest of a few seeks to `micros` by a one-shot adapter, in milliseconds, each one reaching `player`.
qint64 quickestSeek(TestPlayer& player, qint64 micros) {
    qint64 quickest = std::numeric_limits<qint64>::max();
    for (int round = 0; round < 3; ++round) {
        const qint64 target = micros + round;
        QElapsedTimer clock;
        clock.start();
        const auto result = adapter({QStringLiteral("seek"), QString::number(target)});
        const qint64 took = clock.elapsed();
        EXPECT_EQ(result.exitCode, 0) << result.describe().toStdString();
        EXPECT_TRUE(player.waitForLine("SetPosition /org/velaro/track/7 " + std::to_string(target)));
        quickest = std::min(quickest, took);
    }
    return quickest;
}

TEST(MediaAdapterTest, TheStreamFollowsThePlayerThroughPlayPauseTracksSeeksAndRestarts) {
    VELARO_REQUIRE_DESKTOP();
    auto player = std::make_unique<TestPlayer>();
    ASSERT_TRUE(player->ready());
    Stream stream;
    ASSERT_TRUE(stream.started());
    ASSERT_TRUE(stream.waitForPayload(
        [](const json& p) { return p.value("bundleIdentifier", "") == "velaro-test-player"; }));
    EXPECT_TRUE(stream.lastReplaced) << "the first line replaces";
    EXPECT_FALSE(stream.payload.value("playing", true));

    ASSERT_TRUE(player->command(QStringLiteral("track /org/velaro/track/1 200 First Song")));
    ASSERT_TRUE(player->command(QStringLiteral("play")));
    ASSERT_TRUE(stream.waitForPayload([](const json& p) {
        return p.value("title", "") == "First Song" && p.value("playing", false);
    })) << stream.payload.dump();
    EXPECT_FALSE(stream.lastReplaced) << "later changes merge";
    EXPECT_EQ(stream.payload.value("artist", ""), "Test Artist");
    EXPECT_EQ(stream.payload.value("duration", 0.0), 200.0);
    EXPECT_EQ(stream.payload.value("uniqueIdentifier", ""),
              "org.mpris.MediaPlayer2.velarotest/org/velaro/track/1");
    EXPECT_TRUE(stream.payload.contains("timestamp"));

    ASSERT_TRUE(player->command(QStringLiteral("pause")));
    ASSERT_TRUE(stream.waitForPayload([](const json& p) { return !p.value("playing", true); }));
    ASSERT_TRUE(player->command(QStringLiteral("track /org/velaro/track/2 180 Second Song")));
    ASSERT_TRUE(stream.waitForPayload([](const json& p) {
        return p.value("uniqueIdentifier", "") == "org.mpris.MediaPlayer2.velarotest/org/velaro/track/2";
    }));
    EXPECT_EQ(stream.payload.value("title", ""), "Second Song");
    ASSERT_TRUE(player->command(QStringLiteral("seeked 42")));
    ASSERT_TRUE(stream.waitForPayload(
        [](const json& p) { return std::abs(p.value("elapsedTime", 0.0) - 42) < 0.01; }));

    player->send(QStringLiteral("quit"));
    ASSERT_TRUE(stream.waitForPayload([](const json& p) { return p.empty(); }));
    EXPECT_TRUE(stream.lastReplaced) << "no player: one replacing line with an empty payload";

    player = std::make_unique<TestPlayer>();
    ASSERT_TRUE(player->ready());
    ASSERT_TRUE(stream.waitForPayload([](const json& p) { return !p.empty(); }, 3s))
        << "a new player is taken at once";
    EXPECT_TRUE(stream.lastReplaced);
    EXPECT_EQ(stream.process().state(), QProcess::Running);
}

TEST(MediaAdapterTest, SeekAndSendReachThePlayerAndBadCommandLinesReachNothing) {
    VELARO_REQUIRE_DESKTOP();
    {
        const auto none = adapter({QStringLiteral("send"), QStringLiteral("2")});
        EXPECT_EQ(none.exitCode, 1) << "no player: " << none.describe().toStdString();
    }
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/7 200 Song")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));

    struct Case {
        QStringList arguments;
        std::string call;
    };
    const Case cases[] = {
        {{"seek", "5000000"}, "SetPosition /org/velaro/track/7 5000000"},
        {{"send", "2"}, "PlayPause"},
        {{"send", "4"}, "Next"},
        {{"send", "5"}, "Previous"},
    };
    for (const auto& c : cases) {
        const auto result = adapter(c.arguments);
        EXPECT_EQ(result.exitCode, 0) << result.describe().toStdString();
        EXPECT_TRUE(player.waitForLine(c.call)) << c.call;
    }
    for (const QStringList& bad :
         {QStringList{"seek", "-1"}, QStringList{"seek", "1.5"}, QStringList{"seek", "99999999999999999999"},
          QStringList{"send", "3"}, QStringList{"pause"}, QStringList{}}) {
        const auto result = adapter(bad);
        EXPECT_EQ(result.exitCode, 64) << bad.join(' ').toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    // Calls are answered in order: once a later good one arrives, nothing came from the bad ones before it.
    const auto seenBefore = player.lines().size();
    ASSERT_EQ(adapter({QStringLiteral("send"), QStringLiteral("4")}).exitCode, 0);
    ASSERT_TRUE(player.waitForLine("Next"));
    EXPECT_EQ(player.lines().size(), seenBefore + 1);

    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    EXPECT_EQ(run(adapterPath(), {QStringLiteral("send"), QStringLiteral("2")}, 10s, noBus).exitCode, 2);
}

TEST(MediaAdapterTest, GetReturnsThePlayersCoverWithTheTrackKeysTheStreamWrites) {
    VELARO_REQUIRE_DESKTOP();
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    Stream stream;
    ASSERT_TRUE(stream.started());
    ASSERT_TRUE(player.command(QStringLiteral("artist Ünïcode Artist")));
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/9 120 Covered")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));
    ASSERT_TRUE(stream.waitForPayload([](const json& p) { return p.value("title", "") == "Covered"; }));

    const auto result = adapter({QStringLiteral("get")});
    ASSERT_EQ(result.exitCode, 0) << result.describe().toStdString();
    const json output = json::parse(result.out.toStdString(), nullptr, false);
    ASSERT_TRUE(output.is_object()) << result.out.toStdString();
    const json& payload = output.at("payload");
    for (const char* key : {"bundleIdentifier", "title", "artist"})
        EXPECT_EQ(payload.at(key), stream.payload.at(key)) << key;
    const QImage cover =
        QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(payload.value("artworkData", "")),
                                                QByteArray::AbortOnBase64DecodingErrors));
    ASSERT_FALSE(cover.isNull());
    EXPECT_EQ(cover.pixelColor(10, 10), QColor(255, 0, 0));

    ASSERT_TRUE(player.command(QStringLiteral("art none")));
    const json bare = json::parse(adapter({QStringLiteral("get")}).out.toStdString(), nullptr, false);
    EXPECT_FALSE(bare.at("payload").contains("artworkData")) << "no cover named: none sent";
}

TEST(MediaAdapterTest, TheEngineFedByTheRealAdapterFollowsThePlayersPosition) {
    VELARO_REQUIRE_DESKTOP();
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/3 200 Long Song")));
    ASSERT_TRUE(player.command(QStringLiteral("position 30")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));

    QtMainLoop loop;
    LinuxProcessLauncher launcher;
    MusicProgressEngine engine(MusicProgressEngine::Services{
        .loop = loop,
        .launcher = launcher,
        .locateAdapter = [] { return std::optional<std::string>(adapterPath().toStdString()); },
        .onWillTerminate = {},
    });
    int changes = 0;
    engine.setOnChange([&](const ProgressSnapshot&) { ++changes; });
    engine.start();
    ASSERT_TRUE(waitUntil([&] { return engine.snapshot().isValid && engine.snapshot().isPlaying; }));
    // The snapshot is current as soon as the line is read; listeners hear of it a loop turn later.
    EXPECT_TRUE(waitUntil([&] { return changes >= 1; }));
    const auto first = engine.snapshot();
    EXPECT_EQ(first.duration, 200.0);
    EXPECT_EQ(*first.appId, "velaro-test-player");
    EXPECT_GT(*first.progress01, 29.0 / 200);
    EXPECT_LT(*first.progress01, 40.0 / 200);
    // The engine extrapolates between lines: its position grows with no line at all.
    const double before = *engine.snapshot().progress01;
    EXPECT_TRUE(waitUntil([&] { return *engine.snapshot().progress01 > before + 0.5 / 200; }, 3s));

    ASSERT_TRUE(player.command(QStringLiteral("seeked 100")));
    EXPECT_TRUE(waitUntil([&] { return std::abs(*engine.snapshot().progress01 - 0.5) < 2.0 / 200; }));
    engine.seek(150, 1.0);
    EXPECT_TRUE(player.waitForLine("SetPosition /org/velaro/track/3 150000000"));
    EXPECT_TRUE(waitUntil([&] { return std::abs(*engine.snapshot().progress01 - 0.75) < 2.0 / 200; }));
    engine.sendCommand(2, "play-toggle");
    EXPECT_TRUE(player.waitForLine("PlayPause"));
    EXPECT_TRUE(waitUntil([&] { return !engine.snapshot().isPlaying; }));
    engine.stop();
}

TEST(MediaAdapterTest, TheAppTakesTheColourOfTheCoverOfWhatPlays) {
    VELARO_REQUIRE_DESKTOP();
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    RunningApp app(R"({"onboardingStep": 4, "progressEnabled": true})");
    ASSERT_TRUE(app.start(/*keepErrors=*/true));
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/5 200 Red Song")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));
    const QByteArray expected = "PROG artwork color → #FF0000 [velaro-test-player|Red Song|Test Artist]";
    EXPECT_TRUE(waitUntil([&] { return app.errorOutput().contains(expected); }, 15s))
        << "running " << app.running() << ": " << app.errorOutput().toStdString();
}

// Players that never answer their calls (hung, or stopped in a debugger) cost another player's seek almost
// nothing, and a FIFO at the remembered player's path stalls no command: a command goes to the player the
// stream follows, and without a usable choice the players are asked together for a short while.
TEST(MediaAdapterTest, HungPlayersAndAFifoAtTheRememberedPathBarelyDelayACommand) {
    VELARO_REQUIRE_DESKTOP();
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    ASSERT_TRUE(player.command(QStringLiteral("track /org/velaro/track/7 200 Song")));
    ASSERT_TRUE(player.command(QStringLiteral("play")));
    const QByteArray path = QFile::encodeName(rememberedPlayerPath());
    ::unlink(path.constData());
    ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
    const qint64 alone = quickestSeek(player, 5000000);
    for (const QStringList& command : {QStringList{"send", "4"}, QStringList{"get"}})
        EXPECT_TRUE(run(adapterPath(), command, 5s).finished) << command.join(' ').toStdString();

    std::vector<std::unique_ptr<TestPlayer>> hung;
    for (const char* name : {"velarohung1", "velarohung2", "velarohung3"}) {
        auto& stuck = *hung.emplace_back(std::make_unique<TestPlayer>(QLatin1String(name)));
        ASSERT_TRUE(stuck.ready());
        ASSERT_TRUE(stuck.command(QStringLiteral("freeze")));
    }
    const qint64 asking = quickestSeek(player, 6000000);
    EXPECT_LT(asking - alone, 500) << "alone " << alone << " ms, beside three hung players " << asking
                                   << " ms";

    // The stream puts its own file, private to the user, in the FIFO's place.
    Stream stream;
    ASSERT_TRUE(stream.started());
    ASSERT_TRUE(waitUntil([&] {
        struct stat st {};
        QFile file(QFile::decodeName(path));
        return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0600 &&
               file.open(QIODevice::ReadOnly) && file.readAll() == "org.mpris.MediaPlayer2.velarotest";
    }));
    const qint64 following = quickestSeek(player, 7000000);
    EXPECT_LT(following - alone, 500)
        << "alone " << alone << " ms, with the stream's choice " << following << " ms";
}

// A player may name any file as its cover: /etc/passwd, or a link into /proc (where the adapter would read
// its own environment). Neither is read, and the app says so once for each track, however many lines follow.
TEST(MediaAdapterTest, CoversThatAreNoPicturesAreRefusedWithOneLine) {
    VELARO_REQUIRE_DESKTOP();
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("cover.png"));
    ASSERT_EQ(::symlink("/proc/self/environ", QFile::encodeName(link).constData()), 0);
    const std::pair<QString, QString> covers[] = {
        {QStringLiteral("file:///etc/passwd"), QStringLiteral("not a picture")},
        {QUrl::fromLocalFile(link).toString(), QStringLiteral("a file of /proc or /sys")},
    };
    TestPlayer player;
    ASSERT_TRUE(player.ready());
    RunningApp app(R"({"onboardingStep": 4, "progressEnabled": true})");
    ASSERT_TRUE(app.start(/*keepErrors=*/true));
    ASSERT_TRUE(player.command(QStringLiteral("play")));
    int track = 10;
    for (const auto& [url, why] : covers) {
        const QString title = QStringLiteral("Song %1").arg(++track);
        ASSERT_TRUE(player.command(QStringLiteral("art ") + url));
        ASSERT_TRUE(
            player.command(QStringLiteral("track /org/velaro/track/%1 200 %2").arg(track).arg(title)));
        const QByteArray expected = "PROG artwork REFUSED (" + url.toUtf8() + ": " + why.toUtf8() +
                                    ") [velaro-test-player|" + title.toUtf8() + "|Test Artist]\n";
        EXPECT_TRUE(waitUntil([&] { return app.errorOutput().contains(expected); }, 15s))
            << app.errorOutput().toStdString();
        ASSERT_TRUE(player.command(QStringLiteral("seeked 20")));
        ASSERT_TRUE(player.command(QStringLiteral("seeked 40")));
        waitUntil([] { return false; }, 1500ms);
        EXPECT_EQ(app.errorOutput().count("PROG artwork"), track - 10) << app.errorOutput().toStdString();
    }
    EXPECT_FALSE(app.errorOutput().contains("artwork color"));
}

}  // namespace
}  // namespace velaro::e2e
