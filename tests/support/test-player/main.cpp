// velaro-test-player: an MPRIS player for the desktop tests, driven by commands on its standard input and
// reporting on its standard output every call it receives. It signals its own property changes (Qt's
// adaptors do not) and its seeks, advances its position while it plays, and shows a cover of one colour.
//
//   velaro-test-player [--name NAME] [--desktop-entry ID] [--art-color #RRGGBB]
// Commands, one a line:
//   track ID SECONDS TITLE   a new track (object path ID, length in seconds), position 0
//   artist NAME              the artist of this and later tracks
//   play | pause | stop      the playback status
//   position SECONDS         moves the position without saying so (as players do)
//   seeked SECONDS           moves it and signals Seeked
//   rate R                   the playback rate
//   art URL | art none       the cover's address
//   freeze                   stops answering calls for good (as a hung player does); the bus name stays
//   quit
// Output: "ready" once the bus name is owned, "done WORD" after each command, and one line per call
// received, e.g. "SetPosition /t/1 5000000".
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>
#include <QVariantMap>
#include <cstdio>

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// The player's state; both adaptors read it.
class TestPlayer : public QObject {
    Q_OBJECT
public:
    QString desktopEntry;
    QString status = QStringLiteral("Stopped");
    double rate = 1.0;
    QString trackId;
    qlonglong lengthMicros = 0;
    QString title;
    QString artist = QStringLiteral("Test Artist");
    QString artUrl;

    qlonglong position() const {
        const double moved = status == QLatin1String("Playing") ? clock_.elapsed() * 1000.0 * rate : 0.0;
        return base_ + qlonglong(moved);
    }
    void setPosition(qlonglong micros) {
        base_ = micros;
        clock_.restart();
    }
    QVariantMap metadata() const {
        QVariantMap m;
        if (trackId.isEmpty()) return m;
        m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackId)));
        m.insert(QStringLiteral("mpris:length"), lengthMicros);
        m.insert(QStringLiteral("xesam:title"), title);
        m.insert(QStringLiteral("xesam:artist"), QStringList{artist});
        if (!artUrl.isEmpty()) m.insert(QStringLiteral("mpris:artUrl"), artUrl);
        return m;
    }
    // Sends PropertiesChanged for the player interface, as a real player must do itself.
    void changed(const QStringList& names) {
        QVariantMap values;
        for (const auto& n : names) {
            if (n == QLatin1String("Metadata")) values.insert(n, metadata());
            if (n == QLatin1String("PlaybackStatus")) values.insert(n, status);
            if (n == QLatin1String("Rate")) values.insert(n, rate);
        }
        auto signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                 QStringLiteral("PropertiesChanged"));
        signal << kPlayer << values << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }
    void seeked() {
        auto signal = QDBusMessage::createSignal(kPath, kPlayer, QStringLiteral("Seeked"));
        signal << position();
        QDBusConnection::sessionBus().send(signal);
    }
    void setStatus(const QString& s) {
        const qlonglong now = position();
        status = s;
        setPosition(s == QLatin1String("Stopped") ? 0 : now);
        changed({QStringLiteral("PlaybackStatus")});
    }

private:
    qlonglong base_ = 0;
    QElapsedTimer clock_ = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(bool CanQuit READ no)
    Q_PROPERTY(bool CanRaise READ no)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    RootAdaptor(QObject* parent, TestPlayer& player) : QDBusAbstractAdaptor(parent), player_(player) {}
    QString identity() const { return QStringLiteral("Velaro Test Player"); }
    QString desktopEntry() const { return player_.desktopEntry; }
    bool no() const { return false; }
    QStringList none() const { return {}; }
public slots:
    void Raise() { say(QStringLiteral("Raise")); }
    void Quit() { say(QStringLiteral("Quit")); }

private:
    TestPlayer& player_;
};

class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Volume READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ yes)
    Q_PROPERTY(bool CanControl READ yes)
public:
    PlayerAdaptor(QObject* parent, TestPlayer& player) : QDBusAbstractAdaptor(parent), player_(player) {}
    QString playbackStatus() const { return player_.status; }
    double rate() const { return player_.rate; }
    QVariantMap metadata() const { return player_.metadata(); }
    qlonglong position() const { return player_.position(); }
    double one() const { return 1.0; }
    bool yes() const { return true; }

