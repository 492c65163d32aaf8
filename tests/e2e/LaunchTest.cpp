// The real app's launch: the band first, with only what it needs loaded; what it leaves for later still
// comes (the sound server's library with the visualizer, the icon theme's own status icon). And one Velaro
// per display, which a launch tells by the display's lock: whatever spelling of the display it is given,
// whatever stands in the lock's place, whatever holds the bus name; and it says what it found.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

#include "app/SingleInstance.h"
#include "base/AppId.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "support/BusNameSquatter.h"

namespace velaro::e2e {
namespace {

// The shared libraries the process has mapped whose file names hold `part`.
bool mapsLibrary(qint64 pid, const char* part) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly)) return false;
    return maps.readAll().contains(part);
}

TEST(LaunchTest, TheBandShowsWithoutTheSoundOrSettingsLibrariesWhichLoadWhenTheVisualizerStarts) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    RunningApp app(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false})");
    ASSERT_TRUE(app.start());
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    const QImage shot =
        screenshotWhen([&](const QImage& s) { return closeTo(s.pixelColor(inPanel), Qt::black, 4); },
                       std::chrono::seconds(15));
    ASSERT_TRUE(closeTo(shot.pixelColor(inPanel), Qt::black, 4))
        << "band " << shot.pixelColor(inPanel).name().toStdString();
    // Up and painted, with neither the sound server's nor GSettings' library (nor what they pull in).
    for (const char* library : {"libpulse", "libsndfile", "libgio-2.0"})
        EXPECT_FALSE(mapsLibrary(app.pid(), library)) << library << " is loaded";
    // The settings the launch migrated are written once the band is up.
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile file(app.settingsPath());
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("strokeRadiusMigrated");
        },
        std::chrono::seconds(10)))
        << "the migrated settings were never written";

    // The visualizer opens the sound server's library when it starts capturing.
    ASSERT_TRUE(app.writeSettings(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false, "vizEnabled": true})"));
    EXPECT_TRUE(waitUntil([&] { return mapsLibrary(app.pid(), "libpulse"); }, std::chrono::seconds(15)))
        << "the visualizer never loaded the sound server's library";
    EXPECT_TRUE(app.running());
}

// The app's small window in the panel: its tray icon.
std::optional<QRect> trayIcon(qint64 pid) {
    for (const QRect& g : visibleWindows({QStringLiteral("--pid"), QString::number(pid)}))
        if (g.top() >= 0 && g.bottom() < TrayApp::panelHeight && g.width() <= TrayApp::panelHeight) return g;
    return std::nullopt;
}

bool showsRed(const QImage& shot, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (closeTo(shot.pixelColor(x, y), QColor(0xff, 0, 0), 16)) return true;
    return false;
}

TEST(LaunchTest, AStatusIconOfTheDesktopsThemeTakesOverFromTheAppsOwnOnceTheBandShows) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    // A theme folder of the user's own with a red square for the "on" icon.
    QTemporaryDir data;
    const QString status = data.filePath(QStringLiteral("icons/hicolor/scalable/status"));
    ASSERT_TRUE(QDir().mkpath(status));
    QFile icon(status + QStringLiteral("/velaro-status-on.svg"));
    ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
    icon.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="18" height="18">)"
               R"(<rect width="18" height="18" fill="#ff0000"/></svg>)");
    icon.close();

    RunningApp app(
        R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": "black", "strokeEnabled": false})");
    app.setEnvironment(QStringLiteral("XDG_DATA_HOME"), data.path());
    ASSERT_TRUE(app.start());
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    std::optional<QRect> place;
    ASSERT_TRUE(
        waitUntil([&] { return (place = trayIcon(app.pid())).has_value(); }, std::chrono::seconds(15)))
        << "no icon in the tray";
    const QImage shot = screenshotWhen(
        [&](const QImage& s) { return closeTo(s.pixelColor(inPanel), Qt::black, 4) && showsRed(s, *place); },
        std::chrono::seconds(15));
    EXPECT_TRUE(closeTo(shot.pixelColor(inPanel), Qt::black, 4))
        << "band " << shot.pixelColor(inPanel).name().toStdString();
    EXPECT_TRUE(showsRed(shot, *place)) << "the tray kept the app's own icon";
}

const QByteArray kCompleted = R"({"onboardingStep": 4})";

// Up once its icon is in the tray: launching has finished, and the instance check long before.
bool upInTheTray(const RunningApp& app) {
    return waitUntil([&] { return trayIcon(app.pid()).has_value(); }, std::chrono::seconds(15));
}

bool settingsWindowShows() {
    return waitUntil([] { return !visibleWindows(settingsWindowSearch()).empty(); });
}

