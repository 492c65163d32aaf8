// The real app in the test desktop: the band taking a maximised window's colour, the reminder banner when it
// starts with the master switch off, and one instance per session, which nothing but a running Velaro can
// claim: neither a program squatting its bus name nor a lock another user prepared keeps it from starting.
#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <optional>

#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SingleInstance.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "support/BusNameSquatter.h"

namespace velaro::e2e {
namespace {

const QByteArray kCompletedMasterOff = R"({"onboardingStep": 4, "masterEnabled": false})";

// The horizontal extent of something drawn over the plain background just below the panel, if any.
struct Span {
    int left, right, row;
};
std::optional<Span> bannerSpan(const QImage& shot, int below) {
    const QColor background = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    for (int y = below; y < below + 50 && y < shot.height(); ++y) {
        const int mid = shot.width() / 2;
        if (closeTo(shot.pixelColor(mid, y), background, 24)) continue;
        int left = mid, right = mid;
        while (left > 0 && !closeTo(shot.pixelColor(left - 1, y), background, 24)) --left;
        while (right < shot.width() - 1 && !closeTo(shot.pixelColor(right + 1, y), background, 24)) ++right;
        if (right - left > 60) return Span{left, right, y};
    }
    return std::nullopt;
}

// How often the app's main thread has gone to sleep and been woken so far (both kinds of switch).
long mainThreadSwitches(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/task/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    long total = 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.contains("ctxt_switches:")) total += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    return total;
}

// Waits until the app's main thread has not been woken once in 1.5 s (a 0.5 s check would wake it three
// times); false when that does not happen within 20 s.
bool waitUntilAsleep(qint64 pid) {
    long seen = mainThreadSwitches(pid);
    QElapsedTimer quiet;
    quiet.start();
    return waitUntil(
        [&] {
            const long now = mainThreadSwitches(pid);
            if (now != seen) {
                seen = now;
                quiet.restart();
            }
            return quiet.elapsed() >= 1500;
        },
        std::chrono::seconds(20));
}

// The idle app sleeps, and a window that comes to fill the top still wakes it to take its colour.
TEST(AppTest, AMaximisedWindowTintsTheBandOverThePanelAndClosingItHidesTheBand) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    RunningApp app(R"({"onboardingStep": 4})");
    ASSERT_TRUE(app.start());
    const QColor colour(0xc8, 0x3c, 0x28);
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    const QImage before = screenshot();
    ASSERT_FALSE(closeTo(before.pixelColor(inPanel), colour, 8)) << "the panel starts in another colour";
    ASSERT_TRUE(waitUntilAsleep(app.pid())) << "the idle app's main thread keeps waking";

    auto window = std::make_unique<SolidWindow>(colour);
    const QImage tinted =
        screenshotWhen([&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), colour, 10); },
                       std::chrono::seconds(15));
    EXPECT_TRUE(closeTo(tinted.pixelColor(inPanel), colour, 10))
        << "band " << tinted.pixelColor(inPanel).name().toStdString();

    window.reset();
    const QImage cleared = screenshotWhen(
        [&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), before.pixelColor(inPanel), 10); },
        std::chrono::seconds(10));
    EXPECT_TRUE(closeTo(cleared.pixelColor(inPanel), before.pixelColor(inPanel), 10))
        << "band " << cleared.pixelColor(inPanel).name().toStdString();
    EXPECT_TRUE(app.running());
}

