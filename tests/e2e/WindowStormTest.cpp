// The app through a storm of window changes from another client (velaro-window-storm: thousands of unmapped
// windows, hundreds of rewrites of the root's client list a few milliseconds apart while listed windows are
// destroyed and made): it answers its bus and its shortcut meanwhile, and ends cleanly and promptly on SIGTERM
// in the middle of the storm.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <QTemporaryDir>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "app/SingleInstance.h"
#include "e2e/E2eSupport.h"
#include "e2e/RunningApp.h"

namespace velaro::e2e {
namespace {

using namespace std::chrono_literals;

// Ctrl+Alt+M switches the master switch; the settings file shows each press.
const QByteArray kSettings = R"({"onboardingStep": 4, "masterEnabled": true, "appShortcuts": {"$data": ")" +
                             QByteArray(R"({"assignments":{"master":{"carbonModifiers":6144,"keyCode":46}}})")
                                 .toBase64() +
                             R"("}})";

// The storm tool, its windows made; storm() starts the rewrites and returns as the first goes out.
class Storm {
public:
    Storm() {
        process_.start(binDir() + QStringLiteral("/velaro-window-storm"), {QStringLiteral("--wait")});
        ready_ = process_.waitForStarted(5000) && lineIs("ready", 30s);
    }
    ~Storm() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(30000)) process_.kill();
    }
    explicit operator bool() const { return ready_; }
    bool storm() {
        process_.write("go\n");
        return lineIs("storm", 10s);
    }

private:
    bool lineIs(const char* expected, std::chrono::milliseconds within) {
        if (!waitUntil([&] { return process_.canReadLine(); }, within)) return false;
        return process_.readLine().trimmed() == expected;
    }

    QProcess process_;
    bool ready_ = false;
};

std::optional<bool> masterEnabled(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonValue v = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("masterEnabled"));
    return v.isBool() ? std::optional<bool>(v.toBool()) : std::nullopt;
}

// Milliseconds the app took to answer "reopen" on the session bus, or -1 without an answer within 2 s.
qint64 reopenAnswer() {
    QElapsedTimer took;
    took.start();
    const auto call = QDBusMessage::createMethodCall(QString::fromLatin1(SingleInstance::serviceName),
                                                     SingleInstance::objectPath(),
                                                     QString::fromLatin1(SingleInstance::serviceName),
                                                     QStringLiteral("reopen"));
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, 2000));
    if (!waitUntil([&] { return watcher.isFinished(); }, 3s) || watcher.isError()) return -1;
    return took.elapsed();
}