// A runtime folder of the test's own, where the launches keep the display's lock.
class LockFolder {
public:
    LockFolder() {
        EXPECT_TRUE(dir_.isValid());
        // Where the app puts the lock with this folder as its runtime folder.
        const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
        lock_ = SingleInstance::defaultLockPath();
        qputenv("XDG_RUNTIME_DIR", before);
        EXPECT_EQ(QFileInfo(lock_).path(), dir_.path());
    }
    void giveTo(RunningApp& app) const { app.setEnvironment(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path()); }
    QString lock() const { return lock_; }
    QString file(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private:
    QTemporaryDir dir_;
    QString lock_;
};

// A program on the app's bus name, in this process; made once the name is free (an app that ended lets it go
// without waiting for the bus).
std::unique_ptr<test::BusNameSquatter> holdTheName(test::BusNameSquatter::Kind kind) {
    EXPECT_TRUE(waitUntil([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QString::fromLatin1(velaroAppId));
    }));
    static int connections = 0;
    auto squatter = std::make_unique<test::BusNameSquatter>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                      QStringLiteral("launchtest-squatter%1").arg(++connections)),
        QString::fromLatin1(velaroAppId), SingleInstance::objectPath(), kind);
    EXPECT_TRUE(squatter->ownsName());
    return squatter;
}

QByteArray pidText(qint64 pid) {
    return "(pid " + QByteArray::number(pid);
}

// A Velaro without a session bus, so that only its lock, kept in `folder`, tells it runs; true once it is up.
bool startWithoutTheBus(RunningApp& app, const LockFolder& folder) {
    folder.giveTo(app);
    app.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    return app.start() && upInTheTray(app);
}

// Without a session bus only the display's lock keeps a second Velaro out, and every way of writing this
// machine's display names the one lock: with the screen number, "unix" for host or protocol. (The X library
// here takes no socket path for a display.)
TEST(LaunchTest, WithoutTheSessionBusEverySpellingOfTheDisplayFindsTheVelaroRunningOnIt) {
    VELARO_REQUIRE_DESKTOP();
    const QString display = qEnvironmentVariable("DISPLAY");
    ASSERT_TRUE(display.startsWith(QLatin1Char(':')) && !display.contains(QLatin1Char('.')))
        << display.toStdString();
    const QString number = display.mid(1);
    LockFolder folder;
    RunningApp first(kCompleted);
    ASSERT_TRUE(startWithoutTheBus(first, folder));
    for (const QString& spelling : {display + QStringLiteral(".0"), QStringLiteral("unix:") + number,
                                    QStringLiteral("unix/:") + number + QStringLiteral(".0")}) {
        SCOPED_TRACE(spelling.toStdString());
        QProcessEnvironment environment = first.environment();
        environment.insert(QStringLiteral("DISPLAY"), spelling);
        const auto second =
            run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(15), environment);
        EXPECT_TRUE(second.finished) << "a second Velaro runs on the display";
        EXPECT_NE(second.exitCode, 0) << second.describe().toStdString();
        EXPECT_TRUE(second.err.contains("already running on this display " + pidText(first.pid())))
            << second.describe().toStdString();
    }
    EXPECT_TRUE(first.running());
}

// A link or a file of another user in the lock's place that no live process holds, or a folder, tells of no
// running Velaro, even while a program that never answers holds the bus name: the app removes it (a folder
// it moves aside), starts, and holds the lock anew; the next launch finds it through the lock and hands over
// to it, not to the name's holder.
TEST(LaunchTest, WhatNoVelaroHoldsInTheLocksPlaceDoesNotKeepTheAppFromStartingBesideASilentNameHolder) {
    VELARO_REQUIRE_DESKTOP();
    std::vector<const char*> cases{"link", "folder"};
    if (::geteuid() == 0) cases.push_back("file of another user");  // only root can give a file away
    for (const char* what : cases) {
        SCOPED_TRACE(what);
        LockFolder folder;
        QFile target(folder.file("target"));
        ASSERT_TRUE(target.open(QIODevice::WriteOnly));
        target.write("the user's own file");
        target.close();
        if (QByteArray(what) == "link") {
            ASSERT_TRUE(QFile::link(target.fileName(), folder.lock()));
        } else if (QByteArray(what) == "folder") {
            ASSERT_TRUE(QDir().mkdir(folder.lock()));
            ASSERT_TRUE(QFile::rename(target.fileName(), folder.lock() + QStringLiteral("/target")));
        } else {
            ASSERT_TRUE(QFile::rename(target.fileName(), folder.lock()));
            ASSERT_EQ(::chown(QFile::encodeName(folder.lock()).constData(), 65534, 65534), 0);
        }
        const auto squatter = holdTheName(test::BusNameSquatter::Kind::neverAnswer);

        RunningApp first(kCompleted);
        folder.giveTo(first);
        ASSERT_TRUE(first.start(true));
        EXPECT_TRUE(upInTheTray(first)) << first.errorOutput().toStdString();
        ASSERT_TRUE(first.running()) << first.errorOutput().toStdString();
        EXPECT_TRUE(first.errorOutput().contains(QByteArray(what) == "folder"
                                                     ? "which no Velaro holds; moved it aside"
                                                     : "that no process holds; removed it"))
            << first.errorOutput().toStdString();
        if (QByteArray(what) == "folder") {
            QFile kept(folder.lock() + QStringLiteral(".aside-1/target"));
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), "the user's own file") << "what the folder held was lost";
        }
        if (QByteArray(what) == "link") {
            EXPECT_FALSE(QFileInfo(folder.lock()).isSymLink());
            ASSERT_TRUE(target.open(QIODevice::ReadOnly));
            EXPECT_EQ(target.readAll(), "the user's own file") << "the link's target was changed";
            target.close();
        }

        const auto second =
            run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20), first.environment());
        EXPECT_EQ(second.exitCode, 0) << second.describe().toStdString();
        EXPECT_TRUE(
            second.err.contains("handed the launch over to the running Velaro " + pidText(first.pid())))
            << second.describe().toStdString();
        EXPECT_TRUE(settingsWindowShows()) << "the running Velaro did not come forward";
        EXPECT_EQ(squatter->calls(), 0) << "the name's holder was asked";
        EXPECT_TRUE(first.running());
    }
}