TEST(AppTest, MasterOffShowsTheOverlayDisabledBannerCentredUnderThePanelFor3Point5Seconds) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0) << "the test desktop has a top panel";
    RunningApp app(kCompletedMasterOff);
    ASSERT_TRUE(app.start());

    std::optional<Span> span;
    const QImage shown =
        screenshotWhen([&](const QImage& shot) { return (span = bannerSpan(shot, panel)).has_value(); },
                       std::chrono::seconds(8));
    ASSERT_TRUE(span) << "no banner under the panel";
    QElapsedTimer sinceShown;
    sinceShown.start();
    const int centre = (span->left + span->right) / 2;
    EXPECT_NEAR(centre, shown.width() / 2, 2) << "centred on the screen";
    EXPECT_GE(span->row, panel) << "below the panel";
    EXPECT_LE(span->row, panel + 30) << "just below it";

    // It fades out 3.5 s after it faded in (the fades take a quarter second each).
    const QImage gone =
        screenshotWhen([&](const QImage& shot) { return !bannerSpan(shot, panel); }, std::chrono::seconds(8));
    const double seconds = sinceShown.elapsed() / 1000.0;
    EXPECT_FALSE(bannerSpan(gone, panel)) << "still showing";
    EXPECT_GT(seconds, 3.0);
    EXPECT_LT(seconds, 4.5);
    EXPECT_TRUE(app.running()) << "the app stays after the banner";
}

TEST(AppTest, ASecondLaunchExitsZeroAndTheFirstStays) {
    VELARO_REQUIRE_DESKTOP();
    RunningApp first(kCompletedMasterOff);
    ASSERT_TRUE(first.start());
    // The first owns the session-bus name once it answers; give it a moment to get there.
    ASSERT_TRUE(waitUntil(
        [] {
            return run(QStringLiteral("dbus-send"),
                       {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                        QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                        QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                        QStringLiteral("string:com.quornet.Velaro")})
                .out.contains("true");
        },
        std::chrono::seconds(10)));

    const auto settingsWindow = [] {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")})
            .out.trimmed();
    };
    ASSERT_TRUE(settingsWindow().isEmpty()) << "no settings window before";

    const auto second =
        run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20), first.environment());
    ASSERT_TRUE(second.finished) << second.describe().toStdString();
    EXPECT_EQ(second.exitCode, 0) << second.describe().toStdString();
    EXPECT_TRUE(first.running());
    // The hand-over reached the first: with no tour showing, it opens its settings window.
    EXPECT_TRUE(waitUntil([&] { return !settingsWindow().isEmpty(); }, std::chrono::seconds(10)))
        << "no settings window after the second launch";
    waitUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(first.running()) << "the reopen did not end the first";
}

// A second launch that finds a running instance it cannot ask to come forward says so and fails: one that
// holds the session-bus name but does not answer (stopped here), and one that runs without a session bus.
TEST(AppTest, ASecondLaunchThatCannotReachTheFirstSaysSoAndFails) {
    VELARO_REQUIRE_DESKTOP();
    struct Case {
        const char* name;
        bool withoutBus;
        const char* says;
    };
    for (const auto& c : {Case{"hung first", false, "does not answer"},
                          Case{"no session bus", true, "without the session bus"}}) {
        SCOPED_TRACE(c.name);
        RunningApp first(kCompletedMasterOff);
        if (c.withoutBus)
            first.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                                 QStringLiteral("unix:path=/nonexistent"));
        ASSERT_TRUE(first.start());
        // Up once it has written its settings back (after the instance check).
        ASSERT_TRUE(waitUntil([&] {
            QFile file(first.settingsPath());
            return file.open(QIODevice::ReadOnly) && file.readAll() != kCompletedMasterOff;
        }));
        if (!c.withoutBus) ::kill(static_cast<pid_t>(first.pid()), SIGSTOP);

        QElapsedTimer took;
        took.start();
        const auto second =
            run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20), first.environment());
        if (!c.withoutBus) ::kill(static_cast<pid_t>(first.pid()), SIGCONT);
        ASSERT_TRUE(second.finished) << second.describe().toStdString();
        EXPECT_NE(second.exitCode, 0) << second.describe().toStdString();
        EXPECT_TRUE(second.err.contains(c.says)) << second.describe().toStdString();
        EXPECT_LT(took.elapsed(), 8000);
        EXPECT_TRUE(first.running());
    }
}

// Up once it has written its settings back (after the instance check).
bool startedUp(const RunningApp& app) {
    return waitUntil(
        [&] {
            QFile file(app.settingsPath());
            return file.open(QIODevice::ReadOnly) && file.readAll() != kCompletedMasterOff;
        },
        std::chrono::seconds(15));
}