// Milliseconds from typing the shortcut to the settings file showing the master switch flipped, or -1.
qint64 shortcutAnswer(const RunningApp& app) {
    const auto before = masterEnabled(app.settingsPath());
    QElapsedTimer took;
    took.start();
    if (run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+m")}).exitCode != 0)
        return -1;
    if (!waitUntil([&] { return masterEnabled(app.settingsPath()).value_or(*before) != *before; }, 3s))
        return -1;
    return took.elapsed();
}

// What the app answered during one storm, and how long its end took after SIGTERM in the middle of it (each
// in milliseconds, -1 for no answer). The app is checked to leave cleanly: no crash, exit status 0.
struct StormRound {
    qint64 reopen = -1, shortcut = -1, end = -1;
};

StormRound throughAStorm() {
    Storm storm;
    EXPECT_TRUE(storm) << "the storm tool did not make its windows";
    if (!storm) return {};
    RunningApp app(kSettings);
    // Timed without the leak scan a checked build makes on its way out, as the app's other SIGTERM tests are.
    const QString sanitizer = qEnvironmentVariable("LSAN_OPTIONS");
    app.setEnvironment(QStringLiteral("LSAN_OPTIONS"),
                       (sanitizer.isEmpty() ? QString() : sanitizer + ':') + QStringLiteral("detect_leaks=0"));
    EXPECT_TRUE(app.start());
    // Up: it serves its bus name, and has written the launch's settings (after its first band).
    const bool up = waitUntil([] { return reopenAnswer() >= 0; }, 20s) &&
                    waitUntil(
                        [&] {
                            QFile file(app.settingsPath());
                            return file.open(QIODevice::ReadOnly) && file.readAll() != kSettings;
                        },
                        20s);
    EXPECT_TRUE(up) << "the app never answered on the bus or never wrote its settings";
    // Settled: the shortcut is answered before the storm.
    const bool settled = up && shortcutAnswer(app) >= 0;
    EXPECT_TRUE(settled) << "the shortcut did nothing before the storm";
    if (!settled || !storm.storm()) return {};
    StormRound round;
    round.reopen = reopenAnswer();
    round.shortcut = shortcutAnswer(app);
    round.end = app.endTimed(3s);
    std::printf("during the storm: reopen answered in %lld ms, the shortcut saved in %lld ms, SIGTERM ended "
                "the app in %lld ms\n",
                (long long)round.reopen, (long long)round.shortcut, (long long)round.end);
    return round;
}

// The storm once ended the app with a double free, or after several seconds, and held its main loop on the
// server for seconds: the bus is answered at once, the shortcut gets through, and the end is clean and prompt.
TEST(WindowStormTest, TheAppAnswersItsBusThroughAStormOfListedWindowsAndEndsCleanly) {
    VELARO_REQUIRE_DESKTOP();
    const StormRound round = throughAStorm();
    EXPECT_TRUE(round.reopen >= 0 && round.reopen < 500) << "reopen answered in " << round.reopen << " ms";
    EXPECT_GE(round.shortcut, 0) << "the shortcut was not saved within 3 s";
    EXPECT_GE(round.end, 0) << "SIGTERM did not end the app within 3 s";
}

// The bare Qt app (velaro-bare-strip) beside the app, grabbing Ctrl+Alt+N: a strip window, a shortcut that
// writes a file, and SIGTERM through its loop, with nothing of the app's own.
class BareApp {
public:
    BareApp() {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));  // not the tests' own
        process_.setProcessEnvironment(environment);
        process_.start(binDir() + QStringLiteral("/velaro-bare-strip"), {state(), QStringLiteral("n")});
        up_ = process_.waitForStarted(5000) && waitUntil([&] { return masterEnabled(state()).has_value(); }, 20s);
    }
    ~BareApp() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(3000);
    }
    explicit operator bool() const { return up_; }
    QString state() const { return dir_.filePath(QStringLiteral("state.json")); }
    qint64 pid() const { return process_.processId(); }

private:
    QTemporaryDir dir_;
    QProcess process_;
    bool up_ = false;
};

struct SideBySide {
    qint64 app = -1, bare = -1;
};

// Milliseconds from typing both shortcuts (the bare app's first) until each file shows its switch flipped.
SideBySide shortcutsSideBySide(const RunningApp& app, const BareApp& bare) {
    const auto appBefore = masterEnabled(app.settingsPath()), bareBefore = masterEnabled(bare.state());
    if (!appBefore || !bareBefore) return {};
    SideBySide took;
    QElapsedTimer since;
    since.start();
    if (run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+n"),
                                        QStringLiteral("ctrl+alt+m")})
            .exitCode != 0)
        return {};
    waitUntil(
        [&] {
            if (took.app < 0 && masterEnabled(app.settingsPath()).value_or(*appBefore) != *appBefore)
                took.app = since.elapsed();
            if (took.bare < 0 && masterEnabled(bare.state()).value_or(*bareBefore) != *bareBefore)
                took.bare = since.elapsed();
            return took.app >= 0 && took.bare >= 0;
        },
        3s);
    return took;
}