// What a running Velaro holds stays its lock, whatever stands in the lock's place (here its lock file made a
// link to where it went, or given to another user): a launch beside a silent holder of the bus name says that
// Velaro runs on this display and which process it is, and why it cannot come forward; not that it hangs.
TEST(LaunchTest, WhatARunningVelaroHoldsInTheLocksPlaceKeepsASecondOutAndTheLaunchSaysWhy) {
    VELARO_REQUIRE_DESKTOP();
    LockFolder folder;
    RunningApp first(kCompleted);
    ASSERT_TRUE(startWithoutTheBus(first, folder));
    const auto squatter = holdTheName(test::BusNameSquatter::Kind::neverAnswer);
    QProcessEnvironment environment = first.environment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));

    std::vector<const char*> cases{"link"};
    if (::geteuid() == 0) cases.push_back("file of another user");
    for (const char* what : cases) {
        SCOPED_TRACE(what);
        const QString moved = folder.file("moved.lock");
        if (QByteArray(what) == "link") {
            ASSERT_TRUE(QFile::rename(folder.lock(), moved));
            ASSERT_TRUE(QFile::link(moved, folder.lock()));
        } else {
            ASSERT_EQ(::chown(QFile::encodeName(folder.lock()).constData(), 65534, 65534), 0);
        }
        const auto second =
            run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20), environment);
        EXPECT_NE(second.exitCode, 0) << second.describe().toStdString();
        EXPECT_TRUE(second.err.contains("already running on this display " + pidText(first.pid())))
            << second.describe().toStdString();
        EXPECT_TRUE(second.err.contains("is not on the session bus")) << second.describe().toStdString();
        EXPECT_FALSE(second.err.contains("hung")) << second.describe().toStdString();
        if (QByteArray(what) == "link") {
            EXPECT_TRUE(QFileInfo(folder.lock()).isSymLink()) << "what a running Velaro holds was removed";
            ASSERT_TRUE(QFile::remove(folder.lock()));
            ASSERT_TRUE(QFile::rename(moved, folder.lock()));
        }
    }
    EXPECT_TRUE(first.running());
}

// A program on the bus name that answers "reopen" as Velaro would (a Velaro of another display, where
// sessions share one bus, does) while this display's lock is free: the app starts all the same, saying which
// process holds the name; a later launch hands over to it, not to the name's holder, and says to which
// process.
TEST(LaunchTest, ANameHolderThatAnswersAsVelaroDoesNotStandInForAVelaroOnThisDisplay) {
    VELARO_REQUIRE_DESKTOP();
    const auto squatter = holdTheName(test::BusNameSquatter::Kind::answerWithTheName);
    LockFolder folder;
    RunningApp first(kCompleted);
    folder.giveTo(first);
    ASSERT_TRUE(first.start(true));
    EXPECT_TRUE(upInTheTray(first)) << first.errorOutput().toStdString();
    ASSERT_TRUE(first.running()) << first.errorOutput().toStdString();
    EXPECT_TRUE(first.errorOutput().contains("is held by another program " +
                                             pidText(QCoreApplication::applicationPid())))
        << first.errorOutput().toStdString();
    EXPECT_TRUE(first.errorOutput().contains("no Velaro runs on this display"))
        << first.errorOutput().toStdString();

    const auto second =
        run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20), first.environment());
    EXPECT_EQ(second.exitCode, 0) << second.describe().toStdString();
    EXPECT_TRUE(second.err.contains("handed the launch over to the running Velaro " + pidText(first.pid())))
        << second.describe().toStdString();
    EXPECT_TRUE(settingsWindowShows()) << "the running Velaro did not come forward";
    EXPECT_EQ(squatter->calls(), 0) << "the name's holder was asked";
}

}  // namespace
}  // namespace velaro::e2e