public slots:
    void PlayPause() {
        say(QStringLiteral("PlayPause"));
        player_.setStatus(player_.status == QLatin1String("Playing") ? QStringLiteral("Paused")
                                                                     : QStringLiteral("Playing"));
    }
    void Play() {
        say(QStringLiteral("Play"));
        player_.setStatus(QStringLiteral("Playing"));
    }
    void Pause() {
        say(QStringLiteral("Pause"));
        player_.setStatus(QStringLiteral("Paused"));
    }
    void Stop() {
        say(QStringLiteral("Stop"));
        player_.setStatus(QStringLiteral("Stopped"));
    }
    void Next() { say(QStringLiteral("Next")); }
    void Previous() { say(QStringLiteral("Previous")); }
    void Seek(qlonglong offset) {
        say(QStringLiteral("Seek %1").arg(offset));
        player_.setPosition(qBound(0LL, player_.position() + offset, player_.lengthMicros));
        player_.seeked();
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong micros) {
        say(QStringLiteral("SetPosition %1 %2").arg(track.path()).arg(micros));
        // As the interface says: a stale track id or a position past the end is ignored.
        if (track.path() != player_.trackId || micros < 0 || micros > player_.lengthMicros) return;
        player_.setPosition(micros);
        player_.seeked();
    }
    void OpenUri(const QString& uri) { say(QStringLiteral("OpenUri %1").arg(uri)); }

signals:
    void Seeked(qlonglong position);

private:
    TestPlayer& player_;
};

void command(TestPlayer& player, const QString& line) {
    const QString word = line.section(QLatin1Char(' '), 0, 0);
    const QString rest = line.section(QLatin1Char(' '), 1);
    if (word == QLatin1String("track")) {
        player.trackId = rest.section(QLatin1Char(' '), 0, 0);
        player.lengthMicros = qlonglong(rest.section(QLatin1Char(' '), 1, 1).toDouble() * 1e6);
        player.title = rest.section(QLatin1Char(' '), 2);
        player.setPosition(0);
        player.changed({QStringLiteral("Metadata")});
    } else if (word == QLatin1String("artist")) {
        player.artist = rest;
        player.changed({QStringLiteral("Metadata")});
    } else if (word == QLatin1String("play")) {
        player.setStatus(QStringLiteral("Playing"));
    } else if (word == QLatin1String("pause")) {
        player.setStatus(QStringLiteral("Paused"));
    } else if (word == QLatin1String("stop")) {
        player.setStatus(QStringLiteral("Stopped"));
    } else if (word == QLatin1String("position")) {
        player.setPosition(qlonglong(rest.toDouble() * 1e6));
    } else if (word == QLatin1String("seeked")) {
        player.setPosition(qlonglong(rest.toDouble() * 1e6));
        player.seeked();
    } else if (word == QLatin1String("rate")) {
        const qlonglong now = player.position();
        player.rate = rest.toDouble();
        player.setPosition(now);
        player.changed({QStringLiteral("Rate")});
    } else if (word == QLatin1String("art")) {
        player.artUrl = rest == QLatin1String("none") ? QString() : rest;
        player.changed({QStringLiteral("Metadata")});
    } else if (word == QLatin1String("freeze")) {
        say(QStringLiteral("done freeze"));
        // Calls reach the adaptors on this thread, which never returns to its loop; the bus connection's own
        // thread keeps the name.
        for (;;) ::pause();
    } else if (word == QLatin1String("quit")) {
        QCoreApplication::quit();
        return;
    }
    // Once this shows, the change is on the bus and any later call sees it.
    say(QStringLiteral("done ") + word);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString name = QStringLiteral("velarotest");
    QString colour = QStringLiteral("#ff0000");
    TestPlayer player;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--name")) name = args[i + 1];
        if (args[i] == QLatin1String("--desktop-entry")) player.desktopEntry = args[i + 1];
        if (args[i] == QLatin1String("--art-color")) colour = args[i + 1];
    }

    // The cover: a PNG of one colour, kept for as long as the player runs. Tests end the player with SIGTERM,
    // which skips the folder's removal: it goes in the test desktop's runtime folder, which the desktop's own
    // end removes, rather than piling up in /tmp.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir folder(runtime.isEmpty() ? QDir::tempPath() + QStringLiteral("/velaro-test-player-XXXXXX")
                                           : QFile::decodeName(runtime) + QStringLiteral("/test-player-XXXXXX"));
    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(QColor::fromString(colour));
    const QString coverPath = folder.filePath(QStringLiteral("cover.png"));
    cover.save(coverPath, "PNG");
    player.artUrl = QUrl::fromLocalFile(coverPath).toString();

    new RootAdaptor(&player, player);
    new PlayerAdaptor(&player, player);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(kPath, &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name)) {
        std::fputs("velaro-test-player: cannot take the bus name\n", stderr);
        return 1;
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();  // the test went away
            return;
        }
        pending.append(buffer, n);
        qsizetype feed;
        while ((feed = pending.indexOf('\n')) >= 0) {
            command(player, QString::fromUtf8(pending.left(feed)).trimmed());
            pending.remove(0, feed + 1);
        }
    });
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "main.moc"