// A program on the session bus that holds the app's name while no Velaro runs: one that never answers the
// app's "reopen", and one that answers every call with an empty reply. The app says so and starts.
TEST(AppTest, AProgramHoldingTheBusNameDoesNotKeepTheAppFromStarting) {
    VELARO_REQUIRE_DESKTOP();
    using Squatter = test::BusNameSquatter;
    int connections = 0;
    for (const auto kind : {Squatter::Kind::neverAnswer, Squatter::Kind::answerEmpty}) {
        SCOPED_TRACE(int(kind));
        const QString connection = QStringLiteral("squatter%1").arg(++connections);
        // An app that ended lets the name go without waiting for the bus.
        ASSERT_TRUE(waitUntil([] {
            return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QString::fromLatin1(velaroAppId));
        }));
        {
            Squatter squatter(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection),
                              QString::fromLatin1(velaroAppId), SingleInstance::objectPath(), kind);
            ASSERT_TRUE(squatter.ownsName());
            RunningApp app(kCompletedMasterOff);
            ASSERT_TRUE(app.start(true));
            EXPECT_TRUE(startedUp(app)) << app.errorOutput().toStdString();
            EXPECT_TRUE(app.running()) << app.errorOutput().toStdString();
            EXPECT_TRUE(app.errorOutput().contains("no Velaro runs on this display"))
                << app.errorOutput().toStdString();
        }
        QDBusConnection::disconnectFromBus(connection);
    }
}

// Without a runtime folder, the display's lock once lay in the shared temporary folder, where another user
// could make it first and hold it. Such a lock, and a folder of the app's name that another user made there,
// are passed over: the app starts with its lock in a folder of the user's own.
TEST(AppTest, ALockAnotherUserPreparedDoesNotKeepTheAppFromStarting) {
    VELARO_REQUIRE_DESKTOP();
    QTemporaryDir shared, cache;
    ASSERT_TRUE(shared.isValid() && cache.isValid());
    // The old place of the lock, held as the other user would hold it.
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QLatin1Char(':'), QLatin1Char('_'));
    const QByteArray oldLock =
        QFile::encodeName(shared.filePath(QStringLiteral("velaro-display%1.lock").arg(display)));
    const int held = ::open(oldLock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    // The user's folder names there, made first by someone else (or, for a user who cannot give a folder
    // away, left open to everyone): the app's own, and the runtime folder the toolkit would fall back to.
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    const QByteArray prepared =
        QFile::encodeName(shared.filePath(QStringLiteral("velaro-%1").arg(::geteuid())));
    for (const QByteArray& folder :
         {prepared, QFile::encodeName(shared.filePath(QStringLiteral("runtime-") +
                                                      QString::fromLocal8Bit(user->pw_name)))}) {
        ASSERT_EQ(::mkdir(folder.constData(), 0777), 0);
        ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
        if (::geteuid() == 0) { ASSERT_EQ(::chown(folder.constData(), 65534, 65534), 0); }
    }

    RunningApp app(kCompletedMasterOff);
    app.unsetEnvironment(QStringLiteral("XDG_RUNTIME_DIR"));
    app.setEnvironment(QStringLiteral("TMPDIR"), shared.path());
    app.setEnvironment(QStringLiteral("XDG_CACHE_HOME"), cache.path());
    ASSERT_TRUE(app.start(true));
    EXPECT_TRUE(startedUp(app)) << app.errorOutput().toStdString();
    EXPECT_TRUE(app.running()) << app.errorOutput().toStdString();
    EXPECT_TRUE(app.errorOutput().contains("the instance lock does not go in " + prepared))
        << app.errorOutput().toStdString();
    // Its lock is in the cache folder, which it made for the user alone, and it holds it.
    const QDir own(cache.filePath(QStringLiteral("velaro")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(own.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const QStringList locks = own.entryList({QStringLiteral("*.lock")}, QDir::Files);
    ASSERT_EQ(locks.size(), 1) << own.path().toStdString();
    const int probe = ::open(QFile::encodeName(own.filePath(locks.front())).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the app does not hold its lock";
    ::close(probe);
    ::close(held);
}

}  // namespace
}  // namespace velaro::e2e