// SIGTERM to both at one moment: the milliseconds each took to end, -1 past 3 s.
SideBySide endsSideBySide(qint64 appPid, qint64 barePid) {
    // A process's descriptor is readable once it ended, whoever reaps it.
    const auto descriptor = [](qint64 pid) { return int(::syscall(SYS_pidfd_open, pid_t(pid), 0)); };
    const int ends[2] = {descriptor(appPid), descriptor(barePid)};
    SideBySide took;
    if (ends[0] >= 0 && ends[1] >= 0) {
        QElapsedTimer since;
        since.start();
        ::kill(pid_t(barePid), SIGTERM);
        ::kill(pid_t(appPid), SIGTERM);
        while (since.elapsed() < 3000 && (took.app < 0 || took.bare < 0)) {
            pollfd gone[2] = {{ends[0], POLLIN, 0}, {ends[1], POLLIN, 0}};
            ::poll(gone, 2, 5);
            if (took.app < 0 && (gone[0].revents & POLLIN)) took.app = since.elapsed();
            if (took.bare < 0 && (gone[1].revents & POLLIN)) took.bare = since.elapsed();
        }
    }
    for (const int end : ends)
        if (end >= 0) ::close(end);
    return took;
}

// The same storm with the bare Qt app beside the app: the bus answered within half a second, and the shortcut
// and the end as prompt as the bare app's (within 0.1 s and 0.3 s), since the storm holds up the server's
// answers to every client alike. The app once named thousands of programs on its main loop, and its readers
// polled the busy server, so that its end and its shortcut came seconds after the bare app's.
TEST(WindowStormTest, TheAppAnswersThroughAStormAndEndsAsPromptlyAsABareQtAppBesideIt) {
    VELARO_REQUIRE_DESKTOP();
    Storm storm;
    ASSERT_TRUE(storm) << "the storm tool did not make its windows";
    RunningApp app(kSettings);
    const QString sanitizer = qEnvironmentVariable("LSAN_OPTIONS");
    app.setEnvironment(QStringLiteral("LSAN_OPTIONS"),
                       (sanitizer.isEmpty() ? QString() : sanitizer + ':') + QStringLiteral("detect_leaks=0"));
    ASSERT_TRUE(app.start());
    BareApp bare;
    ASSERT_TRUE(bare) << "the bare app never wrote its state";
    ASSERT_TRUE(waitUntil([] { return reopenAnswer() >= 0; }, 20s)) << "the app never answered on the bus";
    ASSERT_TRUE(waitUntil([&] { return masterEnabled(app.settingsPath()).has_value(); }, 20s));
    const SideBySide settled = shortcutsSideBySide(app, bare);
    ASSERT_TRUE(settled.app >= 0 && settled.bare >= 0) << "a shortcut did nothing before the storm";
    ASSERT_TRUE(storm.storm());

    const qint64 reopen = reopenAnswer();
    const SideBySide shortcut = shortcutsSideBySide(app, bare);
    const SideBySide end = endsSideBySide(app.pid(), bare.pid());
    std::printf("during the storm (the app / the bare Qt app): shortcut saved in %lld / %lld ms, reopen answered "
                "in %lld ms, SIGTERM ended them in %lld / %lld ms\n",
                (long long)shortcut.app, (long long)shortcut.bare, (long long)reopen, (long long)end.app,
                (long long)end.bare);
    EXPECT_TRUE(reopen >= 0 && reopen < 500) << "reopen answered in " << reopen << " ms";
#if defined(__SANITIZE_ADDRESS__)
    // The checked build's own work runs several times slower: its way out (every destructor and free checked)
    // takes from half a second to two on a busy machine, against the bare app's tenth, and its shortcut
    // comes up to a quarter of a second after the bare app's there. It is held to a clean end and a shortcut
    // within a second of the bare app's; scripts/window-storm --bare times the optimised build against the
    // same bare app.
    EXPECT_TRUE(shortcut.app >= 0 && shortcut.bare >= 0 && shortcut.app <= shortcut.bare + 1000);
    EXPECT_TRUE(end.app >= 0 && end.bare >= 0);
#else
    EXPECT_TRUE(shortcut.app >= 0 && shortcut.bare >= 0 && shortcut.app <= shortcut.bare + 100);
    EXPECT_TRUE(end.app >= 0 && end.bare >= 0 && end.app <= end.bare + 300);
#endif
    // Reaps the app and checks it left cleanly.
    EXPECT_GE(app.endTimed(3s), 0);
}

}  // namespace
}  // namespace velaro::e2e
